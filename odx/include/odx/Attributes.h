#pragma once

#include "outline/OutlineStore.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

namespace odx {

// Pieces of labels are LabelViews too: the same units, not a copy.
outline::LabelView Slice(const outline::LabelView &label, uint32_t from,
                         uint32_t length);
// Unit by unit, whatever the storage (narrow or wide) of either side.
bool SameUnits(const outline::LabelView &a, const outline::LabelView &b);
bool SameUnits(const outline::LabelView &a, std::u16string_view b);
int CompareUnits(const outline::LabelView &a, const outline::LabelView &b);

// Raw attribute text, read from the start: white space (space, tab, CR, LF)
// is skipped; a name runs to the next '=' or white space; then optional
// white space, '=', optional white space and a value in single or double
// quotes up to the same quote.  Anything malformed ends the reading (what
// came before counts); the next name may follow a closing quote directly,
// and an empty name is a name.  Values are the raw units between the quotes
// (no entity decoding).
using AttributeVisitor = bool (*)(void *context, const outline::LabelView &name,
                                  const outline::LabelView &value);
void ReadAttributesWith(const outline::LabelView &text, AttributeVisitor visit,
                        void *context);

// f(name, value) for each attribute in order, as pieces of `text`; f returns
// false to stop early.
template <typename F>
void ReadAttributes(const outline::LabelView &text, F &&f) {
  using Fn = std::remove_reference_t<F>;
  ReadAttributesWith(
      text,
      [](void *context, const outline::LabelView &name,
         const outline::LabelView &value) {
        return static_cast<bool>((*static_cast<Fn *>(context))(name, value));
      },
      const_cast<void *>(static_cast<const void *>(&f)));
}

// The value of the first attribute named exactly `name` (case-sensitive):
// when a name occurs twice, the first counts.
std::optional<outline::LabelView> FindAttribute(const outline::LabelView &text,
                                                std::u16string_view name);

} // namespace odx
