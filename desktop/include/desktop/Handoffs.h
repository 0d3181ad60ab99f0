#pragma once

#include "desktop/Messages.h"
#include "desktop/Shell.h"
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
// package): its bytes go to junk.xml in appDir, written as a copy is (under
// a temporary name, then renamed), or to a private temporary file when
// appDir may not be written, and that file is opened.
void ViewBytesInXml(std::span<const unsigned char> bytes,
                    const cvexString &appDir, MessageSink &messages,
                    Shell &shell, QObject *owner);

} // namespace desktop
