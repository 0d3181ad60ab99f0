#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "WindowParts.h"
#include "app/ViewerApplication.h"
#include "outline/SubtreeExpander.h"

#include <QKeyEvent>
#include <QTimer>
#include <QTreeView>

// Which keys reach which handler: Enter in the path box and the two search
// boxes, the outline's "*", the keyboard's context menu in the trees, and
// files dragged onto the edit boxes.

bool TfrmODXViewer::RouteKey(QObject *box, QKeyEvent &event) {
  // Qt delivers key down and the typed character as one event: the key
  // handler runs first, then the character handler decides whether the box
  // sees the event at all.  Enter types "\r", or nothing on some platforms.
  int key = event.key();
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  QChar typed = enter ? QChar(u'\r')
                      : (event.text().isEmpty() ? QChar() : event.text()[0]);
  if (box == ui->txtFilter) {
    txtFilterKeyDown(key, event.modifiers());
    txtFilterKeyPress(typed);
  } else {
    txtSearchSpecKeyDown(key, event.modifiers());
    txtSearchSpecKeyPress(typed);
  }
  return enter && typed.isNull();
}

bool TfrmODXViewer::eventFilter(QObject *watched, QEvent *event) {
  if ((watched == ui->treeItems->viewport() ||
       watched == ui->treeResults->viewport()) &&
      ReferenceMouse(watched, *event))
    return true;
  switch (event->type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove:
  case QEvent::Drop:
    // A file dropped on an edit box opens like one dropped anywhere else,
    // instead of typing its URL into the box.
    if (TakeFileDrag(*event))
      return true;
    break;
  case QEvent::KeyPress: {
    const auto &key = *static_cast<QKeyEvent *>(event);
    // Qt's own "expand everything below" blocks on a big outline.
    if (watched == ui->treeItems && key.key() == Qt::Key_Asterisk) {
      app::ViewerApplication::Guard(
          [this] { expander_->ExpandBelow(SelectedItem()); });
      return true;
    }
    if (watched == ui->treeResults && hitList_->Key(key))
      return true;
    // The keyboard's context menu opens at the current row, not wherever
    // the platform puts it.
    QTreeView *tree = watched == ui->treeItems     ? ui->treeItems
                      : watched == ui->treeResults ? ui->treeResults
                                                   : nullptr;
    if (tree &&
        (key.key() == Qt::Key_Menu ||
         (key.key() == Qt::Key_F10 && key.modifiers() == Qt::ShiftModifier))) {
      app::ViewerApplication::Guard([this, tree] { ShowContextMenu(*tree); });
      return true;
    }
    break;
  }
  default:
    break;
  }
  if (watched == ui->txtODXFilePath && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    // Enter opens the typed path as if it had been picked.
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      app::ViewerApplication::Guard(
          [this] { OpenPickedFile(ui->txtODXFilePath->text()); });
      return true;
    }
  }
  if (watched == ui->txtFilter || watched == ui->txtSearchSpec) {
    if (event->type() == QEvent::KeyPress) {
      auto &key = *static_cast<QKeyEvent *>(event);
      // An Enter whose handler failed is still not typed into the box.
      bool eaten = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
      app::ViewerApplication::Guard([&] { eaten = RouteKey(watched, key); });
      return eaten;
    }
    if (watched == ui->txtSearchSpec && event->type() == QEvent::FocusIn)
      Run(&TfrmODXViewer::txtSearchSpecEnter);
  }
  return QWidget::eventFilter(watched, event);
}
