#pragma once

#include "desktop/Messages.h"
#include "desktop/Shell.h"
#include "foundation/cvexString.h"

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

} // namespace desktop
