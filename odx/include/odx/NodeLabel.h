#pragma once

#include "outline/OutlineStore.h"

namespace odx {

// A node's label taken apart as the builder put it together (see
// outline/OutlineBuilder.h).  Every part is a piece of the label.
struct NodeLabel {
  outline::LabelView element;    // element name; empty for raw text
  outline::LabelView value;      // a leaf's decoded value; empty when none
  outline::LabelView attributes; // raw attribute text; empty when none
  bool rawText = false;          // description text: no element at all
  bool member = false;           // a file or package member: no element at all
};

// `note` is the store's note for the node, if any.  Says nothing about raw
// text: that depends on the parent (ReadNodeLabel looks).
NodeLabel SplitLabel(const outline::LabelView &label,
                     const outline::OutlineStore::LabelNote *note);

// The parts of one node of the store; empty parts for an invalid node.
NodeLabel ReadNodeLabel(const outline::OutlineStore &store,
                        outline::NodeHandle node);

} // namespace odx
