#include "desktop/Shell.h"

#include "desktop/WindowsCommandLine.h"

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
constexpr QStringView kSearchPrefix = u"/a \"search=";
constexpr QStringView kRequestEnd = u"\" ";

bool OpenWithDefaultApplication(const QString &path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  // QDesktopServices needs a GUI application; without one, xdg-open does the
  // same job.
  if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
    return QDesktopServices::openUrl(QUrl::fromLocalFile(absolute));
  const QString opener = QStandardPaths::findExecutable("xdg-open");
  return !opener.isEmpty() && QProcess::startDetached(opener, {absolute});
}

QString Unquoted(QString path) {
  if (path.size() >= 2 && path.startsWith(u'"') && path.endsWith(u'"'))
    return path.mid(1, path.size() - 2);
  return path;
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
  s.exists = [](const QString &path) { return QFileInfo::exists(path); };
  return s;
}

std::optional<PdfSearchRequest> ParsePdfSearchParameters(QStringView text) {
  if (text.startsWith(kSearchPrefix, Qt::CaseInsensitive)) {
    const qsizetype close = text.lastIndexOf(kRequestEnd);
    if (close >= kSearchPrefix.size()) {
      PdfSearchRequest request{
          text.mid(kSearchPrefix.size(), close - kSearchPrefix.size())
              .toString(),
          Unquoted(text.mid(close + kRequestEnd.size()).toString())};
      if (!request.pdfPath.isEmpty())
        return request;
      return std::nullopt;
    }
  }
  const QStringList args = SplitWindowsCommandLine(text);
  if (args.size() < 3 || args[0].compare(u"/a", Qt::CaseInsensitive) != 0 ||
      !args[1].startsWith(u"search=", Qt::CaseInsensitive))
    return std::nullopt;
  return PdfSearchRequest{args[1].mid(7), args.mid(2).join(u' ')};
}

DesktopShell::DesktopShell() : DesktopShell(ShellServices::System()) {}

DesktopShell::DesktopShell(ShellServices services)
    : services_(std::move(services)) {}

void DesktopShell::ShellExecute(QObject * /*owner*/, const QByteArray &verb,
                                const QByteArray &file,
                                const QByteArray &parameters) {
  // An empty verb is the default action, which for us is "open".
  if (!verb.isEmpty() && verb.compare("open", Qt::CaseInsensitive) != 0)
    return;
  const QString name = QString::fromLocal8Bit(file);
  const QString params = QString::fromLocal8Bit(parameters);
  if (name.isEmpty())
    return;

  if (params.isEmpty() && services_.exists(name)) {
    services_.openDocument(name);
    return;
  }
  const QString program = FindProgram(name);
  if (!program.isEmpty()) {
    services_.startDetached(program, SplitWindowsCommandLine(params));
    return;
  }
  if (QFileInfo(name).fileName().compare(kAcrobat, Qt::CaseInsensitive) == 0)
    SearchPdf(params);
}

QString DesktopShell::FindProgram(const QString &name) const {
  QString found = services_.findExecutable(name);
  if (found.isEmpty() && name.endsWith(kExeSuffix, Qt::CaseInsensitive) &&
      name.size() > kExeSuffix.size())
    found = services_.findExecutable(name.chopped(kExeSuffix.size()));
  return found;
}

void DesktopShell::SearchPdf(const QString &parameters) {
  const std::optional<PdfSearchRequest> request =
      ParsePdfSearchParameters(parameters);
  if (!request)
    return;
  const QString &text = request->searchText;
  const QString &pdf = request->pdfPath;

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
