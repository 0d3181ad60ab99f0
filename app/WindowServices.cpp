#include "app/WindowServices.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace app {

QString QtNameFilter(const QString &filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  if (parts.size() < 2)
    return filter;
  QStringList entries;
  // Pairs of description and patterns; a description without patterns at
  // the end is dropped.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns =
        parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString &p : patterns)
      p = p.trimmed();
    entries << parts[i] + QLatin1String(" (") +
                   patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return entries.join(QLatin1String(";;"));
}

bool DialogFileChooser::ChooseFileToOpen(QWidget *owner, const QString &filter,
                                         const QString &folder, int selected,
                                         QString &fileName) {
  const QStringList entries = QtNameFilter(filter).split(QStringLiteral(";;"));
  QString chosenEntry = entries.value(selected);
  // The patterns stay out of the shown entry: the description names them.
  const QString chosen = QFileDialog::getOpenFileName(
      owner, QString(), folder, entries.join(QStringLiteral(";;")),
      &chosenEntry, QFileDialog::HideNameFilterDetails);
  if (chosen.isEmpty())
    return false;
  fileName = chosen;
  return true;
}

bool DialogFileChooser::ChooseFolderToOpen(QWidget *owner,
                                           const QString &folder,
                                           QString &folderName) {
  const QString chosen =
      QFileDialog::getExistingDirectory(owner, QString(), folder);
  if (chosen.isEmpty())
    return false;
  folderName = chosen;
  return true;
}

void BoxMessageSink::ShowMessage(const QString &text, const QString &caption,
                                 desktop::MessageIcon icon) {
  ShowDetailedMessage(text, caption, icon, QString());
}

void BoxMessageSink::ShowDetailedMessage(const QString &text,
                                         const QString &caption,
                                         desktop::MessageIcon icon,
                                         const QString &details) {
  QMessageBox box(icon == desktop::MessageIcon::Information
                      ? QMessageBox::Information
                      : QMessageBox::NoIcon,
                  caption, text, QMessageBox::Ok, owner_);
  box.setInformativeText(details);
  box.exec();
}

} // namespace app
