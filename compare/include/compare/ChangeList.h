#pragma once

#include "compare/Comparison.h"
#include "outline/OutlineStore.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace compare {

// One change as `odx-outline --diff` prints it: "+ PATH", "- PATH",
// "~ PATH: OLD-LABEL -> NEW-LABEL" or "= PATH: was OLD-NAME", without the
// line break; control characters, backslashes and lone surrogates escaped
// as the outline's text lines escape them, so a change is always one line.
std::u16string ChangeLine(const Comparison &diff,
                          const outline::OutlineStore &olds,
                          const outline::OutlineStore &news,
                          const Change &change);

// What a view draws after a NEW node's label while comparing: the kind of
// its own change, and a mark on every node that holds changes below it (a
// removed node counts as held by the node its parent pairs with).  A byte
// a node.
class ChangeMarks {
public:
  enum Mark : uint8_t {
    kAdded = 1,
    kChanged = 2,
    kRenamed = 4,
    kHolds = 8, // changes below, or removed children
  };
  ChangeMarks() = default;
  ChangeMarks(const outline::OutlineStore &news,
              std::span<const Change> changes);
  uint8_t At(outline::NodeHandle node) const {
    return node < marks_.size() ? marks_[node] : 0;
  }

private:
  std::vector<uint8_t> marks_;
};

} // namespace compare
