#include "desktop/Shell.h"

#include "XdgApplications.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <utility>

namespace desktop {

namespace {

constexpr QStringView kAcrobat = u"acrord32.exe";
constexpr QStringView kExeSuffix = u".exe";
constexpr QStringView kSearchKey = u"search=";

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
  return s;
}

DesktopShell::DesktopShell(QString ownDesktopId)
    : DesktopShell(std::move(ownDesktopId), ShellServices::System()) {}

DesktopShell::DesktopShell(QString ownDesktopId, ShellServices services)
    : ownDesktopId_(std::move(ownDesktopId)), services_(std::move(services)) {}

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
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  return StartAssociated(QFileInfo(path).absoluteFilePath());
#else
  return services_.openDocument(path);
#endif
}

bool DesktopShell::StartAssociated(const QString &path) {
  const xdg::Folders folders = xdg::Folders::FromEnvironment();
  // text/plain is what application/xml derives from: any text editor shows
  // the markup.
  const QString types[] = {QStringLiteral("application/xml"),
                           QStringLiteral("text/plain")};
  for (const QString &type : types) {
    for (const QString &id : xdg::AssociatedIds(folders, type)) {
      if (id == ownDesktopId_)
        continue;
      const QHash<QString, QString> entry = xdg::ReadDesktopEntry(folders, id);
      // A hidden entry is a deleted one; TryExec names what must be
      // installed for the entry to count.
      if (entry.value("Type") != u"Application" ||
          entry.value("Hidden") == u"true")
        continue;
      const QString tryExec = entry.value("TryExec");
      if (!tryExec.isEmpty() && services_.findExecutable(tryExec).isEmpty())
        continue;
      const QStringList command = xdg::ExpandExec(entry.value("Exec"), path);
      const QString program =
          command.isEmpty() ? QString() : services_.findExecutable(command[0]);
      if (!program.isEmpty() &&
          services_.startDetached(program, command.mid(1)))
        return true;
    }
  }
  return false;
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
