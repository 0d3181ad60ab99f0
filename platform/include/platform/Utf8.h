#pragma once

#include <cstddef>

namespace platform {

// One code point as UTF-8, onto anything with push_back(char): the file
// names and the command line's output both write it.
template <typename Out> void AppendUtf8(Out &out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// One step of reading UTF-8 at s[i] (i < n) by the table of well-formed
// sequences: no overlong forms, no encoded surrogates, nothing above
// U+10FFFF.  `length` counts the bytes, at least one, that fit the table
// before it broke off; `whole` says they make the character `c`.  What an
// ill-formed piece becomes is each caller's own rule: file names, texts and
// package member names differ there.
struct Utf8Step {
  int length;
  bool whole;
  char32_t c;
};

inline Utf8Step ReadUtf8(const unsigned char *s, std::size_t i, std::size_t n) {
  const unsigned b = s[i];
  if (b < 0x80)
    return {1, true, b};
  int length = 0;
  char32_t c = 0;
  unsigned low = 0x80, high = 0xBF; // the second byte's range
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
    c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    c = b & 0x0F;
    low = b == 0xE0 ? 0xA0 : 0x80;
    high = b == 0xED ? 0x9F : 0xBF;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    c = b & 0x07;
    low = b == 0xF0 ? 0x90 : 0x80;
    high = b == 0xF4 ? 0x8F : 0xBF;
  } else {
    return {1, false, b};
  }
  int k = 1;
  for (; k < length && i + k < n; ++k) {
    const unsigned next = s[i + k];
    if (next < low || next > high)
      break;
    c = (c << 6) | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {k, k == length, c};
}

} // namespace platform
