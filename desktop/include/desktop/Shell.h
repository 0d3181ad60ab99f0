#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

namespace desktop {

// How the hand-offs reach other programs.  Both calls return at once.
class Shell {
public:
  virtual ~Shell() = default;

  // Starts program (a name looked up on PATH) with exactly these arguments;
  // reports nothing.
  virtual void StartProgram(QObject *owner, const QString &program,
                            const QStringList &arguments) = 0;

  // Shows the file in the desktop's application for XML, never in this
  // viewer.  False when there is no such application.
  virtual bool OpenAsXml(QObject *owner, const QString &path) = 0;
};

// What DesktopShell asks of the system.  Tests swap these to see the exact
// program and arguments without starting anything.
struct ShellServices {
  std::function<QString(const QString &name)> findExecutable;
  std::function<bool(const QString &program, const QStringList &arguments)>
      startDetached;
  std::function<bool(const QString &path)> openDocument; // default app

  static ShellServices System();
};

// Programs are looked up on PATH (a trailing ".exe" may be dropped) and
// start detached, never through a shell.  Where "acrord32.exe" is missing,
// evince or okular runs its search, and failing both the PDF opens in the
// default application.
//
// On a freedesktop.org desktop the XML view starts the application for
// application/xml, else for text/plain, as the desktop's association lists
// rank them, passing over the entry ownDesktopId (this viewer, which claims
// ODX files and would get them back).  Elsewhere the file opens in the
// default application.
class DesktopShell final : public Shell {
public:
  explicit DesktopShell(QString ownDesktopId);
  DesktopShell(QString ownDesktopId, ShellServices services);

  void StartProgram(QObject *owner, const QString &program,
                    const QStringList &arguments) override;
  bool OpenAsXml(QObject *owner, const QString &path) override;

private:
  QString FindProgram(const QString &name) const;
  void SearchPdf(const QString &text, const QString &pdf);
  bool StartAssociated(const QString &path);

  QString ownDesktopId_;
  ShellServices services_;
};

} // namespace desktop
