#include "desktop/Handoffs.h"

#include "desktop/cvexDir.h"
#include "desktop/cvexParseFileString.h"

#include <QByteArray>

namespace desktop {

namespace {

// An empty conversion is still handed over as "" rather than as no text.
QByteArray AnsiOrEmpty(cvexString &text) {
  const QByteArray &ansi = text.AsAnsi();
  return ansi.isEmpty() ? QByteArray("") : ansi;
}

} // namespace

void SearchSpec(const cvexString &searchText, const cvexString &appDir,
                MessageSink &messages, Shell &shell, QObject *owner) {
  messages.ShowMessage(QStringLiteral("Close Acrobat Reader"),
                       QStringLiteral("ODX Viewer"), MessageIcon::None);

  cvexString parameters(255, 50);
  parameters.AssignAnsi("/a \"search=");
  parameters.Append(searchText);
  parameters.AppendAnsi("\" ");
  parameters.Append(appDir);
  parameters.AppendAnsi("odx.pdf");

  shell.ShellExecute(owner, "open", "acrord32.exe", AnsiOrEmpty(parameters));
}

void ViewInXml(const cvexString &path, const cvexString &appDir,
               MessageSink &messages, Shell &shell, QObject *owner) {
  cvexDir dir;
  if (!dir.Exists(path)) {
    messages.ShowMessage(QStringLiteral("The file does not exist."),
                         QStringLiteral("Wren ODX"), MessageIcon::Information);
    return;
  }

  cvexString toOpen(255, 50);
  toOpen.Assign(path);

  cvexParseFileString parts(path);
  cvexString extension;
  extension.Assign(parts.extension);
  extension.ToLower();
  if (extension.EqualsAnsi(".odx")) {
    cvexString target(255, 50);
    target.Assign(appDir);
    target.AppendAnsi("junk.xml");
    bool copied = false;
    dir.Copy(path, target, &copied);
    if (copied)
      toOpen.Assign(target);
  }

  shell.ShellExecute(owner, "open", AnsiOrEmpty(toOpen), QByteArray());
}

} // namespace desktop
