#pragma once

#include <QString>

namespace viewer {

// What the builder and the searches need of a window, so they run in tests
// and on the command line without one.

class ProgressSink {
public:
  virtual ~ProgressSink() = default;
  virtual void SetPosition(int percent) = 0; // 0..100
  virtual void SetVisible(bool visible) = 0;
};

class BusyIndicator {
public:
  virtual ~BusyIndicator() = default;
  virtual void SetBusy(bool busy) = 0; // hourglass on / back to default
};

enum class MessageIcon { None, Information };

class MessageSink {
public:
  virtual ~MessageSink() = default;
  // Modal: returns when the user has closed the message.
  virtual void ShowMessage(const QString &text, const QString &caption,
                           MessageIcon icon) = 0;
};

} // namespace viewer
