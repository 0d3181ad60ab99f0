#pragma once

#include "desktop/Messages.h"

#include <QString>

class QWidget;

namespace desktop {
class Shell;
class SettingsStore;
} // namespace desktop

namespace app {

// The open-file dialog, so tests can pick or cancel without a modal dialog.
class FileChooser {
public:
  virtual ~FileChooser() = default;
  // `filter` is in the form "Description|pattern;pattern|Description|...";
  // the dialog opens in `folder` (empty: where it likes) with entry
  // `selected` chosen.  True and the full path in `fileName` when the user
  // confirmed a file.
  virtual bool ChooseFileToOpen(QWidget *owner, const QString &filter,
                                const QString &folder, int selected,
                                QString &fileName) = 0;
  // The same for a folder, opened as one database.
  virtual bool ChooseFolderToOpen(QWidget *owner, const QString &folder,
                                  QString &folderName) = 0;
};

// Every outside effect the main window has.  A null entry gets the real
// implementation; tests pass recording fakes.
struct WindowServices {
  desktop::MessageSink *messages = nullptr;
  FileChooser *files = nullptr;
  desktop::Shell *shell = nullptr;
  desktop::SettingsStore *settings = nullptr;
};

// "Desc|a;b|Other|c" becomes Qt's "Desc (a b);;Other (c)".
QString QtNameFilter(const QString &filter);

class DialogFileChooser final : public FileChooser {
public:
  bool ChooseFileToOpen(QWidget *owner, const QString &filter,
                        const QString &folder, int selected,
                        QString &fileName) override;
  bool ChooseFolderToOpen(QWidget *owner, const QString &folder,
                          QString &folderName) override;
};

// Modal QMessageBox with one OK button, owned by `owner`.
class BoxMessageSink final : public desktop::MessageSink {
public:
  explicit BoxMessageSink(QWidget *owner) : owner_(owner) {}
  void ShowMessage(const QString &text, const QString &caption,
                   desktop::MessageIcon icon) override;
  void ShowDetailedMessage(const QString &text, const QString &caption,
                           desktop::MessageIcon icon,
                           const QString &details) override;

private:
  QWidget *owner_;
};

} // namespace app
