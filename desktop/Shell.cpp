#include "desktop/Shell.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#define ODX_FREEDESKTOP 1
#include "GioApplications.h"

#include <sys/wait.h>
#else
#define ODX_FREEDESKTOP 0
#endif

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace desktop {

namespace {

constexpr QStringView kAcrobat = u"acrord32.exe";
constexpr QStringView kExeSuffix = u".exe";
constexpr QStringView kSearchKey = u"search=";
constexpr int kEarlyExitMs = 1000;
constexpr int kEarlyPollMs = 50;
constexpr int kLatePollMs = 2000;

bool OpenWithDefaultApplication(const QString &path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  // QDesktopServices needs a GUI application; without one, xdg-open does the
  // same job.
  if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
    return QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
  const QString opener = QStandardPaths::findExecutable("xdg-open");
  return !opener.isEmpty() && QProcess::startDetached(opener, {absolute});
}

} // namespace

ShellServices ShellServices::System() {
  ShellServices s;
  s.findExecutable = [](const QString &name) {
    return QStandardPaths::findExecutable(name);
  };
  s.startDetached = [](const QString &program, const QStringList &arguments) {
    return QProcess::startDetached(program, arguments);
  };
  s.openDocument = OpenWithDefaultApplication;
#if ODX_FREEDESKTOP
  s.launchEntry = gio::Launch;
#endif
  return s;
}

DesktopShell::DesktopShell(QString ownDesktopId)
    : DesktopShell(std::move(ownDesktopId), ShellServices::System()) {}

DesktopShell::DesktopShell(QString ownDesktopId, ShellServices services)
    : ownDesktopId_(std::move(ownDesktopId)), services_(std::move(services)),
      watchers_(std::make_unique<QObject>()) {}

DesktopShell::~DesktopShell() = default;

void DesktopShell::StartProgram(QObject * /*owner*/, const QString &program,
                                const QStringList &arguments) {
  if (program.isEmpty())
    return;
  const QString found = FindProgram(program);
  if (!found.isEmpty()) {
    services_.startDetached(found, arguments);
    return;
  }
  // The reader's request is `/a`, `search=TEXT`, the PDF.
  if (QFileInfo(program).fileName().compare(kAcrobat, Qt::CaseInsensitive) ==
          0 &&
      arguments.size() == 3 &&
      arguments[1].startsWith(kSearchKey, Qt::CaseInsensitive))
    SearchPdf(arguments[1].mid(kSearchKey.size()), arguments[2]);
}

bool DesktopShell::OpenAsXml(QObject * /*owner*/, const QString &path) {
#if ODX_FREEDESKTOP
  // text/plain is what application/xml derives from: any text editor shows
  // the markup.
  return StartFirst(
      {QStringLiteral("application/xml"), QStringLiteral("text/plain")}, path);
#else
  return services_.openDocument(path);
#endif
}

bool DesktopShell::OpenFile(QObject * /*owner*/, const QString &path) {
#if ODX_FREEDESKTOP
  return StartFirst({gio::ContentType(path)}, path);
#else
  return services_.openDocument(path);
#endif
}

bool DesktopShell::StartFirst(const QStringList &types, const QString &path) {
#if ODX_FREEDESKTOP
  const QString absolute = QFileInfo(path).absoluteFilePath();
  for (const QString &id : gio::Applications(types, ownDesktopId_)) {
    QString error;
    const qint64 pid = services_.launchEntry(id, absolute, error);
    if (pid < 0)
      continue; // a terminal entry without a terminal, a vanished program
    WatchEarlyExit(pid, gio::DisplayName(id));
    return true;
  }
#else
  (void)types;
  (void)path;
#endif
  return false;
}

// A viewer that cannot show the file usually says so by ending at once;
// after that second the watch only reaps it, now and then.
void DesktopShell::WatchEarlyExit(qint64 pid, const QString &program) {
#if ODX_FREEDESKTOP
  if (pid <= 0)
    return;
  auto *timer = new QTimer(watchers_.get());
  timer->setInterval(kEarlyPollMs);
  QElapsedTimer clock;
  clock.start();
  QObject::connect(timer, &QTimer::timeout, timer, [=, this] {
    int status = 0;
    const pid_t ended = waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    const bool early = timer->interval() == kEarlyPollMs;
    if (ended == 0) {
      if (clock.elapsed() >= kEarlyExitMs)
        timer->setInterval(kLatePollMs);
      return;
    }
    timer->deleteLater();
    if (ended < 0 || !early)
      return;
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
      ReportFailure(program,
                    QStringLiteral("exit status %1").arg(WEXITSTATUS(status)));
    else if (WIFSIGNALED(status))
      ReportFailure(program, QStringLiteral("signal %1").arg(WTERMSIG(status)));
  });
  timer->start();
#else
  (void)pid;
  (void)program;
#endif
}

QString DesktopShell::FindProgram(const QString &name) const {
  QString found = services_.findExecutable(name);
  if (found.isEmpty() && name.endsWith(kExeSuffix, Qt::CaseInsensitive) &&
      name.size() > kExeSuffix.size())
    found = services_.findExecutable(name.chopped(kExeSuffix.size()));
  return found;
}

void DesktopShell::SearchPdf(const QString &text, const QString &pdf) {
  struct Viewer {
    const char *program;
    QStringList arguments;
  };
  // An empty search would only show an empty find bar; open the PDF plainly.
  const Viewer viewers[] = {
      {"evince",
       text.isEmpty() ? QStringList{pdf} : QStringList{"--find=" + text, pdf}},
      {"okular",
       text.isEmpty() ? QStringList{pdf} : QStringList{"--find", text, pdf}},
  };
  for (const Viewer &viewer : viewers) {
    const QString program = services_.findExecutable(viewer.program);
    if (!program.isEmpty() &&
        services_.startDetached(program, viewer.arguments))
      return;
  }
  services_.openDocument(pdf);
}

} // namespace desktop
