#pragma once

// The scans under the attribute reader and the label splitter, over the
// units of either storage.  `Padded` scans may load up to 15 units past the
// end, which the store allows for its narrow labels (kNarrowLabelSlack);
// views made elsewhere are scanned unit by unit.

#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"

#include <array>
#include <bit>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace odx::detail {

// What a unit is to the attribute reader, by table: white space, '=', or
// anything else (every unit above 0xFF).
enum : unsigned char { kOtherUnit = 0, kSpaceUnit = 1, kEqualsUnit = 2 };
inline constexpr auto kAttributeUnits = [] {
  std::array<unsigned char, 256> t{};
  t[' '] = t['\t'] = t['\r'] = t['\n'] = kSpaceUnit;
  t['='] = kEqualsUnit;
  return t;
}();
template <typename Unit> unsigned char AttributeUnit(Unit u) {
  if constexpr (sizeof(Unit) == 1)
    return kAttributeUnits[u];
  else
    return u < 256 ? kAttributeUnits[u]
                   : static_cast<unsigned char>(kOtherUnit);
}

inline bool IsAttributeSpace(char16_t u) {
  return u == u' ' || u == u'\t' || u == u'\r' || u == u'\n';
}

// The first `u` at or after `from`; n when there is none.
template <bool Padded, typename Unit>
uint32_t FindUnit(const Unit *p, uint32_t from, uint32_t n, Unit u) {
#if defined(__SSE2__)
  if constexpr (Padded && sizeof(Unit) == 1) {
    static_assert(outline::kNarrowLabelSlack >= 15);
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(u));
    for (uint32_t i = from; i < n; i += 16) {
      const __m128i block =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
      const unsigned mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
      if (mask) {
        const uint32_t at = i + static_cast<uint32_t>(std::countr_zero(mask));
        return at < n ? at : n;
      }
    }
    return n;
  }
#endif
  uint32_t i = from;
  while (i < n && p[i] != u)
    ++i;
  return i;
}

template <typename Unit>
bool HasAt(const Unit *p, uint32_t n, uint32_t at, std::u16string_view s) {
  if (at > n || n - at < s.size())
    return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (p[at + i] != s[i])
      return false;
  return true;
}

template <typename Unit>
bool UnitsEqual(const Unit *p, uint32_t n, std::u16string_view s) {
  return n == s.size() && HasAt(p, n, 0, s);
}

// Offsets of a label's parts as the builder joined them: the element name
// is [0, space), the value [value, valueEnd), the attributes [attributes,
// n); an absent part is empty.
struct LabelSplit {
  uint32_t space, value, valueEnd, attributes;
};

// The same, when where the first space lies is known already.
template <typename Unit>
LabelSplit SplitUnitsAt(const Unit *p, uint32_t n, uint32_t space,
                        const outline::OutlineStore::LabelNote *note) {
  using outline::kAttributeSeparator;
  using outline::kValueSeparator;
  constexpr auto kAttributeGap =
      static_cast<uint32_t>(kAttributeSeparator.size());
  LabelSplit s;
  s.space = space;
  s.value = s.valueEnd = s.attributes = n;
  if (s.space == n)
    return s;
  if (HasAt(p, n, s.space, kValueSeparator)) {
    s.value = s.space + static_cast<uint32_t>(kValueSeparator.size());
    // Only the builder's note tells where a value followed by attributes
    // ends: either may contain the separator.
    if (note) {
      const uint32_t at = note->attributeStart;
      if (at <= n && at >= s.value + kAttributeGap &&
          HasAt(p, n, at - kAttributeGap, kAttributeSeparator)) {
        s.valueEnd = at - kAttributeGap;
        s.attributes = at;
      }
    }
  } else if (HasAt(p, n, s.space, kAttributeSeparator)) {
    s.attributes = s.space + kAttributeGap;
  }
  return s;
}

template <bool Padded, typename Unit>
LabelSplit SplitUnits(const Unit *p, uint32_t n,
                      const outline::OutlineStore::LabelNote *note) {
  return SplitUnitsAt(p, n, FindUnit<Padded>(p, 0, n, Unit{' '}), note);
}

// The attribute reader.  Calls f(nameFrom, nameLength, valueFrom,
// valueLength), offsets into p, for each attribute in order until f returns
// false or the text ends or turns malformed (what came before counts).
// Values are the raw units between the quotes.
template <bool Padded, typename Unit, typename F>
void ReadAttributeUnits(const Unit *p, uint32_t n, F &&f) {
  uint32_t i = 0;
  auto skipSpace = [&] {
    while (i < n && AttributeUnit(p[i]) == kSpaceUnit)
      ++i;
  };
  for (;;) {
    skipSpace();
    if (i == n)
      return;
    const uint32_t name = i;
    while (i < n && AttributeUnit(p[i]) == kOtherUnit)
      ++i;
    const uint32_t nameLength = i - name;
    skipSpace();
    if (i == n || p[i] != u'=')
      return;
    ++i;
    skipSpace();
    if (i == n || (p[i] != u'"' && p[i] != u'\''))
      return;
    const Unit quote = p[i++];
    const uint32_t value = i;
    i = FindUnit<Padded>(p, i, n, quote);
    if (i == n)
      return;
    if (!f(name, nameLength, value, i - value))
      return;
    ++i; // the next name may follow the quote directly
  }
}

} // namespace odx::detail
