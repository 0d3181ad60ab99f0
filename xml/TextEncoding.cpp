#include "xml/TextEncoding.h"

#include "platform/Utf8.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace xml {

namespace {

bool StartsWith(std::span<const unsigned char> bytes,
                std::initializer_list<unsigned char> prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) {
             return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
           };
           return lower(x) == lower(y);
         });
}

Encoding ByName(std::string_view name) {
  for (std::string_view latin1 :
       {"ISO-8859-1", "ISO8859-1", "ISO_8859-1", "LATIN1", "LATIN-1"})
    if (EqualsIgnoringAsciiCase(name, latin1))
      return Encoding::Latin1;
  for (std::string_view cp1252 : {"WINDOWS-1252", "CP1252"})
    if (EqualsIgnoringAsciiCase(name, cp1252))
      return Encoding::Windows1252;
  return Encoding::Utf8;
}

// The encoding named in the declaration `decl` (the text before its first
// "?>"): the first "encoding", white space, '=', white space and a quoted
// name that all lie within it.
Encoding DeclaredEncoding(std::string_view decl) {
  constexpr std::string_view kKey = "encoding";
  for (std::size_t at = decl.find(kKey); at != std::string_view::npos;
       at = decl.find(kKey, at + 1)) {
    std::size_t i = at + kKey.size();
    auto skipSpace = [&] {
      while (i < decl.size() && IsSpace(static_cast<unsigned char>(decl[i])))
        ++i;
    };
    skipSpace();
    if (i >= decl.size() || decl[i] != '=')
      continue;
    ++i;
    skipSpace();
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\''))
      continue;
    const std::size_t close = decl.find(decl[i], i + 1);
    if (close == std::string_view::npos)
      continue;
    return ByName(decl.substr(i + 1, close - i - 1));
  }
  return Encoding::Utf8;
}

// 0x80..0x9F of Windows-1252; 0 marks the five unassigned bytes.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

int Utf8Length(char32_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

unsigned char *PutUtf8(unsigned char *out, char32_t c) {
  switch (Utf8Length(c)) {
  case 1:
    *out++ = static_cast<unsigned char>(c);
    break;
  case 2:
    *out++ = static_cast<unsigned char>(0xC0 | (c >> 6));
    *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    break;
  case 3:
    *out++ = static_cast<unsigned char>(0xE0 | (c >> 12));
    *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    break;
  default:
    *out++ = static_cast<unsigned char>(0xF0 | (c >> 18));
    *out++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    break;
  }
  return out;
}

// Walks the code points of a UTF-16 or UTF-32 document (after its mark),
// replacing what is not a character by U+FFFD.
template <typename Visit>
void ForEachCodePoint(Encoding encoding, const unsigned char *p, std::size_t n,
                      Visit visit) {
  const bool big =
      encoding == Encoding::Utf16BE || encoding == Encoding::Utf32BE;
  if (encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE) {
    auto unit = [&](std::size_t i) {
      return big ? char32_t(p[i] << 8 | p[i + 1])
                 : char32_t(p[i + 1] << 8 | p[i]);
    };
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
      const char32_t u = unit(i);
      if (u >= 0xD800 && u <= 0xDBFF && i + 4 <= n) {
        const char32_t lo = unit(i + 2);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          visit(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
          i += 2;
          continue;
        }
      }
      visit(u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
    }
    if (i < n)
      visit(kReplacement);
    return;
  }
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const char32_t u = big ? char32_t(p[i]) << 24 | char32_t(p[i + 1]) << 16 |
                                 char32_t(p[i + 2]) << 8 | p[i + 3]
                           : char32_t(p[i + 3]) << 24 |
                                 char32_t(p[i + 2]) << 16 |
                                 char32_t(p[i + 1]) << 8 | p[i];
    visit((u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF ? kReplacement : u);
  }
  if (i < n)
    visit(kReplacement);
}

std::size_t MarkLength(Encoding encoding, std::span<const unsigned char> b) {
  switch (encoding) {
  case Encoding::Utf32LE:
    return StartsWith(b, {0xFF, 0xFE, 0, 0}) ? 4 : 0;
  case Encoding::Utf32BE:
    return StartsWith(b, {0, 0, 0xFE, 0xFF}) ? 4 : 0;
  case Encoding::Utf16LE:
    return StartsWith(b, {0xFF, 0xFE}) ? 2 : 0;
  case Encoding::Utf16BE:
    return StartsWith(b, {0xFE, 0xFF}) ? 2 : 0;
  default:
    return 0;
  }
}

} // namespace

Encoding DetectEncoding(std::span<const unsigned char> bytes) {
  if (StartsWith(bytes, {0xFF, 0xFE, 0, 0}) ||
      StartsWith(bytes, {'<', 0, 0, 0}))
    return Encoding::Utf32LE;
  if (StartsWith(bytes, {0, 0, 0xFE, 0xFF}) ||
      StartsWith(bytes, {0, 0, 0, '<'}))
    return Encoding::Utf32BE;
  // Without a mark, a document still starts with '<': whatever follows it
  // (a declaration, a comment, an element), its zero bytes give the width.
  if (StartsWith(bytes, {0xFF, 0xFE}) ||
      (bytes.size() >= 4 && bytes[0] == '<' && bytes[1] == 0 && bytes[3] == 0))
    return Encoding::Utf16LE;
  if (StartsWith(bytes, {0xFE, 0xFF}) ||
      (bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == '<' && bytes[2] == 0))
    return Encoding::Utf16BE;

  const std::string_view head(reinterpret_cast<const char *>(bytes.data()),
                              std::min<std::size_t>(bytes.size(), 1024));
  const std::size_t start = head.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  if (!head.substr(start).starts_with("<?xml"))
    return Encoding::Utf8;
  const std::size_t end = head.find("?>");
  if (end == std::string_view::npos)
    return Encoding::Utf8;
  return DeclaredEncoding(head.substr(0, end));
}

