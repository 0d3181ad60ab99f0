#pragma once

#include "foundation/cvexString.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"

namespace outline {

// Rebuilds `results` with one top-level node per outline node whose label
// contains `filterText` regardless of case (each unit lower-cased on its
// own), in pre-order.  A hit shows the node's label unchanged and its
// pictures, and holds a reference to it as data.  An empty term only empties
// the results.  The busy indicator and both update brackets are put back on
// every path.
void FilterSearch(const cvexString &filterText, const OutlineStore &items,
                  OutlineStore &results, BusyIndicator &busy);
// The same hits added after the top-level nodes `results` already holds.
void AppendFilterHits(const cvexString &filterText, const OutlineStore &items,
                      OutlineStore &results, BusyIndicator &busy);

// The outline node a selected hit stands for, or kNoNode when no hit is
// selected or the hit belongs to an outline that has since been cleared.
NodeHandle ResultTarget(const OutlineStore &results, NodeHandle selectedResult,
                        const OutlineStore &items);

// The first word of a label (all of it before the first space): the element
// name of an outline node.  A label starting with a space gives empty text.
void PickElementName(const LabelView &label, cvexString &out);

} // namespace outline
