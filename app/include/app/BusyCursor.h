#pragma once

#include "outline/Surroundings.h"

#include <QApplication>

namespace app {

// The application-wide hourglass.  Switching is idempotent and the
// destructor puts the cursor back, so it is restored on every path out.
class BusyCursor final : public outline::BusyIndicator {
public:
  BusyCursor() = default;
  ~BusyCursor() override { SetBusy(false); }
  BusyCursor(const BusyCursor &) = delete;
  BusyCursor &operator=(const BusyCursor &) = delete;

  void SetBusy(bool busy) override {
    if (busy == busy_)
      return;
    busy_ = busy;
    if (busy)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  }

private:
  bool busy_ = false;
};

} // namespace app
