#include "viewer/WindowServices.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace viewer {

QString QtNameFilter(const QString &filter) {
  const qsizetype bar = filter.indexOf(QLatin1Char('|'));
  if (bar < 0)
    return filter;
  const QString description = filter.left(bar);
  QStringList patterns =
      filter.mid(bar + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
  for (QString &p : patterns)
    p = p.trimmed();
  return description + QLatin1String(" (") + patterns.join(QLatin1Char(' ')) +
         QLatin1Char(')');
}

bool DialogFileChooser::ChooseFileToOpen(QWidget *owner, const QString &filter,
                                         QString &fileName) {
  // The patterns stay out of the shown entry: the description names them.
  const QString chosen = QFileDialog::getOpenFileName(
      owner, QString(), QString(), QtNameFilter(filter), nullptr,
      QFileDialog::HideNameFilterDetails);
  if (chosen.isEmpty())
    return false;
  fileName = chosen;
  return true;
}

void BoxMessageSink::ShowMessage(const QString &text, const QString &caption,
                                 MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Information ? QMessageBox::Information
                                                   : QMessageBox::NoIcon,
                  caption, text, QMessageBox::Ok, owner_);
  box.exec();
}

} // namespace viewer
