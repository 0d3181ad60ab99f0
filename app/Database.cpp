#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "app/ViewerApplication.h"
#include "odx/OdxIndex.h"
#include "outline/DatabaseFiles.h"
#include "platform/Folder.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include <algorithm>
#include <vector>

// A folder as one database in the window: the menu bar that opens one,
// and, for a single file whose references name documents that are not
// loaded, the offer to open the folder it lies in instead, keeping the
// selection.

using outline::kNoNode;
using outline::NodeHandle;

void TfrmODXViewer::CreateMenuBar() {
  auto *bar = new QMenuBar(this);
  bar->setObjectName(QStringLiteral("menuBar"));
  fileMenu_ = bar->addMenu(tr("&File"));
  fileMenu_->setObjectName(QStringLiteral("menuFile"));
  fileMenu_->addAction(findChild<QAction *>(QStringLiteral("actOpen")));
  QAction *openFolder = fileMenu_->addAction(
      QIcon::fromTheme(QStringLiteral("folder-open")), tr("Open &Folder..."));
  openFolder->setObjectName(QStringLiteral("actOpenFolder"));
  openFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  addAction(openFolder);
  connect(openFolder, &QAction::triggered, this,
          [this] { Run(&TfrmODXViewer::cmdOpenFolderClick); });
  fileMenu_->addSeparator();
  QAction *quit = fileMenu_->addAction(
      QIcon::fromTheme(QStringLiteral("application-exit")), tr("&Quit"));
  quit->setObjectName(QStringLiteral("actQuit"));
  quit->setShortcuts(QKeySequence::Quit);
  addAction(quit);
  connect(quit, &QAction::triggered, this, &QWidget::close);
  QMenu *view = bar->addMenu(tr("&View"));
  view->setObjectName(QStringLiteral("menuView"));
  view->addAction(unresolved_);
  view->addAction(showNames_);
  layout()->setMenuBar(bar);
  // Like the status line, the menu bar adds to the designed client area.
  menuHeight_ = bar->sizeHint().height();
  resize(width(), height() + menuHeight_);

  lblNotLoaded_ = new QLabel(statusLine_);
  lblNotLoaded_->setObjectName(QStringLiteral("lblNotLoaded"));
  lblNotLoaded_->setTextFormat(Qt::RichText);
  lblNotLoaded_->setText(
      QStringLiteral("<a href=\"folder\">%1</a>").arg(tr("Open the Folder")));
  lblNotLoaded_->setVisible(false);
  // First of the permanent widgets, after the path.
  statusLine_->insertPermanentWidget(1, lblNotLoaded_);
  connect(lblNotLoaded_, &QLabel::linkActivated, this, [this] {
    app::ViewerApplication::Guard([this] { OpenContainingFolder(); });
  });
}

void TfrmODXViewer::cmdOpenFolderClick() {
  // The dialog starts at the open folder, or at the open file's.
  const QString current = ui->txtODXFilePath->text();
  const QFileInfo info(current);
  QString start;
  if (!current.isEmpty() && info.isDir())
    start = info.absoluteFilePath();
  else if (!current.isEmpty() && info.absoluteDir().exists())
    start = info.absolutePath();
  QString folder;
  if (!services_.files->ChooseFolderToOpen(this, start, folder))
    return;
  OpenPickedFile(folder);
}

// After a build: a single file whose references name documents that are
// not loaded may find them in its folder.
void TfrmODXViewer::OfferFolder() {
  lblNotLoaded_->setVisible(false);
  const QString path = ui->txtODXFilePath->text();
  if (items_.GetCount() == 0 || path.isEmpty() ||
      platform::IsFolder(reinterpret_cast<const char16_t *>(path.utf16())))
    return;
  const std::size_t notLoaded = odx_->NotLoadedCount();
  if (notLoaded == 0)
    return;
  const QString says =
      notLoaded == 1
          ? tr("1 reference points to a document that is not loaded")
          : tr("%1 references point to documents that are not loaded")
                .arg(notLoaded);
  // Said once after the build; the link stays until the next one.
  statusLine_->showMessage(says);
  lblNotLoaded_->setToolTip(says);
  lblNotLoaded_->setVisible(true);
}

// Opens the open file's folder as one database; the selection moves to the
// same element there, below the file's node, where it exists.
void TfrmODXViewer::OpenContainingFolder() {
  const QString path = ui->txtODXFilePath->text();
  const QString fileName = outline::FileNameOf(path);
  std::vector<uint32_t> rows;
  for (NodeHandle n = SelectedItem(); n != kNoNode; n = items_.Parent(n))
    rows.push_back(items_.Row(n));
  std::reverse(rows.begin(), rows.end());
  OpenPickedFile(QFileInfo(path).absolutePath());
  if (rows.empty())
    return;
  NodeHandle file = kNoNode;
  for (uint32_t r = 0, n = items_.ChildCount(kNoNode); r < n; ++r) {
    const NodeHandle top = items_.Child(kNoNode, r);
    if (items_.GetText(top).toQString() == fileName) {
      file = top;
      break;
    }
  }
  NodeHandle same = file;
  for (std::size_t i = 0; i < rows.size() && same != kNoNode; ++i)
    same = items_.Child(same, rows[i]);
  if (same != kNoNode)
    ShowItem(same);
}
