#pragma once

// What the window keeps while it compares the open outline (NEW) with
// another version (OLD): the other outline and its index, the matching,
// the change list the hit list shows and the marks the outline draws.

#include "compare/ChangeList.h"
#include "compare/Comparison.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineStore.h"

#include <QString>

#include <memory>
#include <vector>

namespace app {

struct Comparing {
  QString oldPath;
  outline::OutlineStore olds;
  odx::OdxIndex oldIndex{olds};
  std::unique_ptr<compare::Comparison> diff;
  std::vector<compare::Change> changes; // the change list, one a hit
  compare::Counts counts;
  compare::ChangeMarks marks;
  uint32_t itemsGeneration = 0;   // the NEW outline compared
  uint32_t resultsGeneration = 0; // the hit list showing the changes
};

} // namespace app
