#pragma once

#include "outline/OutlineStore.h"

#include <QAbstractItemModel>

#include <functional>

namespace outline {

// Presents an OutlineStore to a tree view: one column, one row per node,
// internalId = node handle.  Reads the store directly; a label becomes a
// QString only when a view asks for it.  The store must outlive the model.
//
// A view is shown at most the first kShownUnits units of a label (a
// description may hold megabytes; painting, tool tips and the status line
// need no more), with the whole label as ToolTipRole up to the same limit.
//
// Pictures: the model stays free of QtGui.  ImageIndexRole and
// SelectedImageRole give the stored indexes as ints; DecorationRole is
// answered through an icon provider the window sets (none: no decoration).
// No Q_OBJECT: the model adds no signals or slots, and the window-free
// library is built without moc.
class OutlineModel : public QAbstractItemModel {
public:
  // AnnotationRole: text a view draws after the label (a name, where a
  // reference leads); AnnotationAlertRole: true when that text reports a
  // fault; AnnotationColorRole: the colour it is drawn in, when not the
  // usual one.  All come from the annotation provider the window sets.
  enum Role {
    ImageIndexRole = Qt::UserRole + 1,
    SelectedImageRole,
    AnnotationRole,
    AnnotationAlertRole,
    AnnotationColorRole
  };
  static constexpr uint32_t kShownUnits = 4000;
  using IconProvider = std::function<QVariant(int image)>;
  using AnnotationProvider = std::function<QVariant(NodeHandle node, int role)>;

  explicit OutlineModel(OutlineStore &store, QObject *parent = nullptr);
  ~OutlineModel() override;

  void SetIconProvider(IconProvider provider);
  // Top-level rows reach a view `chunk` at a time, more as it scrolls to
  // the end (Qt's fetchMore), so a list of millions of hits costs a view
  // only the rows it has been shown.  0 (the default): all at once.
  void SetTopLevelChunk(uint32_t chunk);
  // Makes sure top-level row `row` has reached the view.
  void FetchTopLevelRow(uint32_t row);
  void SetAnnotationProvider(AnnotationProvider provider);

  // kNoNode for an index that is not a valid index of this model.
  NodeHandle NodeFromIndex(const QModelIndex &index) const;
  // The invalid index for kNoNode or a handle out of range.
  QModelIndex IndexFromNode(NodeHandle node) const;

  QModelIndex index(int row, int column,
                    const QModelIndex &parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex &child) const override;
  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index,
                int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex &index) const override;
  bool canFetchMore(const QModelIndex &parent) const override;
  void fetchMore(const QModelIndex &parent) override;

private:
  OutlineStore &store_;
  uint32_t TopLevelRows() const;
  void EndReset();

  IconProvider iconProvider_;
  uint32_t topChunk_ = 0;   // 0: no fetching in chunks
  uint32_t topFetched_ = 0; // top-level rows the views know of
  bool notifying_ = false;  // ending a reset or an insertion
  AnnotationProvider annotationProvider_;
};

} // namespace outline
