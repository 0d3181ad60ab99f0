#include "platform/FileName.h"

#include "platform/Utf8.h"

#include <cstdint>

namespace platform {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF are not valid).
int ValidSequence(const unsigned char *s, qsizetype i, qsizetype n,
                  char32_t &c) {
  const unsigned char b = s[i];
  int len = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    c = b & 0x07;
  } else {
    return 0;
  }
  if (i + len > n)
    return 0;
  for (int k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80)
      return 0;
    c = (c << 6) | (s[i + k] & 0x3F);
  }
  if ((len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
      (len == 4 && (c < 0x10000 || c > 0x10FFFF)))
    return 0;
  return len;
}

} // namespace

QString DecodeFileName(const QByteArray &bytes) {
  const auto *s = reinterpret_cast<const unsigned char *>(bytes.constData());
  const qsizetype n = bytes.size();
  QString out;
  out.reserve(n);
  for (qsizetype i = 0; i < n;) {
    char32_t c = 0;
    if (s[i] < 0x80) {
      out.append(QChar(s[i++]));
    } else if (const int len = ValidSequence(s, i, n, c)) {
      if (c >= 0x10000) {
        out.append(
            QChar(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10))));
        out.append(
            QChar(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF))));
      } else {
        out.append(QChar(static_cast<char16_t>(c)));
      }
      i += len;
    } else {
      out.append(QChar(static_cast<char16_t>(0xDC00 + s[i++])));
    }
  }
  return out;
}

QByteArray EncodeFileName(std::u16string_view name) {
  QByteArray out;
  out.reserve(static_cast<qsizetype>(name.size()));
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t u = name[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < name.size() &&
        name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) +
                          (char32_t(name[++i]) - 0xDC00));
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      out.append(static_cast<char>(u & 0xFF)); // an escaped raw byte
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.append('?'); // any other lone surrogate names nothing on disk
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

QByteArray EncodeFileName(const QString &name) {
  return EncodeFileName(
      std::u16string_view(reinterpret_cast<const char16_t *>(name.utf16()),
                          static_cast<std::size_t>(name.size())));
}

} // namespace platform
