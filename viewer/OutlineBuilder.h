#pragma once

#include "foundation/cvexString.h"
#include "viewer/OutlineStore.h"
#include "viewer/Surroundings.h"

namespace viewer {

// Reads the file at `path` and fills `tree` with its outline: one node per
// element in document order, DESC contents kept as one raw text node.
// Runs against the store and three small sinks, so it needs no window.
void BuildOutline(const cvexString &path, OutlineStore &tree,
                  ProgressSink &progress, BusyIndicator &busy,
                  MessageSink &messages);

} // namespace viewer
