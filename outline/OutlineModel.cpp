#include "outline/OutlineModel.h"

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
  store_.SetObserver(StoreObserver{[this] { beginResetModel(); },
                                   [this] { endResetModel(); }});
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
  return createIndex(ClampRows(store_.Row(node)), 0, quintptr{node});
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
    return ClampRows(store_.ChildCount(kNoNode));
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
