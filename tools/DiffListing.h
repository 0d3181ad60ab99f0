#pragma once

#include <string>
#include <vector>

namespace tools {

struct DiffRequest {
  const char *oldPath = nullptr;
  const char *newPath = nullptr;
  bool json = false;
  bool count = false;
  std::vector<std::string> ignoredTags; // UTF-8
};

// Exit statuses of --diff besides 0 (nothing differs) and 1 (a side could
// not be opened, or the output not written).
inline constexpr int kSomethingDiffers = 4;

// `odx-outline --diff OLD NEW`: builds both outlines (side by side) and
// prints the changes from OLD to NEW, one a line; returns the exit status.
int RunDiff(const DiffRequest &request);

} // namespace tools
