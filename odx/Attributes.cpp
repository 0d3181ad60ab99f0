#include "odx/Attributes.h"

#include "UnitScan.h"

#include <algorithm>
#include <cstring>

namespace odx {
namespace {

char16_t UnitAt(const outline::LabelView &v, uint32_t i) {
  return v.narrow ? v.narrow[i] : v.wide[i];
}

} // namespace

outline::LabelView Slice(const outline::LabelView &label, uint32_t from,
                         uint32_t length) {
  outline::LabelView piece;
  if (from > label.length)
    return piece;
  piece.length = std::min(length, label.length - from);
  if (label.narrow)
    piece.narrow = label.narrow + from;
  else if (label.wide)
    piece.wide = label.wide + from;
  else
    piece.length = 0;
  return piece;
}

bool SameUnits(const outline::LabelView &a, const outline::LabelView &b) {
  if (a.length != b.length)
    return false;
  if (a.length == 0)
    return true;
  if (a.narrow && b.narrow)
    return std::memcmp(a.narrow, b.narrow, a.length) == 0;
  if (a.wide && b.wide)
    return std::memcmp(a.wide, b.wide, a.length * sizeof(char16_t)) == 0;
  for (uint32_t i = 0; i < a.length; ++i)
    if (UnitAt(a, i) != UnitAt(b, i))
      return false;
  return true;
}

bool SameUnits(const outline::LabelView &a, std::u16string_view b) {
  if (a.length != b.size())
    return false;
  for (uint32_t i = 0; i < a.length; ++i)
    if (UnitAt(a, i) != b[i])
      return false;
  return true;
}

int CompareUnits(const outline::LabelView &a, const outline::LabelView &b) {
  const uint32_t n = std::min(a.length, b.length);
  if (a.narrow && b.narrow && n > 0) {
    if (const int c = std::memcmp(a.narrow, b.narrow, n))
      return c;
  } else {
    for (uint32_t i = 0; i < n; ++i) {
      const char16_t x = UnitAt(a, i);
      const char16_t y = UnitAt(b, i);
      if (x != y)
        return x < y ? -1 : 1;
    }
  }
  return a.length == b.length ? 0 : a.length < b.length ? -1 : 1;
}

void ReadAttributesWith(const outline::LabelView &text, AttributeVisitor visit,
                        void *context) {
  auto call = [&](uint32_t name, uint32_t nameLength, uint32_t value,
                  uint32_t valueLength) {
    return visit(context, Slice(text, name, nameLength),
                 Slice(text, value, valueLength));
  };
  if (text.narrow)
    detail::ReadAttributeUnits<false>(text.narrow, text.length, call);
  else if (text.wide)
    detail::ReadAttributeUnits<false>(text.wide, text.length, call);
}

std::optional<outline::LabelView> FindAttribute(const outline::LabelView &text,
                                                std::u16string_view name) {
  std::optional<outline::LabelView> found;
  ReadAttributes(
      text, [&](const outline::LabelView &n, const outline::LabelView &value) {
        if (SameUnits(n, name))
          found = value;
        return !found;
      });
  return found;
}

} // namespace odx
