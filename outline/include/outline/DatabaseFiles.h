#pragma once

#include <QString>
#include <QStringView>

#include <vector>

namespace outline {

// The files a folder opened as one database holds: names ending, ignoring
// case, in ".odx", ".odx-" and letters (".odx-d", ".odx-cs", ...), ".xml"
// or ".pdx".
bool IsDatabaseFileName(QStringView name);

// The last part of a path: what a file's node in the outline is called.
QString FileNameOf(const QString &path);

// Orders paths by their file names, compared as the bytes the file system
// stores (byte order of UTF-8, case-sensitive); equal names by their whole
// path.  So a folder and the same files named one by one open alike.
void SortByFileName(std::vector<QString> &paths);

// The database files of `folder` (not its sub-folders; symbolic links only
// when they lead to a regular file), sorted.  False when the folder cannot
// be read.
bool ListDatabaseFiles(const QString &folder, std::vector<QString> &paths);

} // namespace outline
