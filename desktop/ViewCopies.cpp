#include "desktop/ViewCopies.h"

#include <QtGlobal>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <cerrno>

#include <signal.h>
#include <unistd.h>
#endif

namespace desktop {

namespace {

// "odx-viewer-<pid>-XXXXXX": the process id tells a live session from one
// that is gone.
constexpr auto kPrefix = "odx-viewer-";

// Where that cannot be asked, every session counts as alive.
bool ProcessLives(qint64 pid) {
#ifdef Q_OS_UNIX
  if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
    return false;
  // A process that was killed but not yet reaped has ended all the same.
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly))
    return true;
  const QByteArray line = stat.readAll();
  const qsizetype state = line.lastIndexOf(')') + 2;
  return state <= 1 || state >= line.size() || line[state] != 'Z';
#else
  (void)pid;
  return true;
#endif
}

bool OwnedByThisUser(const QFileInfo &entry) {
#ifdef Q_OS_UNIX
  return entry.ownerId() == static_cast<uint>(getuid());
#else
  (void)entry;
  return true;
#endif
}

// The member's own name without any folder part, so that nothing is
// written outside the session's folder.
QString FileNameOf(QString name) {
  name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  name = name.section(QLatin1Char('/'), -1);
  if (name.isEmpty() || name == u"." || name == u"..")
    return QStringLiteral("member");
  return name;
}

} // namespace

ViewCopies::ViewCopies(QString tempFolder)
    : tempFolder_(tempFolder.isEmpty() ? QDir::tempPath()
                                       : std::move(tempFolder)) {}

ViewCopies::~ViewCopies() = default;

QString ViewCopies::Write(const QString &key, const QString &name,
                          std::span<const unsigned char> bytes) {
  if (!folder_) {
    folder_ = std::make_unique<QTemporaryDir>(
        tempFolder_ + QLatin1Char('/') + QLatin1String(kPrefix) +
        QString::number(QCoreApplication::applicationPid()) +
        QStringLiteral("-XXXXXX"));
    if (!folder_->isValid()) {
      folder_.reset();
      return QString();
    }
  }
  QString path = files_.value(key);
  if (path.isEmpty()) {
    // A folder per key, so that two members of one name never meet.
    const QString sub = folder_->filePath(QString::number(files_.size()));
    if (!QDir().mkpath(sub))
      return QString();
    path = sub + QLatin1Char('/') + FileNameOf(name);
  }
  QSaveFile file(path);
  const auto size = static_cast<qint64>(bytes.size());
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(reinterpret_cast<const char *>(bytes.data()), size) != size ||
      !file.commit())
    return QString();
  files_.insert(key, path);
  return path;
}

void ViewCopies::RemoveLeftovers() const {
  const QRegularExpression session(
      QStringLiteral("^odx-viewer-(\\d+)-[A-Za-z0-9]{6}$"));
  const QDir temp(tempFolder_);
  for (const QFileInfo &entry :
       temp.entryInfoList({QLatin1String(kPrefix) + QLatin1Char('*')},
                          QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
    const QRegularExpressionMatch match = session.match(entry.fileName());
    // Only real folders of this user: never a link into somewhere else.
    if (!match.hasMatch() || entry.isSymLink() || !OwnedByThisUser(entry) ||
        ProcessLives(match.captured(1).toLongLong()))
      continue;
    QDir(entry.filePath()).removeRecursively();
  }
}

} // namespace desktop
