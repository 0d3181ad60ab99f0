#pragma once

// Which application a freedesktop.org desktop opens a file with, and
// starting it, through GLib's GIO: the association lists, the desktop
// entries and their Exec lines are read as every GTK and GNOME program reads
// them.  GIO reads the XDG folders once per process.

#include <QString>
#include <QStringList>

namespace desktop::gio {

// Desktop entry ids that show files of these types, best first: for each
// type its default application, then the recommended ones (those that name
// the type), then the fallbacks (those for a type it derives from).  Entries
// that need a terminal come after all others; ownId never comes; each id
// once.
QStringList Applications(const QStringList &types, const QString &ownId);

// The type of a file by its name and first bytes ("text/x-python").
QString ContentType(const QString &path);

// The name an entry shows in menus; the id when there is none.
QString DisplayName(const QString &id);

// Starts the entry with the file, in a terminal when the entry asks for one
// (and fails when no terminal is installed).  The started process, which the
// caller must reap; 0 when it was started without one being known (through
// D-Bus); -1 with `error` set when nothing was started.
qint64 Launch(const QString &id, const QString &path, QString &error);

} // namespace desktop::gio
