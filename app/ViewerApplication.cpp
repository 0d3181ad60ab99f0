#include "app/ViewerApplication.h"

#include <QMessageBox>

#include <exception>
#include <utility>

namespace app {

namespace {
// The reporter lives in the application object, the one owner of
// program-wide state; without a ViewerApplication there is only the box.
ViewerApplication *Instance() {
  return qobject_cast<ViewerApplication *>(QCoreApplication::instance());
}
} // namespace

ViewerApplication::ViewerApplication(int &argc, char **argv)
    : QApplication(argc, argv) {}

bool ViewerApplication::notify(QObject *receiver, QEvent *event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
  }
  return false;
}

void ViewerApplication::ShowCurrentException() {
  try {
    throw;
  } catch (const std::exception &e) {
    ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    // An exception of a foreign kind carries no text we could show.
    ShowException(QString());
  }
}

void ViewerApplication::ShowException(const QString &message) {
  ViewerApplication *app = Instance();
  if (app && app->reporter_)
    app->reporter_(message);
  else
    ShowExceptionBox(message);
}

void ViewerApplication::SetExceptionReporter(ExceptionReporter reporter) {
  if (ViewerApplication *app = Instance())
    app->reporter_ = std::move(reporter);
}

void ViewerApplication::ShowExceptionBox(const QString &message) {
  QMessageBox::critical(QApplication::activeWindow(),
                        QApplication::applicationDisplayName(), message,
                        QMessageBox::Ok);
}

} // namespace app
