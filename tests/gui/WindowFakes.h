#pragma once

// Recording stand-ins for the window's outside effects, shared by the GUI
// suites.

#include "platform/Shell.h"
#include "viewer/Surroundings.h"
#include "viewer/WindowServices.h"

#include <QByteArrayList>
#include <QList>
#include <QStringList>
#include <QWidget>

#include <stdexcept>

namespace gui_test {

struct Shown {
  QString text;
  QString caption;
  viewer::MessageIcon icon;
};

class RecordingMessages final : public viewer::MessageSink {
public:
  QList<Shown> shown;
  const char *failWith = nullptr; // throws instead of showing
  void ShowMessage(const QString &text, const QString &caption,
                   viewer::MessageIcon icon) override {
    if (failWith)
      throw std::runtime_error(failWith);
    shown.append({text, caption, icon});
  }
  QStringList Texts() const {
    QStringList texts;
    for (const Shown &s : shown)
      texts << s.text;
    return texts;
  }
};

class ScriptedChooser final : public viewer::FileChooser {
public:
  QString answer; // empty: the user cancels
  int calls = 0;
  QString filter;
  const char *failWith = nullptr; // throws instead of asking
  bool ChooseFileToOpen(QWidget *, const QString &f,
                        QString &fileName) override {
    ++calls;
    filter = f;
    if (failWith)
      throw std::runtime_error(failWith);
    if (answer.isEmpty())
      return false;
    fileName = answer;
    return true;
  }
};

class RecordingShell final : public platform::Shell {
public:
  QList<QByteArrayList> calls;
  void ShellExecute(QObject *, const QByteArray &verb, const QByteArray &file,
                    const QByteArray &parameters) override {
    calls.append({verb, file, parameters});
  }
};

template <typename T> T *Control(QWidget &w, const char *name) {
  T *control = w.findChild<T *>(QLatin1String(name));
  if (!control)
    qFatal("no control %s", name);
  return control;
}

} // namespace gui_test
