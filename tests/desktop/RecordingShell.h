#pragma once

#include "desktop/Shell.h"

#include <vector>

namespace desktop {

// Records every shell start instead of performing it; for tests of the
// hand-offs and of the window.
class RecordingShell final : public Shell {
public:
  struct Call {
    QObject *owner;
    QByteArray verb;
    QByteArray file;
    QByteArray parameters;
  };

  void ShellExecute(QObject *owner, const QByteArray &verb,
                    const QByteArray &file,
                    const QByteArray &parameters) override {
    calls.push_back({owner, verb, file, parameters});
  }

  std::vector<Call> calls;
};

} // namespace desktop
