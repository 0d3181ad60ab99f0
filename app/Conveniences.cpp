#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "WindowParts.h"
#include "app/ViewerApplication.h"
#include "outline/FilterSearch.h"
#include "outline/OutlineModel.h"
#include "outline/OutlinePaths.h"
#include "outline/SubtreeExpander.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStatusBar>
#include <QUrl>

// Conveniences around the form: actions with standard shortcuts, context
// menus, stepping through hits, copying, expanding whole subtrees, the
// status line and dropped files.

namespace {

using app::SelectedNode;
using outline::kNoNode;
using outline::NodeHandle;

// The first local file among dropped URLs; empty when there is none.
QString DroppedFile(const QMimeData *mime) {
  if (!mime || !mime->hasUrls())
    return QString();
  for (const QUrl &url : mime->urls()) {
    if (!url.isLocalFile())
      continue;
    QString path = url.toLocalFile();
    if (!path.isEmpty() && !QFileInfo(path).isDir())
      return path;
  }
  return QString();
}

} // namespace

namespace app {

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent) {
  // A long path must not widen the window: the label takes what is left.
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
}

void ElidedLabel::SetFullText(const QString &text) {
  full_ = text;
  // One line whatever the labels hold (a description's first word may be a
  // line break).
  for (QChar &c : full_)
    if (c.unicode() < 0x20 || c == QChar::LineSeparator ||
        c == QChar::ParagraphSeparator)
      c = QLatin1Char(' ');
  setToolTip(PlainToolTip(full_.size() > 4000 ? full_.left(4000) : full_));
  Elide();
}

void ElidedLabel::resizeEvent(QResizeEvent *event) {
  QLabel::resizeEvent(event);
  Elide();
}

void ElidedLabel::Elide() {
  setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, width()));
}

TreeViewExpansion::TreeViewExpansion(QTreeView &tree,
                                     outline::OutlineModel &model)
    : tree_(tree), model_(model) {}

bool TreeViewExpansion::IsExpanded(NodeHandle node) const {
  return tree_.isExpanded(model_.IndexFromNode(node));
}

void TreeViewExpansion::SetExpanded(NodeHandle node, bool expanded) {
  const QModelIndex index = model_.IndexFromNode(node);
  if (expanded)
    tree_.expand(index);
  else
    tree_.collapse(index);
}

// While a relayout of the whole view is due, QTreeView only records an
// expanded or collapsed state instead of laying out the rows below at once
// (which costs a pass over every shown row per call).  Expanding the
// invalid index makes the relayout due and expands nothing.
void TreeViewExpansion::BeginSlice() {
  tree_.expandRecursively(QModelIndex(), 0);
}

} // namespace app

