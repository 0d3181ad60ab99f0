#pragma once

// The scans under the attribute reader and the label splitter, over the
// units of either storage.  `Padded` scans may load up to 15 units past the
// end, which the store allows for its narrow labels (kNarrowLabelSlack);
// views made elsewhere are scanned unit by unit.

#include "outline/OutlineBuilder.h"
#include "outline/OutlineStore.h"

#include <bit>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace odx::detail {

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

template <bool Padded, typename Unit>
LabelSplit SplitUnits(const Unit *p, uint32_t n,
                      const outline::OutlineStore::LabelNote *note) {
  using outline::kAttributeSeparator;
  using outline::kValueSeparator;
  constexpr auto kAttributeGap =
      static_cast<uint32_t>(kAttributeSeparator.size());
  LabelSplit s;
  s.space = FindUnit<Padded>(p, 0, n, Unit{' '});
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

// The attribute reader.  Calls f(nameFrom, nameLength, valueFrom,
// valueLength), offsets into p, for each attribute in order until f returns
// false or the text ends or turns malformed (what came before counts).
// Values are the raw units between the quotes.
template <bool Padded, typename Unit, typename F>
void ReadAttributeUnits(const Unit *p, uint32_t n, F &&f) {
  uint32_t i = 0;
  auto skipSpace = [&] {
    while (i < n && IsAttributeSpace(p[i]))
      ++i;
  };
  for (;;) {
    skipSpace();
    if (i == n)
      return;
    const uint32_t name = i;
    while (i < n && p[i] != u'=' && !IsAttributeSpace(p[i]))
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
