#include "desktop/Handoffs.h"

#include "desktop/cvexDir.h"
#include "desktop/cvexParseFileString.h"

#include <QDir>
#include <QSaveFile>
#include <QStringList>

namespace desktop {

namespace {

// The reader's request is `/a "search=TEXT" FOLDERodx.pdf`: its switch, the
// search and the document.
constexpr char kRequestStart[] = "/a \"search=";
constexpr char kRequestMiddle[] = "\" ";
constexpr char kDocument[] = "odx.pdf";
constexpr qsizetype kSwitchLength = 2; // "/a"
constexpr qsizetype kSearchStart = 4;  // past `/a "`
constexpr qsizetype kStartLength = sizeof kRequestStart - 1;
constexpr qsizetype kMiddleLength = sizeof kRequestMiddle - 1;

QString Text(const cvexString &s) {
  return s.buffer ? QString::fromUtf16(s.buffer, s.Length()) : QString();
}

void OpenOrSayWhyNot(const QString &path, MessageSink &messages, Shell &shell,
                     QObject *owner) {
  if (!shell.OpenAsXml(owner, path))
    messages.ShowMessage(
        QStringLiteral("No application for XML or plain text files was "
                       "found to show the file."),
        QStringLiteral("Wren ODX"), MessageIcon::Information);
}

} // namespace

void SearchSpec(const cvexString &searchText, const cvexString &appDir,
                MessageSink &messages, Shell &shell, QObject *owner) {
  cvexString pdf(255, 50);
  pdf.Assign(appDir);
  pdf.AppendAnsi(kDocument);
  if (!cvexDir().Exists(pdf)) {
    // Nothing to search, so no reader needs closing either.
    messages.ShowMessage(
        QStringLiteral("The ODX standard was not found: copy odx.pdf to ") +
            Text(appDir) + u'.',
        QStringLiteral("ODX Viewer"), MessageIcon::Information);
    return;
  }
  messages.ShowMessage(QStringLiteral("Close Acrobat Reader"),
                       QStringLiteral("ODX Viewer"), MessageIcon::None);

  cvexString parameters(255, 50);
  parameters.AssignAnsi(kRequestStart);
  parameters.Append(searchText);
  parameters.AppendAnsi(kRequestMiddle);
  parameters.Append(appDir);
  parameters.AppendAnsi(kDocument);

  // The pieces are cut where they were joined, never found again by
  // quoting rules: a quote in the text or a space in the folder would split
  // them elsewhere.
  const QString &request = parameters.AsWide();
  const qsizetype textEnd = kStartLength + searchText.Length();
  shell.StartProgram(owner, QStringLiteral("acrord32.exe"),
                     {request.left(kSwitchLength),
                      request.mid(kSearchStart, textEnd - kSearchStart),
                      request.mid(textEnd + kMiddleLength)});
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

  OpenOrSayWhyNot(toOpen.AsWide(), messages, shell, owner);
}

void ViewBytesInXml(std::span<const unsigned char> bytes, const QString &name,
                    const QString &key, const cvexString &appDir,
                    ViewCopies &copies, MessageSink &messages, Shell &shell,
                    QObject *owner) {
  const auto data = reinterpret_cast<const char *>(bytes.data());
  const auto size = static_cast<qint64>(bytes.size());
  QString target = Text(appDir) + QStringLiteral("junk.xml");
  QSaveFile junk(target);
  if (!junk.open(QIODevice::WriteOnly) || junk.write(data, size) != size ||
      !junk.commit()) {
    // The viewer may choose its highlighting by the ending.
    const bool xml = name.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive);
    target =
        copies.Write(key, xml ? name : name + QStringLiteral(".xml"), bytes);
  }
  if (target.isEmpty()) {
    messages.ShowMessage(
        QStringLiteral("The document could not be written for viewing."),
        QStringLiteral("Wren ODX"), MessageIcon::Information);
    return;
  }
  OpenOrSayWhyNot(target, messages, shell, owner);
}

void ViewBytes(std::span<const unsigned char> bytes, const QString &name,
               const QString &key, ViewCopies &copies, MessageSink &messages,
               Shell &shell, QObject *owner) {
  const QString target = copies.Write(key, name, bytes);
  if (target.isEmpty()) {
    messages.ShowMessage(
        QStringLiteral("%1 could not be written for viewing.").arg(name),
        QStringLiteral("Wren ODX"), MessageIcon::Information);
    return;
  }
  if (!shell.OpenFile(owner, target))
    messages.ShowMessage(
        QStringLiteral("No application was found to show %1.").arg(name),
        QStringLiteral("Wren ODX"), MessageIcon::Information);
}

} // namespace desktop