void TfrmODXViewer::createActions() {
  expansionView_ =
      std::make_unique<app::TreeViewExpansion>(*ui->treeItems, *itemsModel_);
  expander_ = std::make_unique<outline::SubtreeExpander>(
      *expansionView_, *itemsModel_, items_, expanderCursor_);
  auto make = [this](QWidget *owner, const char *name, const QString &text,
                     const char *iconName, auto handler) {
    auto *action = new QAction(text, owner);
    action->setObjectName(QLatin1String(name));
    if (iconName)
      action->setIcon(QIcon::fromTheme(QLatin1String(iconName)));
    connect(action, &QAction::triggered, this,
            [handler] { app::ViewerApplication::Guard(handler); });
    owner->addAction(action);
    return action;
  };
  QTreeView *items = ui->treeItems;
  QTreeView *results = ui->treeResults;

  // Window-wide.
  unresolved_ = make(this, "actUnresolved", tr("&Problems"), nullptr,
                     [this] { ListProblems(); });
  unresolved_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_U));
  showNames_ = make(this, "actShowNames", tr("Show &Names"), nullptr,
                    [this] { ShowNames(showNames_->isChecked()); });
  showNames_->setCheckable(true);
  make(this, "actOpen", tr("&Open..."), "document-open", [this] {
    cmdBrowseClick();
  })->setShortcuts(QKeySequence::Open);
  make(this, "actFind", tr("&Find"), "edit-find", [this] {
    FocusFilter();
  })->setShortcuts(QKeySequence::Find);
  make(this, "actFindNext", tr("Find &Next"), "go-down", [this] {
    StepHit(+1);
  })->setShortcuts(QKeySequence::FindNext);
  make(this, "actFindPrevious", tr("Find &Previous"), "go-up", [this] {
    StepHit(-1);
  })->setShortcuts(QKeySequence::FindPrevious);

  // The trees: their context menus list their actions; the shortcuts count
  // only while the tree has the focus.
  QAction *copy = make(items, "actCopyItem", tr("&Copy"), "edit-copy", [this] {
    const NodeHandle node = SelectedItem();
    if (node != kNoNode)
      CopyText(items_.GetText(node).toQString());
  });
  copy->setShortcuts(QKeySequence::Copy);
  make(items, "actCopyItemPath", tr("Copy &Path"), nullptr, [this] {
    const NodeHandle node = SelectedItem();
    if (node != kNoNode)
      CopyText(outline::ElementPath(items_, node));
  });
  make(items, "actExpandBelow", tr("&Expand All Below"), "list-add", [this] {
    expander_->ExpandBelow(SelectedItem());
  })->setShortcut(QKeySequence(Qt::Key_Asterisk));
  make(items, "actCollapseBelow", tr("C&ollapse All Below"), "list-remove",
       [this] { expander_->CollapseBelow(SelectedItem()); });

  QAction *copyHit =
      make(results, "actCopyHit", tr("&Copy"), "edit-copy", [this] {
        const NodeHandle hit = SelectedNode(*ui->treeResults, *resultsModel_);
        if (hit != kNoNode)
          CopyText(results_.GetText(hit).toQString());
      });
  copyHit->setShortcuts(QKeySequence::Copy);
  make(results, "actCopyHitPath", tr("Copy &Path"), nullptr, [this] {
    const NodeHandle target = SelectedHitTarget();
    if (target != kNoNode)
      CopyText(outline::ElementPath(items_, target));
  });

  // Names and references (References.cpp): in both trees, for the node or
  // the hit's node; Back, Forward and the unresolved list window-wide.
  for (QTreeView *tree : {items, results}) {
    const bool hits = tree == results;
    auto separator = new QAction(tree);
    separator->setSeparator(true);
    tree->addAction(separator);
    make(tree, hits ? "actHitDefinition" : "actGoToDefinition",
         tr("&Go to Definition"), "go-jump",
         [this, hits] {
           GoToDefinition(hits ? SelectedHitTarget() : SelectedItem());
         })
        ->setShortcut(QKeySequence(Qt::Key_F12));
    make(tree, hits ? "actHitUsages" : "actFindUsages", tr("Find &Usages"),
         "edit-find",
         [this, hits] {
           FindUsages(hits ? SelectedHitTarget() : SelectedItem());
         })
        ->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F12));
    tree->addAction(unresolved_);
    auto separator2 = new QAction(tree);
    separator2->setSeparator(true);
    tree->addAction(separator2);
    tree->addAction(showNames_);
  }
  make(this, "actBack", tr("&Back"), "go-previous", [this] {
    StepHistory(-1);
  })->setShortcuts(QKeySequence::Back);
  make(this, "actForward", tr("&Forward"), "go-next", [this] {
    StepHistory(+1);
  })->setShortcuts(QKeySequence::Forward);

  for (QTreeView *tree : {items, results}) {
    tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (QAction *action : tree->actions())
      if (action->parent() == tree)
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  }

  for (QTreeView *tree : {items, results})
    connect(tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this, tree](const QModelIndex &current) {
              app::ViewerApplication::Guard(
                  [&] { RevealLabel(*tree, current); });
            });
  // The box keeps the width the layout gives it; the whole path is one
  // hover away.
  connect(ui->txtODXFilePath, &QLineEdit::textChanged, this,
          [this](const QString &text) {
            ui->txtODXFilePath->setToolTip(app::PlainToolTip(text));
          });
  ui->txtODXFilePath->setToolTip(app::PlainToolTip(ui->txtODXFilePath->text()));

  expander_->SetFinishedHandler(
      [this](const outline::SubtreeExpander::Outcome &outcome) {
        ShowExpanderOutcome(outcome);
      });
}

void TfrmODXViewer::ShowContextMenu(QTreeView &tree) {
  const QRect viewport = tree.viewport()->rect();
  QRect row = tree.visualRect(tree.currentIndex());
  // Just below the start of the row's label, kept inside the view.
  QPoint at = row.isValid()
                  ? QPoint(row.left() + tree.iconSize().width(), row.bottom())
                  : viewport.topLeft();
  at.setX(std::clamp(at.x(), 0, std::max(viewport.width() - 1, 0)));
  at.setY(std::clamp(at.y(), 0, std::max(viewport.height() - 1, 0)));
  auto *menu = new QMenu(&tree);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->addActions(tree.actions());
  menu->popup(tree.viewport()->mapToGlobal(at));
}

void TfrmODXViewer::RevealLabel(QTreeView &tree, const QModelIndex &index) {
  if (!index.isValid())
    return;
  // A tree view scrolls only its one wide column into view, which for a
  // deep node leaves its label far to the right.
  const QRect row = tree.visualRect(index);
  const int width = tree.viewport()->width();
  const int margin = tree.indentation() * 2;
  if (row.left() >= 0 && row.left() < width - margin)
    return;
  QScrollBar *bar = tree.horizontalScrollBar();
  bar->setValue(bar->value() + row.left() - margin);
}

