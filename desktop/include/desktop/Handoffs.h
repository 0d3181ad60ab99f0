#pragma once

#include "desktop/Messages.h"
#include "desktop/Shell.h"
#include "desktop/ViewCopies.h"
#include "foundation/cvexString.h"

#include <span>

class QObject;

namespace desktop {

// The two buttons that hand work to outside programs, without the window:
// it passes the text of its edit box, the application directory (with its
// trailing separator) and itself as owner.

// Asks the PDF reader to search odx.pdf in appDir for searchText, after
// telling the user to close a reader that may already run.  Without
// odx.pdf it only says where the file belongs.
void SearchSpec(const cvexString &searchText, const cvexString &appDir,
                MessageSink &messages, Shell &shell, QObject *owner);

// Opens path in the desktop's application for XML, and says so when there
// is none; an .odx file is first copied to junk.xml in appDir so that it
// opens as XML.  When that copy fails the file itself is opened rather than
// an old junk.xml.
void ViewInXml(const cvexString &path, const cvexString &appDir,
               MessageSink &messages, Shell &shell, QObject *owner);

// The same for a document that has no file of its own (a member of a
// package, named `name`): its bytes go to junk.xml in appDir, written as a
// copy is (under a temporary name, then renamed), or to the private copy
// for `key` when appDir may not be written, and that file is opened.
void ViewBytesInXml(std::span<const unsigned char> bytes, const QString &name,
                    const QString &key, const cvexString &appDir,
                    ViewCopies &copies, MessageSink &messages, Shell &shell,
                    QObject *owner);

// Any other bytes without a file (a picture, a script in a package): its
// private copy for `key`, named `name`, opens in the desktop's application
// for its type, and the user is told when there is none.
void ViewBytes(std::span<const unsigned char> bytes, const QString &name,
               const QString &key, ViewCopies &copies, MessageSink &messages,
               Shell &shell, QObject *owner);

} // namespace desktop
