#pragma once

// Recording stand-ins for the window's outside effects and a harness that
// wires them to a window, shared by the GUI suites.

#include "app/ViewerApplication.h"
#include "app/WindowServices.h"
#include "app/unitFrmODXMainForm.h"
#include "desktop/SettingsStore.h"
#include "tests/desktop/RecordingMessages.h"
#include "tests/desktop/RecordingShell.h"

#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <array>
#include <memory>
#include <stdexcept>

namespace gui_test {

inline const QString kCorpus = QStringLiteral(ODX_CORPUS_DIR);
inline const QString kSmallFile = kCorpus + "/cda__ISO_13400_2.odx-cs";
inline const QString kOtherFile = kCorpus + "/cda__DMC_DoIP.odx-d";

using desktop::RecordingMessages;

class ScriptedChooser final : public app::FileChooser {
public:
  QString answer; // empty: the user cancels
  int calls = 0;
  QString filter;
  QString folder;
  int selected = -1;
  const char *failWith = nullptr; // throws instead of asking
  bool ChooseFileToOpen(QWidget *, const QString &f, const QString &startIn,
                        int entry, QString &fileName) override {
    ++calls;
    filter = f;
    folder = startIn;
    selected = entry;
    if (failWith)
      throw std::runtime_error(failWith);
    if (answer.isEmpty())
      return false;
    fileName = answer;
    return true;
  }
  bool ChooseFolderToOpen(QWidget *, const QString &startIn,
                          QString &folderName) override {
    ++calls;
    folder = startIn;
    if (answer.isEmpty())
      return false;
    folderName = answer;
    return true;
  }
};

template <typename T> T *Control(QWidget &w, const char *name) {
  T *control = w.findChild<T *>(QLatin1String(name));
  if (!control)
    qFatal("no control %s", name);
  return control;
}

// A point on the text of a row, as a user clicks it: the column may reach
// far past the viewport when the tree scrolls sideways.
inline QPoint TextPoint(const QTreeView &tree, const QModelIndex &index) {
  const QRect row = tree.visualRect(index);
  return QPoint(row.left() + 30, row.center().y());
}

// The remembered path, or "<nothing stored>".
inline QString Stored() {
  desktop::UserSettingsStore store;
  std::array<char16_t, 1024> buffer{};
  int32_t length = 0;
  if (!store.ReadString(u"ODXViewerLastFile", buffer, length))
    return QStringLiteral("<nothing stored>");
  return QString::fromUtf16(buffer.data(), length);
}

inline void Store(const QString &text) {
  desktop::UserSettingsStore store;
  QVERIFY(store.WriteString(u"ODXViewerLastFile", text.toStdU16String()));
}

// Delivers what is already queued (posted events, zero-time timers), so a
// test sees that nothing follows once the only timer that could start more
// is stopped: no pause, whatever the machine's load.
inline void Settle() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

// Fresh fakes and a scratch settings folder for every test function.
struct WindowHarness {
  std::unique_ptr<QTemporaryDir> config;
  RecordingMessages messages;
  ScriptedChooser chooser;
  desktop::RecordingShell shell;
  QStringList exceptions;

  void Reset() {
    config = std::make_unique<QTemporaryDir>();
    QVERIFY(config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config->path()));
    messages = RecordingMessages();
    chooser = ScriptedChooser();
    shell = desktop::RecordingShell();
    exceptions.clear();
    app::ViewerApplication::SetExceptionReporter(
        [this](const QString &m) { exceptions << m; });
  }

  std::unique_ptr<TfrmODXViewer> NewWindow() {
    return std::make_unique<TfrmODXViewer>(
        app::WindowServices{&messages, &chooser, &shell, nullptr});
  }

  // Shows and activates the window as the program does; FormShow runs here.
  static void Show(TfrmODXViewer &w) {
    w.show();
    QApplication::setActiveWindow(&w);
    if (!QTest::qWaitForWindowActive(&w))
      qFatal("window never became active");
  }

  std::unique_ptr<TfrmODXViewer> ShownWindow() {
    auto w = NewWindow();
    Show(*w);
    return w;
  }

  void Browse(TfrmODXViewer &w, const QString &file) {
    chooser.answer = file;
    QTest::mouseClick(Control<QPushButton>(w, "cmdBrowse"), Qt::LeftButton);
  }

  static void Search(TfrmODXViewer &w, const QString &term) {
    Control<QLineEdit>(w, "txtFilter")->setText(term);
    w.cmdSearchClick();
  }
};

} // namespace gui_test
