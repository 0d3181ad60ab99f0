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
  // A view is shown a window of at most `rows` top-level rows, which
  // MoveTopLevelWindow slides along the list, so a list of millions of hits
  // costs a view only the rows of the window.  0 (the default): all rows.
  // A reset puts the window at the start.
  void SetTopLevelWindow(uint32_t rows);
  uint32_t TopLevelWindow() const { return topWindow_; }
  // The store's row of the window's first row.
  uint32_t TopLevelBase() const { return topBase_; }
  // Slides the window to start at `first`, as far as the list allows; the
  // views keep their current and selected rows that stay in it.
  void MoveTopLevelWindow(uint32_t first);
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

private:
  OutlineStore &store_;
  uint32_t TopLevelRows() const;
  void EndReset();

  IconProvider iconProvider_;
  uint32_t topWindow_ = 0; // 0: every top-level row
  uint32_t topBase_ = 0;   // the store's row of the window's first row
  AnnotationProvider annotationProvider_;
};

} // namespace outline
