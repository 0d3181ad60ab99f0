#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QObject;

namespace desktop {

// How the hand-offs reach other programs.  Every call returns at once.
class Shell {
public:
  // Told when a program started to show a file ends within a second with a
  // failure: the program's name and what ended it ("exit status 1").
  using FailureHandler =
      std::function<void(const QString &program, const QString &why)>;

  virtual ~Shell() = default;

  // Starts program (a name looked up on PATH) with exactly these arguments;
  // reports nothing.
  virtual void StartProgram(QObject *owner, const QString &program,
                            const QStringList &arguments) = 0;

  // Shows the file in the desktop's application for XML, never in this
  // viewer.  False when there is no such application.
  virtual bool OpenAsXml(QObject *owner, const QString &path) = 0;

  // Shows the file in the desktop's application for its type (by its name
  // and content), never in this viewer.  False when there is none.
  virtual bool OpenFile(QObject *owner, const QString &path) = 0;

  void SetFailureHandler(FailureHandler handler) {
    failed_ = std::move(handler);
  }

protected:
  void ReportFailure(const QString &program, const QString &why) const {
    if (failed_)
      failed_(program, why);
  }

private:
  FailureHandler failed_;
};

// What DesktopShell asks of the system.  Tests swap these to see the exact
// program and arguments without starting anything.
struct ShellServices {
  std::function<QString(const QString &name)> findExecutable;
  std::function<bool(const QString &program, const QStringList &arguments)>
      startDetached;
  std::function<bool(const QString &path)> openDocument; // default app
  // Starts the desktop entry `id` with the file: the process to watch, 0
  // when none is known, -1 when nothing started.
  std::function<qint64(const QString &id, const QString &path, QString &error)>
      launchEntry;

  static ShellServices System();
};

// Programs are looked up on PATH (a trailing ".exe" may be dropped) and
// start detached, never through a shell.  Where "acrord32.exe" is missing,
// evince or okular runs its search, and failing both the PDF opens in the
// default application.
//
// On a freedesktop.org desktop the XML view starts the application for
// application/xml, else for text/plain, as the desktop's association lists
// rank them (through GIO), passing over the entry ownDesktopId (this viewer,
// which claims ODX files and would get them back); an entry that needs a
// terminal comes last and starts in one, or not at all where none is
// installed.  Other files start the same way with the applications for
// their type.  Elsewhere a file opens in the default application.
class DesktopShell final : public Shell {
public:
  explicit DesktopShell(QString ownDesktopId);
  DesktopShell(QString ownDesktopId, ShellServices services);
  ~DesktopShell() override;

  void StartProgram(QObject *owner, const QString &program,
                    const QStringList &arguments) override;
  bool OpenAsXml(QObject *owner, const QString &path) override;
  bool OpenFile(QObject *owner, const QString &path) override;

private:
  QString FindProgram(const QString &name) const;
  void SearchPdf(const QString &text, const QString &pdf);
  bool StartFirst(const QStringList &types, const QString &path);
  void WatchEarlyExit(qint64 pid, const QString &program);

  QString ownDesktopId_;
  ShellServices services_;
  std::unique_ptr<QObject> watchers_; // parent of the exit watches
};

} // namespace desktop
