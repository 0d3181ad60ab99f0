#include "package/MemberNames.h"

#include "platform/Utf8.h"

#include <array>

namespace package {

namespace {

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}

bool IsAsciiLetter(char16_t c) {
  const char16_t lower = AsciiLower(c);
  return lower >= u'a' && lower <= u'z';
}

bool EndsWithIgnoringCase(std::u16string_view name, std::u16string_view tail) {
  if (name.size() < tail.size())
    return false;
  name.remove_prefix(name.size() - tail.size());
  for (size_t i = 0; i < tail.size(); ++i)
    if (AsciiLower(name[i]) != tail[i])
      return false;
  return true;
}

// The upper half of code page 437; the lower half is ASCII.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, //
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0, //
};

void AppendUtf16(std::u16string &out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(char16_t(c));
  } else {
    c -= 0x10000;
    out.push_back(char16_t(0xD800 + (c >> 10)));
    out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
  }
}

// Each maximal piece that breaks off a well-formed sequence is one U+FFFD,
// and decoding goes on at the byte that broke it.
void DecodeUtf8(std::string_view raw, std::u16string &out) {
  const auto *s = reinterpret_cast<const unsigned char *>(raw.data());
  for (size_t i = 0; i < raw.size();) {
    const platform::Utf8Step step = platform::ReadUtf8(s, i, raw.size());
    if (step.whole)
      AppendUtf16(out, step.c);
    else
      out.push_back(u'\uFFFD');
    i += size_t(step.length);
  }
}

} // namespace

MemberKind KindOfName(std::u16string_view name) {
  if (EndsWithIgnoringCase(name, u".xml") ||
      EndsWithIgnoringCase(name, u".odx"))
    return MemberKind::Document;
  size_t letters = 0;
  while (letters < name.size() &&
         IsAsciiLetter(name[name.size() - 1 - letters]))
    ++letters;
  if (letters > 0 &&
      EndsWithIgnoringCase(name.substr(0, name.size() - letters), u".odx-"))
    return MemberKind::Document;
  return MemberKind::Other;
}

std::u16string DecodeName(std::string_view raw, NameEncoding encoding) {
  std::u16string out;
  out.reserve(raw.size());
  if (encoding == NameEncoding::Utf8) {
    DecodeUtf8(raw, out);
    return out;
  }
  for (const char ch : raw) {
    const auto b = static_cast<unsigned char>(ch);
    out.push_back(b < 0x80 ? char16_t(b) : kCp437High[b - 0x80]);
  }
  return out;
}

} // namespace package