bool IsWide(Encoding encoding) {
  return encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE ||
         encoding == Encoding::Utf32LE || encoding == Encoding::Utf32BE;
}

bool ConvertToUtf8(Encoding encoding,
                   cvexDynamicArrayTemplate<unsigned char> &bytes) {
  if (!IsWide(encoding))
    return true;
  const std::span<const unsigned char> in(
      bytes.data, static_cast<std::size_t>(bytes.count));
  const std::size_t mark = MarkLength(encoding, in);
  const unsigned char *p = in.data() + mark;
  const std::size_t n = in.size() - mark;

  // Measured first, so the result is allocated once at its exact size.
  uint64_t size = 0;
  ForEachCodePoint(encoding, p, n,
                   [&](char32_t c) { size += uint64_t(Utf8Length(c)); });
  if (size > uint64_t(std::numeric_limits<int32_t>::max()))
    return false;
  cvexDynamicArrayTemplate<unsigned char> utf8;
  utf8.Resize(static_cast<int32_t>(size), false);
  unsigned char *out = utf8.data;
  ForEachCodePoint(encoding, p, n, [&](char32_t c) { out = PutUtf8(out, c); });
  std::swap(bytes.data, utf8.data);
  std::swap(bytes.count, utf8.count);
  return true;
}

std::size_t WideToUtf8::Convert(const unsigned char *in, std::size_t n,
                                bool last, unsigned char *out, std::size_t room,
                                std::size_t &used) {
  std::size_t i = 0;
  if (!started_) {
    // The mark needs its whole length to be told from text.
    const std::size_t markBytes =
        encoding_ == Encoding::Utf32LE || encoding_ == Encoding::Utf32BE ? 4
                                                                         : 2;
    if (n < markBytes && !last) {
      used = 0;
      return 0;
    }
    i = MarkLength(encoding_, {in, n});
    started_ = true;
  }
  const bool big =
      encoding_ == Encoding::Utf16BE || encoding_ == Encoding::Utf32BE;
  unsigned char *const start = out;
  unsigned char *const end = out + room;
  if (encoding_ == Encoding::Utf16LE || encoding_ == Encoding::Utf16BE) {
    auto unit = [&](std::size_t k) {
      return big ? char32_t(in[k] << 8 | in[k + 1])
                 : char32_t(in[k + 1] << 8 | in[k]);
    };
    while (end - out >= 4) {
      const std::size_t rest = n - i;
      if (rest >= 2) {
        const char32_t u = unit(i);
        if (u < 0x80) { // most of a document
          *out++ = static_cast<unsigned char>(u);
          i += 2;
          continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
          if (rest < 4 && !last)
            break; // the low half may follow in the next piece
          if (rest >= 4) {
            const char32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
              out =
                  PutUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
              i += 4;
              continue;
            }
          }
        }
        out = PutUtf8(out, u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
        i += 2;
      } else if (rest == 1 && last) {
        out = PutUtf8(out, kReplacement);
        i = n;
      } else {
        break;
      }
    }
  } else {
    while (end - out >= 4) {
      const std::size_t rest = n - i;
      if (rest >= 4) {
        const char32_t u =
            big ? char32_t(in[i]) << 24 | char32_t(in[i + 1]) << 16 |
                      char32_t(in[i + 2]) << 8 | in[i + 3]
                : char32_t(in[i + 3]) << 24 | char32_t(in[i + 2]) << 16 |
                      char32_t(in[i + 1]) << 8 | in[i];
        out = PutUtf8(out, (u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF
                               ? kReplacement
                               : u);
        i += 4;
      } else if (rest > 0 && last) {
        out = PutUtf8(out, kReplacement);
        i = n;
      } else {
        break;
      }
    }
  }
  used = i;
  return static_cast<std::size_t>(out - start);
}

int32_t DecodeText(Encoding encoding, const unsigned char *in, int32_t n,
                   char16_t *out) {
  if (encoding == Encoding::Windows1252) {
    for (int32_t i = 0; i < n; ++i) {
      const unsigned char b = in[i];
      const char16_t mapped = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : 0;
      out[i] = mapped ? mapped : char16_t{b};
    }
    return n;
  }
  if (encoding != Encoding::Utf8) {
    for (int32_t i = 0; i < n; ++i)
      out[i] = in[i];
    return n;
  }
  int32_t j = 0;
  for (int32_t i = 0; i < n;) {
    const unsigned char b = in[i];
    if (b < 0x80) {
      out[j++] = b;
      ++i;
      continue;
    }
    const platform::Utf8Step step =
        platform::ReadUtf8(in, std::size_t(i), std::size_t(n));
    if (!step.whole) {
      out[j++] = b; // not the start of a well-formed sequence
      ++i;
    } else if (step.c >= 0x10000) {
      out[j++] = char16_t(0xD800 + ((step.c - 0x10000) >> 10));
      out[j++] = char16_t(0xDC00 + ((step.c - 0x10000) & 0x3FF));
      i += step.length;
    } else {
      out[j++] = char16_t(step.c);
      i += step.length;
    }
  }
  return j;
}

} // namespace xml
