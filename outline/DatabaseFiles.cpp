#include "outline/DatabaseFiles.h"

#include "platform/FileName.h"
#include "platform/Folder.h"

#include <algorithm>

namespace outline {

bool IsDatabaseFileName(QStringView name) {
  auto endsWith = [&name](QStringView tail) {
    return name.endsWith(tail, Qt::CaseInsensitive);
  };
  if (endsWith(u".odx") || endsWith(u".xml") || endsWith(u".pdx"))
    return true;
  // ".odx-" followed by one or more letters and nothing else.
  qsizetype i = name.size();
  while (i > 0 && ((name[i - 1] >= u'a' && name[i - 1] <= u'z') ||
                   (name[i - 1] >= u'A' && name[i - 1] <= u'Z')))
    --i;
  return i < name.size() &&
         name.first(i).endsWith(u".odx-", Qt::CaseInsensitive);
}

QString FileNameOf(const QString &path) {
  qsizetype at = path.lastIndexOf(QLatin1Char('/'));
#if defined(_WIN32)
  at = std::max(at, path.lastIndexOf(QLatin1Char('\\')));
#endif
  return path.mid(at + 1);
}

void SortByFileName(std::vector<QString> &paths) {
  struct Keyed {
    QByteArray name, path;
    QString original;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(paths.size());
  for (QString &p : paths)
    keyed.push_back(Keyed{platform::EncodeFileName(FileNameOf(p)),
                          platform::EncodeFileName(p), std::move(p)});
  // QByteArray compares as unsigned bytes.
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const Keyed &a, const Keyed &b) {
                     if (a.name != b.name)
                       return a.name < b.name;
                     return a.path < b.path;
                   });
  for (std::size_t i = 0; i < keyed.size(); ++i)
    paths[i] = std::move(keyed[i].original);
}

bool ListDatabaseFiles(const QString &folder, std::vector<QString> &paths) {
  paths.clear();
  std::vector<platform::FolderFile> files;
  if (!platform::ListFolderFiles(
          reinterpret_cast<const char16_t *>(folder.utf16()), files))
    return false;
  QString base = folder;
  if (!base.endsWith(QLatin1Char('/')))
    base += QLatin1Char('/');
  for (const platform::FolderFile &f : files) {
    const QString name = platform::DecodeFileName(f.name);
    if (IsDatabaseFileName(name))
      paths.push_back(base + name);
  }
  SortByFileName(paths);
  return true;
}

} // namespace outline
