#pragma once

#include "outline/OutlineStore.h"

#include <QString>

namespace outline {

// The name a node goes by in paths and messages: its element name (the
// first word of its label), or for a text whose label starts with a blank
// (a description's text after a line break) its first words without markup,
// else "text".  Empty for kNoNode or a handle out of range.
QString ElementName(const OutlineStore &store, NodeHandle node);

// "ODX/DIAG-LAYER-CONTAINER/SHORT-NAME": the ElementName of every node from
// the top level down to `node`, joined by '/'.  Files and package members
// (OutlineStore::IsMember) appear by their whole names.  Empty for
// kNoNode or a handle out of range.
QString ElementPath(const OutlineStore &store, NodeHandle node);

// Nodes are stored in pre-order, so a subtree is the run of handles
// [node, SubtreeEnd(node)).  GetCount() for a node out of range.
NodeHandle SubtreeEnd(const OutlineStore &store, NodeHandle node);

} // namespace outline
