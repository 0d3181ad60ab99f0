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

  bool OpenFile(QObject *owner, const QString &path) override {
    fileViews.push_back({owner, path});
    return hasFileApplication;
  }

  // As the real shell does when a started viewer ends at once.
  void Fail(const QString &program, const QString &why) {
    ReportFailure(program, why);
  }

  std::size_t CallCount() const {
    return starts.size() + xmlViews.size() + fileViews.size();
  }

  std::vector<Start> starts;
  std::vector<XmlView> xmlViews;
  std::vector<XmlView> fileViews;
  bool hasXmlApplication = true;  // what OpenAsXml answers
  bool hasFileApplication = true; // what OpenFile answers
};

} // namespace desktop
