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

void OutlineModel::SetTopLevelChunk(uint32_t chunk) {
  beginResetModel();
  topChunk_ = chunk;
  EndReset();
}

void OutlineModel::EndReset() {
  topFetched_ = std::min(store_.ChildCount(kNoNode), topChunk_);
  // Whoever hears of a change may ask for more rows at once; they come on
  // the next request, once the change is over for everyone.
  notifying_ = true;
  endResetModel();
  notifying_ = false;
}

uint32_t OutlineModel::TopLevelRows() const {
  const uint32_t all = store_.ChildCount(kNoNode);
  return topChunk_ == 0 ? all : std::min(all, topFetched_);
}

bool OutlineModel::canFetchMore(const QModelIndex &parent) const {
  return !notifying_ && !parent.isValid() &&
         TopLevelRows() < store_.ChildCount(kNoNode);
}

void OutlineModel::fetchMore(const QModelIndex &parent) {
  if (!canFetchMore(parent))
    return;
  const uint32_t all = store_.ChildCount(kNoNode);
  const uint32_t more = std::min(all, topFetched_ + topChunk_);
  notifying_ = true;
  beginInsertRows(QModelIndex(), ClampRows(topFetched_), ClampRows(more - 1));
  topFetched_ = more;
  endInsertRows();
  notifying_ = false;
}

void OutlineModel::FetchTopLevelRow(uint32_t row) {
  if (topChunk_ == 0 || row < topFetched_ || row >= store_.ChildCount(kNoNode))
    return;
  notifying_ = true;
  beginInsertRows(QModelIndex(), ClampRows(topFetched_), ClampRows(row));
  topFetched_ = row + 1;
  endInsertRows();
  notifying_ = false;
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
  const uint32_t row = store_.Row(node);
  if (store_.Parent(node) == kNoNode && row >= TopLevelRows())
    return QModelIndex(); // not fetched yet
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
  if (parentNode == kNoNode && static_cast<uint32_t>(row) >= TopLevelRows())
    return QModelIndex();
  const NodeHandle node = store_.Child(parentNode, static_cast<uint32_t>(row));
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
