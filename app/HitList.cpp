#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "WindowParts.h"
#include "outline/OutlineModel.h"

#include <QBoxLayout>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSplitter>

#include <algorithm>

// The hit list's window onto long lists: what the view holds, what the
// scroll bar beside it spans, and the keys that reach the ends.

namespace app {

namespace {

// The view keeps at least this many rows of the window on either side of
// what it shows, so keys and the wheel never run into the window's edge.
constexpr uint32_t kMargin = HitListWindow::kRows / 4;

} // namespace

HitListWindow::HitListWindow(QTreeView &tree, outline::OutlineModel &model,
                             const outline::OutlineStore &store,
                             QScrollBar &bar)
    : QObject(&tree), tree_(tree), model_(model), store_(store), bar_(bar) {
  model_.SetTopLevelWindow(kRows);
  bar_.setVisible(false);
  bar_.setSingleStep(1);
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] { Reset(); });
  connect(tree_.verticalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { FromView(); });
  connect(tree_.verticalScrollBar(), &QScrollBar::rangeChanged, this,
          [this] { FromView(); });
  connect(&bar_, &QScrollBar::valueChanged, this,
          [this](int value) { FromBar(value); });
  connect(tree_.selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex &current) { CurrentMoved(current); });
  tree_.viewport()->installEventFilter(this);
  Reset();
}

uint32_t HitListWindow::Count() const {
  return store_.ChildCount(outline::kNoNode);
}

bool HitListWindow::eventFilter(QObject *watched, QEvent *event) {
  // The bar's page is the view's height.
  if (event->type() == QEvent::Resize && watched == tree_.viewport())
    FromView();
  return QObject::eventFilter(watched, event);
}

void HitListWindow::Reset() {
  current_ = -1;
  const bool windowed = Count() > kRows;
  tree_.setVerticalScrollBarPolicy(windowed ? Qt::ScrollBarAlwaysOff
                                            : Qt::ScrollBarAsNeeded);
  bar_.setVisible(windowed);
  FromView();
}

int HitListWindow::PageRows() const {
  const int row = std::max(tree_.sizeHintForRow(0), 1);
  return std::max(tree_.viewport()->height() / row, 1);
}

uint32_t HitListWindow::TopRow() const {
  const QModelIndex top = tree_.indexAt(QPoint(1, 1));
  return model_.TopLevelBase() +
         static_cast<uint32_t>(top.isValid() ? top.row() : 0);
}

void HitListWindow::ScrollViewTo(uint32_t top) {
  const uint32_t base = model_.TopLevelBase();
  const int row = static_cast<int>(std::max(top, base) - base);
  QScrollBar *own = tree_.verticalScrollBar();
  own->setValue(tree_.verticalScrollMode() == QAbstractItemView::ScrollPerItem
                    ? row
                    : row * std::max(tree_.sizeHintForRow(0), 1));
}

void HitListWindow::Slide(uint32_t top) {
  // The window centred on what is shown, as far as the list allows.
  const uint32_t half = (kRows - static_cast<uint32_t>(PageRows())) / 2;
  model_.MoveTopLevelWindow(top > half ? top - half : 0);
  // Back in the window: the current row is shown as current again.
  const QModelIndex current =
      current_ < 0
          ? QModelIndex()
          : model_.index(static_cast<int>(current_ - model_.TopLevelBase()), 0);
  if (current.isValid() && tree_.currentIndex() != current)
    tree_.selectionModel()->setCurrentIndex(
        current, QItemSelectionModel::ClearAndSelect);
  ScrollViewTo(top);
}

void HitListWindow::FromView() {
  if (syncing_ || !bar_.isVisible())
    return;
  syncing_ = true;
  const uint32_t all = Count();
  const auto page = static_cast<uint32_t>(PageRows());
  uint32_t top = TopRow();
  const uint32_t base = model_.TopLevelBase();
  const bool nearStart = top < base + kMargin && base > 0;
  const bool nearEnd =
      top + page + kMargin > base + kRows && base + kRows < all;
  if (nearStart || nearEnd)
    Slide(top);
  bar_.setRange(0, static_cast<int>(all > page ? all - page : 0));
  bar_.setPageStep(static_cast<int>(page));
  bar_.setValue(static_cast<int>(top));
  syncing_ = false;
}

void HitListWindow::FromBar(int value) {
  if (syncing_)
    return;
  syncing_ = true;
  const auto top = static_cast<uint32_t>(std::max(value, 0));
  const uint32_t base = model_.TopLevelBase();
  const uint32_t page = static_cast<uint32_t>(PageRows());
  const bool inside = top >= base && top + page <= base + kRows;
  const bool comfortable =
      inside && (top >= base + kMargin || base == 0) &&
      (top + page + kMargin <= base + kRows || base + kRows >= Count());
  if (comfortable)
    ScrollViewTo(top);
  else
    Slide(top);
  syncing_ = false;
}

void HitListWindow::CurrentMoved(const QModelIndex &current) {
  // A current row that slid out of the window stays the current one.
  if (current.isValid() && !current.parent().isValid())
    current_ = model_.TopLevelBase() + static_cast<uint32_t>(current.row());
}

void HitListWindow::GoTo(uint32_t row) {
  if (row >= Count())
    return;
  const uint32_t base = model_.TopLevelBase();
  if (row < base + kMargin || row + kMargin >= base + kRows) {
    syncing_ = true;
    Slide(row);
    syncing_ = false;
  }
  const QModelIndex index =
      model_.index(static_cast<int>(row - model_.TopLevelBase()), 0);
  tree_.setCurrentIndex(index);
  tree_.scrollTo(index);
  FromView();
}

bool HitListWindow::Key(const QKeyEvent &event) {
  if (!bar_.isVisible() || Count() == 0)
    return false;
  const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
  if (mods != Qt::NoModifier && mods != Qt::ControlModifier)
    return false;
  if (event.key() == Qt::Key_Home)
    GoTo(0);
  else if (event.key() == Qt::Key_End)
    GoTo(Count() - 1);
  else
    return false;
  return true;
}

} // namespace app

void TfrmODXViewer::SetUpHitList() {
  // The bar of the whole list stands beside the hit list, in its place in
  // the splitter; hidden, it takes no room.
  QSplitter *splitter = ui->TntSplitter1;
  const int at = splitter->indexOf(ui->treeResults);
  auto *box = new QWidget;
  box->setObjectName(QStringLiteral("hitListBox"));
  auto *layout = new QHBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto *bar = new QScrollBar(Qt::Vertical, box);
  bar->setObjectName(QStringLiteral("hitListBar"));
  // Before the look sizes the splitter: the box takes the list's place in
  // it and in the tab order.
  splitter->replaceWidget(at, box);
  layout->addWidget(ui->treeResults);
  layout->addWidget(bar);
  QWidget::setTabOrder(ui->treeItems, ui->treeResults);
  hitListBar_ = bar;
}
