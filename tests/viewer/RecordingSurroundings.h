#pragma once

#include "viewer/Surroundings.h"

#include <stdexcept>
#include <vector>

namespace viewer {

// Records what the builder and the searches do to the window around them.
struct RecordingSurroundings final : ProgressSink, BusyIndicator, MessageSink {
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
  void ShowMessage(const QString &text, const QString &caption,
                   MessageIcon icon) override {
    messages.push_back(text + "|" + caption);
    lastIcon = icon;
  }
  // No progress bar or hourglass left showing, no position out of range.
  bool Restored() const {
    return !visible && !outOfRange && (busy.empty() || !busy.back());
  }

  int lastPosition = -1, positions = 0;
  int throwAfter = -1; // SetPosition throws once after this many calls
  bool visible = false, outOfRange = false;
  std::vector<bool> busy;
  std::vector<QString> messages; // "text|caption"
  MessageIcon lastIcon = MessageIcon::Information;
};

} // namespace viewer
