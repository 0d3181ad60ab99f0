#pragma once

namespace outline {

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

// For builds nobody watches: the command line, benchmarks, fuzzers.
class Quiet final : public ProgressSink, public BusyIndicator {
public:
  void SetPosition(int) override {}
  void SetVisible(bool) override {}
  void SetBusy(bool) override {}
};

} // namespace outline
