#pragma once

#include <QHash>
#include <QString>

#include <memory>
#include <span>

class QTemporaryDir;

namespace desktop {

// Private files written so that another program can show bytes that have
// no file of their own (a package's member).  They live in one folder of
// this process, readable only by this user, at most one file per key (a
// member is shown again from the same file), and go with the object.  A
// folder that a crashed session left behind is removed by the next one.
class ViewCopies {
public:
  // `tempFolder` empty: the system's temporary folder.
  explicit ViewCopies(QString tempFolder = QString());
  ~ViewCopies();
  ViewCopies(const ViewCopies &) = delete;
  ViewCopies &operator=(const ViewCopies &) = delete;

  // Writes `bytes` to the file for `key`, named by the last part of `name`,
  // replacing what it held; its path, or empty when it cannot be written.
  QString Write(const QString &key, const QString &name,
                std::span<const unsigned char> bytes);

  // Removes the folders of sessions of this user whose process is gone.
  void RemoveLeftovers() const;

private:
  QString tempFolder_;
  std::unique_ptr<QTemporaryDir> folder_; // made on the first write
  QHash<QString, QString> files_;         // key -> path
};

} // namespace desktop
