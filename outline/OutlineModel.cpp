#include "outline/OutlineModel.h"

#include <algorithm>
#include <limits>

namespace outline {

namespace {

// Qt counts rows in int; a store with more children under one parent than
// that cannot be shown beyond the limit.
int ClampRows(uint32_t rows) {
  return rows > static_cast<uint32_t>(std::numeric_limits<int>::max())
             ? std::numeric_limits<int>::max()
             : static_cast<int>(rows);
}

} // namespace

OutlineModel::OutlineModel(OutlineStore &store, QObject *parent)
    : QAbstractItemModel(parent), store_(store) {
  store_.SetObserver(
      StoreObserver{[this] { beginResetModel(); }, [this] { EndReset(); }});
}

void OutlineModel::SetTopLevelWindow(uint32_t rows) {
  beginResetModel();
  topWindow_ = rows;
  EndReset();
}

void OutlineModel::EndReset() {
  topBase_ = 0;
  endResetModel();
}

uint32_t OutlineModel::TopLevelRows() const {
  const uint32_t all = store_.ChildCount(kNoNode);
  if (topWindow_ == 0)
    return all;
  return all > topBase_ ? std::min(all - topBase_, topWindow_) : 0;
}

void OutlineModel::MoveTopLevelWindow(uint32_t first) {
  const uint32_t all = store_.ChildCount(kNoNode);
  if (topWindow_ == 0 || all <= topWindow_)
    return;
  first = std::min(first, all - topWindow_);
  if (first == topBase_)
    return;
  emit layoutAboutToBeChanged();
  // The views' current, selected and expanded rows stay where they are if
  // the window still holds them, and are gone otherwise; below the top
  // level only the parent's row changes, which parent() works out anew.
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex &index : before) {
    const NodeHandle node = NodeFromIndex(index);
    NodeHandle top = node;
    while (top != kNoNode && store_.Parent(top) != kNoNode)
      top = store_.Parent(top);
    const uint32_t row = top == kNoNode ? 0 : store_.Row(top);
    if (top == kNoNode || row < first || row - first >= topWindow_)
      after << QModelIndex();
    else if (top == node)
      after << createIndex(ClampRows(row - first), 0, quintptr{node});
    else
      after << index;
  }
  topBase_ = first;
  changePersistentIndexList(before, after);
  emit layoutChanged();
}

OutlineModel::~OutlineModel() { store_.SetObserver(StoreObserver()); }

void OutlineModel::SetIconProvider(IconProvider provider) {
  iconProvider_ = std::move(provider);
}

void OutlineModel::SetAnnotationProvider(AnnotationProvider provider) {
  annotationProvider_ = std::move(provider);
}

NodeHandle OutlineModel::NodeFromIndex(const QModelIndex &index) const {
  if (!index.isValid() || index.model() != this || index.column() != 0)
    return kNoNode;
  const quintptr id = index.internalId();
  if (id >= store_.GetCount())
    return kNoNode;
  return static_cast<NodeHandle>(id);
}

QModelIndex OutlineModel::IndexFromNode(NodeHandle node) const {
  if (node >= store_.GetCount())
    return QModelIndex();
  uint32_t row = store_.Row(node);
  if (store_.Parent(node) == kNoNode) {
    if (row < topBase_ || row - topBase_ >= TopLevelRows())
      return QModelIndex(); // outside the window
    row -= topBase_;
  }
  return createIndex(ClampRows(row), 0, quintptr{node});
}

QModelIndex OutlineModel::index(int row, int column,
                                const QModelIndex &parent) const {
  if (row < 0 || column != 0)
    return QModelIndex();
  NodeHandle parentNode = kNoNode;
  if (parent.isValid()) {
    parentNode = NodeFromIndex(parent);
    if (parentNode == kNoNode)
      return QModelIndex();
  }
  uint32_t storeRow = static_cast<uint32_t>(row);
  if (parentNode == kNoNode) {
    if (storeRow >= TopLevelRows())
      return QModelIndex();
    storeRow += topBase_;
  }
  const NodeHandle node = store_.Child(parentNode, storeRow);
  if (node == kNoNode)
    return QModelIndex();
  return createIndex(row, 0, quintptr{node});
}

QModelIndex OutlineModel::parent(const QModelIndex &child) const {
  const NodeHandle node = NodeFromIndex(child);
  if (node == kNoNode)
    return QModelIndex();
  return IndexFromNode(store_.Parent(node));
}

int OutlineModel::rowCount(const QModelIndex &parent) const {
  if (!parent.isValid())
    return ClampRows(TopLevelRows());
  const NodeHandle node = NodeFromIndex(parent);
  return node == kNoNode ? 0 : ClampRows(store_.ChildCount(node));
}

int OutlineModel::columnCount(const QModelIndex &parent) const {
  if (!parent.isValid())
    return 1;
  return NodeFromIndex(parent) == kNoNode ? 0 : 1;
}

bool OutlineModel::hasChildren(const QModelIndex &parent) const {
  return rowCount(parent) > 0;
}

QVariant OutlineModel::data(const QModelIndex &index, int role) const {
  const NodeHandle node = NodeFromIndex(index);
  if (node == kNoNode)
    return QVariant();
  switch (role) {
  case Qt::DisplayRole:
  case Qt::ToolTipRole:
    return store_.GetText(node).Prefix(kShownUnits).toQString();
  case Qt::DecorationRole:
    return iconProvider_ ? iconProvider_(store_.ImageIndex(node)) : QVariant();
  case ImageIndexRole:
    return store_.ImageIndex(node);
  case SelectedImageRole:
    return store_.SelectedIndex(node);
  case AnnotationRole:
  case AnnotationAlertRole:
  case AnnotationColorRole:
    return annotationProvider_ ? annotationProvider_(node, role) : QVariant();
  default:
    return QVariant();
  }
}

Qt::ItemFlags OutlineModel::flags(const QModelIndex &index) const {
  const NodeHandle node = NodeFromIndex(index);
  if (node == kNoNode)
    return Qt::NoItemFlags;
  Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (store_.ChildCount(node) == 0)
    result |= Qt::ItemNeverHasChildren;
  return result;
}

} // namespace outline
