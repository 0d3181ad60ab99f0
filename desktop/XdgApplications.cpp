#include "XdgApplications.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

namespace desktop::xdg {

namespace {

using Group = QHash<QString, QString>;
using Groups = QHash<QString, Group>;

// Relative entries are not allowed in the XDG variables and are ignored; an
// unset or empty list takes the defaults.
QStringList Paths(const char *variable, const QStringList &defaults) {
  QStringList paths;
  for (const QString &path :
       qEnvironmentVariable(variable).split(u':', Qt::SkipEmptyParts))
    if (QDir::isAbsolutePath(path))
      paths << path;
  return paths.isEmpty() ? defaults : paths;
}

// The key-file format shared by desktop entries and association lists:
// [Group] headers, Key=Value lines, # comments.  The first of a repeated key
// counts.
Groups ReadGroups(const QString &path) {
  Groups groups;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return groups;
  const QString text = QString::fromUtf8(file.readAll());
  QString group;
  for (QStringView line : QStringView(text).split(u'\n')) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith(u'#'))
      continue;
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      group = line.sliced(1, line.size() - 2).toString();
      continue;
    }
    const qsizetype equals = line.indexOf(u'=');
    if (group.isEmpty() || equals <= 0)
      continue;
    Group &keys = groups[group];
    const QString key = line.first(equals).trimmed().toString();
    if (!keys.contains(key))
      keys.insert(key, line.sliced(equals + 1).trimmed().toString());
  }
  return groups;
}

QStringList Ids(const Groups &groups, const char *group,
                const QString &mimeType) {
  return groups.value(QString::fromLatin1(group))
      .value(mimeType)
      .split(u';', Qt::SkipEmptyParts);
}

// \s \n \t \r \\ in a string value.
QString Unescaped(QStringView value) {
  QString out;
  out.reserve(value.size());
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] != u'\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const QChar next = value[++i];
    if (next == u's')
      out += u' ';
    else if (next == u'n')
      out += u'\n';
    else if (next == u't')
      out += u'\t';
    else if (next == u'r')
      out += u'\r';
    else if (next == u'\\')
      out += u'\\';
    else
      out += QStringLiteral("\\") + next;
  }
  return out;
}

// The file of the entry with this id in one applications folder: id
// "a-b.desktop" is a-b.desktop or a/b.desktop.
QString EntryFile(const QString &folder, const QString &id) {
  const QString direct = folder + u'/' + id;
  if (QFileInfo(direct).isFile())
    return direct;
  if (!id.contains(u'-'))
    return {};
  QDirIterator it(folder, {QStringLiteral("*.desktop")}, QDir::Files,
                  QDirIterator::Subdirectories);
  const QDir base(folder);
  while (it.hasNext()) {
    const QString file = it.next();
    if (base.relativeFilePath(file).replace(u'/', u'-') == id)
      return file;
  }
  return {};
}

} // namespace

Folders Folders::FromEnvironment() {
  const QString home = QDir::homePath();
  Folders f;
  f.config = Paths("XDG_CONFIG_HOME", {home + "/.config"}) +
             Paths("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
  for (const QString &data :
       Paths("XDG_DATA_HOME", {home + "/.local/share"}) +
           Paths("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"),
                                   QStringLiteral("/usr/share")}))
    f.applications << QDir(data).filePath(QStringLiteral("applications"));
  for (const QString &desktop : qEnvironmentVariable("XDG_CURRENT_DESKTOP")
                                    .split(u':', Qt::SkipEmptyParts))
    f.desktops << desktop.toLower();
  return f;
}

QStringList AssociatedIds(const Folders &folders, const QString &mimeType) {
  QStringList defaults, associated;
  QSet<QString> removed;
  for (const QString &folder : folders.config + folders.applications) {
    // A desktop's own list may only name defaults.
    for (const QString &desktop : folders.desktops)
      defaults << Ids(ReadGroups(folder + u'/' + desktop + "-mimeapps.list"),
                      "Default Applications", mimeType);
    const Groups list = ReadGroups(folder + "/mimeapps.list");
    defaults << Ids(list, "Default Applications", mimeType);
    for (const QString &id : Ids(list, "Removed Associations", mimeType))
      removed.insert(id);
    QStringList found = Ids(list, "Added Associations", mimeType);
    if (folders.applications.contains(folder))
      found << Ids(ReadGroups(folder + "/mimeinfo.cache"), "MIME Cache",
                   mimeType);
    for (const QString &id : found)
      if (!removed.contains(id))
        associated << id;
  }
  return defaults + associated;
}

QHash<QString, QString> ReadDesktopEntry(const Folders &folders,
                                         const QString &id) {
  for (const QString &folder : folders.applications) {
    const QString file = EntryFile(folder, id);
    if (file.isEmpty())
      continue;
    Group entry = ReadGroups(file).value(QStringLiteral("Desktop Entry"));
    for (QString &value : entry)
      value = Unescaped(value);
    return entry;
  }
  return {};
}

QStringList ExpandExec(QStringView exec, const QString &path) {
  const QString url = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
  QStringList command;
  QString current;
  bool inArgument = false, quoted = false, placed = false;
  for (qsizetype i = 0; i < exec.size(); ++i) {
    const QChar c = exec[i];
    if (quoted) {
      // Field codes do not belong here, and one put here anyway is not
      // expanded: a file name must never become part of, say, a script.
      if (c == u'"')
        quoted = false;
      else if (c == u'\\' && i + 1 < exec.size() &&
               QStringView(u"\"`$\\").contains(exec[i + 1]))
        current += exec[++i];
      else
        current += c;
    } else if (c == u' ' || c == u'\t' || c == u'\n') {
      if (inArgument)
        command << current;
      current.clear();
      inArgument = false;
    } else if (c == u'"') {
      quoted = inArgument = true;
    } else if (c == u'%' && i + 1 < exec.size()) {
      // Other codes vanish, and an argument of nothing else goes with them.
      const QChar code = exec[++i];
      if (code == u'f' || code == u'F' || code == u'u' || code == u'U') {
        current += code == u'f' || code == u'F' ? path : url;
        placed = inArgument = true;
      } else if (code == u'%') {
        current += u'%';
        inArgument = true;
      }
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument)
    command << current;
  if (quoted || command.isEmpty() || command.first().isEmpty())
    return {};
  if (!placed)
    command << path;
  return command;
}

} // namespace desktop::xdg
