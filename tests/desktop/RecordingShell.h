#pragma once

#include "desktop/Shell.h"

#include <cstddef>
#include <vector>

namespace desktop {

// Records every program start and XML view instead of performing it; for
// tests of the hand-offs and of the window.
class RecordingShell final : public Shell {
public:
  struct Start {
    QObject *owner;
    QString program;
    QStringList arguments;
  };
  struct XmlView {
    QObject *owner;
    QString path;
  };

  void StartProgram(QObject *owner, const QString &program,
                    const QStringList &arguments) override {
    starts.push_back({owner, program, arguments});
  }

  bool OpenAsXml(QObject *owner, const QString &path) override {
    xmlViews.push_back({owner, path});
    return hasXmlApplication;
  }

  std::size_t CallCount() const { return starts.size() + xmlViews.size(); }

  std::vector<Start> starts;
  std::vector<XmlView> xmlViews;
  bool hasXmlApplication = true; // what OpenAsXml answers
};

} // namespace desktop
