#pragma once

// Which application a freedesktop.org desktop opens a type with: the
// association lists (mimeapps.list, mimeinfo.cache) and the desktop entries
// they name.  QtCore only; every folder comes from the XDG variables, so a
// test points them at a scratch tree.

#include <QHash>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace desktop::xdg {

// The folders the lookup reads, highest precedence first.
struct Folders {
  QStringList config;       // $XDG_CONFIG_HOME, then $XDG_CONFIG_DIRS
  QStringList applications; // applications/ in $XDG_DATA_HOME, $XDG_DATA_DIRS
  QStringList desktops;     // $XDG_CURRENT_DESKTOP, lower-case

  static Folders FromEnvironment();
};

// Desktop file ids for mimeType, best first: every [Default Applications]
// entry, then per folder its [Added Associations] and, for an applications
// folder, its mimeinfo.cache; a [Removed Associations] entry drops an id
// from its own folder on.  Ids may repeat and need not be installed.
QStringList AssociatedIds(const Folders &folders, const QString &mimeType);

// The [Desktop Entry] keys of the entry with this id, escapes undone; empty
// when no applications folder holds it.  The id "a-b.desktop" names
// a-b.desktop or a/b.desktop, the first folder holding either winning.
QHash<QString, QString> ReadDesktopEntry(const Folders &folders,
                                         const QString &id);

// An Exec value as program and arguments: split at blanks outside double
// quotes, with \" \` \$ \\ inside them standing for the character.  Outside
// quotes %f and %F become path, %u and %U its file URL, %% a percent sign,
// and other field codes vanish (an argument that held only one goes);
// without a file code the path is appended.  Empty for an unterminated
// quote or no program.
QStringList ExpandExec(QStringView exec, const QString &path);

} // namespace desktop::xdg
