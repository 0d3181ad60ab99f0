#pragma once

#include <QApplication>
#include <QString>

#include <functional>

namespace app {

// Qt lets no exception travel through its event loop, so every event is
// delivered here inside a catch: what a handler throws is shown in the
// standard exception box and the program goes on with the next event.
class ViewerApplication : public QApplication {
  Q_OBJECT
public:
  using ExceptionReporter = std::function<void(const QString &message)>;

  ViewerApplication(int &argc, char **argv);

  bool notify(QObject *receiver, QEvent *event) override;

  // Shows `message` through the current reporter (the message box unless
  // a test installed another).
  static void ShowException(const QString &message);
  // Replaces the reporter; an empty function puts the message box back.
  static void SetExceptionReporter(ExceptionReporter reporter);

  static void ShowExceptionBox(const QString &message);

  // Runs `handler` and shows what it throws, so that the exception never
  // unwinds through Qt's own frames (which would skip their clean-up).
  template <typename Handler> static void Guard(Handler &&handler) {
    try {
      handler();
    } catch (...) {
      ShowCurrentException();
    }
  }
  // Only inside a catch block: shows the exception being handled.
  static void ShowCurrentException();

private:
  ExceptionReporter reporter_;
};

} // namespace app
