#pragma once

#include "outline/OutlineStore.h"

#include <QString>

namespace outline {

// "ODX/DIAG-LAYER-CONTAINER/SHORT-NAME": the element name (first word of the
// label) of every node from the top level down to `node`, joined by '/'.
// Files and package members (OutlineStore::IsMember) appear by their
// whole names.  Empty for
// kNoNode or a handle out of range.
QString ElementPath(const OutlineStore &store, NodeHandle node);

// Nodes are stored in pre-order, so a subtree is the run of handles
// [node, SubtreeEnd(node)).  GetCount() for a node out of range.
NodeHandle SubtreeEnd(const OutlineStore &store, NodeHandle node);

} // namespace outline