void TfrmODXViewer::CreateStatusLine() {
  statusLine_ = new QStatusBar(this);
  statusLine_->setObjectName(QStringLiteral("statusLine"));
  // The window frame resizes; a grip would only repeat it.
  statusLine_->setSizeGripEnabled(false);
  statusLine_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  lblNodePath_ = new app::ElidedLabel(statusLine_);
  lblNodePath_->setObjectName(QStringLiteral("lblNodePath"));
  lblNodeCount_ = new QLabel(statusLine_);
  lblNodeCount_->setObjectName(QStringLiteral("lblNodeCount"));
  lblBuildTime_ = new QLabel(statusLine_);
  lblBuildTime_->setObjectName(QStringLiteral("lblBuildTime"));
  statusLine_->addWidget(lblNodePath_, 1);
  statusLine_->addPermanentWidget(lblNodeCount_);
  statusLine_->addPermanentWidget(lblBuildTime_);
  ui->formLayout->addWidget(statusLine_);
  // The form's own controls keep their designed client area; the status
  // line adds below it.  Its height is settled again at the first show,
  // once it is styled for the screen.
  statusHeight_ = statusLine_->sizeHint().height();
  resize(width(), height() + statusHeight_);
  UpdateStatusLine();
}

void TfrmODXViewer::UpdateStatusLine() {
  lblNodePath_->SetFullText(outline::ElementPath(items_, SelectedItem()));
  lblNodeCount_->setText(tr("%1 nodes").arg(items_.GetCount()));
  lblBuildTime_->setText(
      lastBuildMs_ < 0 ? QString() : tr("built in %1 ms").arg(lastBuildMs_));
  ShowSelectionPrefix();
}

void TfrmODXViewer::ShowExpanderOutcome(
    const outline::SubtreeExpander::Outcome &outcome) {
  const bool expand = outcome.kind == outline::SubtreeExpander::Kind::Expand;
  QString text =
      outcome.nodes == 0
          ? (expand ? tr("Nothing to expand") : tr("Nothing to collapse"))
      : outcome.nodes == 1
          ? (expand ? tr("Expanded 1 node") : tr("Collapsed 1 node"))
          : (expand ? tr("Expanded %1 nodes") : tr("Collapsed %1 nodes"))
                .arg(outcome.nodes);
  if (outcome.cancelled)
    text += tr(" (stopped)");
  else if (outcome.capped)
    text += tr(" (stopped at %1 shown rows)").arg(expander_->MaxShownRows());
  statusLine_->showMessage(text, 5000);
}

void TfrmODXViewer::ShowSearchOutcome(const QString &term) {
  if (ShowServiceSearchOutcome(term))
    return;
  const uint32_t hits = results_.GetCount();
  if (term.isEmpty())
    statusLine_->clearMessage();
  else if (hits == 0)
    statusLine_->showMessage(tr("No hits for \"%1\"").arg(term));
  else
    statusLine_->showMessage(
        hits == 1 ? tr("1 hit for \"%1\"").arg(term)
                  : tr("%1 hits for \"%2\"").arg(hits).arg(term));
}

void TfrmODXViewer::OutlineSelectionMoved() {
  // A message about an earlier step goes once the user moves on.
  statusLine_->clearMessage();
  UpdateStatusLine();
  // The standard search box follows the current node, however it got
  // there: a click, the keys, a jump from a hit.
  treeItemsClick();
}

NodeHandle TfrmODXViewer::SelectedItem() const {
  return SelectedNode(*ui->treeItems, *itemsModel_);
}

NodeHandle TfrmODXViewer::SelectedHitTarget() const {
  return outline::ResultTarget(
      results_, SelectedNode(*ui->treeResults, *resultsModel_), items_);
}

void TfrmODXViewer::CopyText(const QString &text) {
  QGuiApplication::clipboard()->setText(text);
}

void TfrmODXViewer::FocusFilter() {
  ui->txtFilter->setFocus(Qt::ShortcutFocusReason);
  ui->txtFilter->selectAll();
}

void TfrmODXViewer::StepHit(int step) {
  // Every hit counts, also those outside the list's window.
  const int64_t count = hitList_->Count();
  if (count == 0)
    return;
  const int64_t current = hitList_->CurrentRow();
  const int64_t row = current < 0 ? (step > 0 ? 0 : count - 1)
                                  : ((current + step) % count + count) % count;
  hitList_->GoTo(static_cast<uint32_t>(row));
  treeResultsClick();
}

bool TfrmODXViewer::TakeFileDrag(QEvent &event) {
  switch (event.type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove: {
    auto &drag = static_cast<QDragMoveEvent &>(event);
    if (DroppedFile(drag.mimeData()).isEmpty())
      return false;
    drag.acceptProposedAction();
    return true;
  }
  case QEvent::Drop: {
    auto &drop = static_cast<QDropEvent &>(event);
    const QString path = DroppedFile(drop.mimeData());
    if (path.isEmpty())
      return false;
    drop.acceptProposedAction();
    app::ViewerApplication::Guard([this, &path] { OpenPickedFile(path); });
    return true;
  }
  default:
    return false;
  }
}

void TfrmODXViewer::dragEnterEvent(QDragEnterEvent *event) {
  if (!TakeFileDrag(*event))
    event->ignore();
}

void TfrmODXViewer::dragMoveEvent(QDragMoveEvent *event) {
  if (!TakeFileDrag(*event))
    event->ignore();
}

void TfrmODXViewer::dropEvent(QDropEvent *event) {
  if (!TakeFileDrag(*event))
    event->ignore();
}
