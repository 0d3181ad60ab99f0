#pragma once

// Plain, slow restatements of the number and entity rules, written apart
// from the library so the fuzz targets can compare the two on any input.

#include <QChar>

#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

inline int DigitValue(char16_t u, bool hex) {
  if (u >= u'0' && u <= u'9')
    return u - u'0';
  if (hex && u >= u'a' && u <= u'f')
    return u - u'a' + 10;
  if (hex && u >= u'A' && u <= u'F')
    return u - u'A' + 10;
  return -1;
}

// Two scans: count the digits, then weigh each by its place; places past
// the last 8 (hex) or 10 (decimal) digits count 0; 32-bit wrap-around.
inline int32_t ParseNumberOracle(std::u16string_view text, bool hex) {
  int32_t digits = 0;
  for (char16_t u : text) {
    if (u == u'.' || (u == u' ' && digits > 0))
      break;
    if (DigitValue(u, hex) >= 0)
      ++digits;
  }
  uint32_t sum = 0;
  int32_t left = digits;
  for (char16_t u : text) {
    if (u == u'.' || (u == u' ' && left == 0))
      break;
    const int v = DigitValue(u, hex);
    if (v < 0)
      continue;
    const int32_t k = left - 1;
    uint32_t place = 0;
    if (k >= 0 && k <= (hex ? 7 : 9)) {
      place = 1;
      for (int32_t e = 0; e < k; ++e)
        place *= hex ? 16u : 10u;
    }
    sum += uint32_t(v) * place;
    --left;
  }
  return static_cast<int32_t>(sum);
}

inline std::u16string_view ToFirstNul(std::u16string_view s) {
  const size_t nul = s.find(char16_t(0));
  return nul == std::u16string_view::npos ? s : s.substr(0, nul);
}

inline std::u16string DecodeOracle(std::u16string_view source) {
  const std::u16string_view src = ToFirstNul(source);
  static constexpr struct {
    std::u16string_view form;
    char16_t produced;
  } kNamed[] = {{u"&lt;", u'<'},
                {u"&gt;", u'>'},
                {u"&amp;", u'&'},
                {u"&quot;", u'"'},
                {u"&apos;", u'\''}};
  std::u16string out;
  size_t i = 0;
  const size_t n = src.size();
  while (i < n) {
    if (src[i] != u'&') {
      out.push_back(src[i++]);
      continue;
    }
    bool named = false;
    for (const auto &e : kNamed) {
      if (src.substr(i, e.form.size()) == e.form) {
        out.push_back(e.produced);
        i += e.form.size();
        named = true;
        break;
      }
    }
    if (named)
      continue;
    if (i + 7 < n && src[i + 1] == u'#' && src[i + 2] == u'x' &&
        src[i + 7] == u';') {
      out.push_back(char16_t(ParseNumberOracle(src.substr(i + 3, 4), true)));
      i += 8;
      continue;
    }
    out.push_back(u'&');
    ++i;
  }
  return std::u16string(ToFirstNul(out));
}

// The simple lower-case mapping: Qt's, but for the capital I with dot
// above, whose simple mapping Qt leaves out.
inline char16_t Lower(char16_t u) {
  return u == 0x0130 ? u'i' : QChar(u).toLower().unicode();
}

// Whether `label`, lower-cased unit by unit, contains `term` lower-cased the
// same way; an empty term is contained nowhere.
inline bool ContainsFolded(std::u16string_view label,
                           std::u16string_view term) {
  if (term.empty() || term.size() > label.size())
    return false;
  for (size_t p = 0; p + term.size() <= label.size(); ++p) {
    size_t k = 0;
    while (k < term.size() && Lower(label[p + k]) == Lower(term[k]))
      ++k;
    if (k == term.size())
      return true;
  }
  return false;
}

} // namespace fuzz
