#include "platform/FileName.h"

#include "platform/Utf8.h"

#include <cstdint>

namespace platform {

QString DecodeFileName(const QByteArray &bytes) {
  const auto *s = reinterpret_cast<const unsigned char *>(bytes.constData());
  const qsizetype n = bytes.size();
  QString out;
  out.reserve(n);
  for (qsizetype i = 0; i < n;) {
    const Utf8Step step = ReadUtf8(s, std::size_t(i), std::size_t(n));
    if (!step.whole) {
      out.append(QChar(static_cast<char16_t>(0xDC00 + s[i++])));
    } else if (step.c >= 0x10000) {
      out.append(
          QChar(static_cast<char16_t>(0xD800 + ((step.c - 0x10000) >> 10))));
      out.append(
          QChar(static_cast<char16_t>(0xDC00 + ((step.c - 0x10000) & 0x3FF))));
      i += step.length;
    } else {
      out.append(QChar(static_cast<char16_t>(step.c)));
      i += step.length;
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
