#pragma once

#include "outline/Surroundings.h"

#include <stdexcept>
#include <vector>

namespace outline {

// Records what the builder and the searches do to the window around them.
struct RecordingSurroundings final : ProgressSink, BusyIndicator {
  void SetPosition(int percent) override {
    outOfRange = outOfRange || percent < 0 || percent > 100;
    lastPosition = percent;
    if (++positions > throwAfter && throwAfter >= 0) {
      throwAfter = -1;
      throw std::runtime_error("progress failed");
    }
  }
  void SetVisible(bool shown) override { visible = shown; }
  void SetBusy(bool on) override { busy.push_back(on); }
  // No progress bar or hourglass left showing, no position out of range.
  bool Restored() const {
    return !visible && !outOfRange && (busy.empty() || !busy.back());
  }

  int lastPosition = -1, positions = 0;
  int throwAfter = -1; // SetPosition throws once after this many calls
  bool visible = false, outOfRange = false;
  std::vector<bool> busy;
};

} // namespace outline
