#pragma once

// Small pieces the window's source files share.

#include "foundation/cvexString.h"
#include "outline/OutlineModel.h"
#include "outline/SubtreeExpander.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QScrollBar>
#include <QString>
#include <QTreeView>

namespace app {

inline void ToCvex(const QString &text, cvexString &out) {
  out.AssignWide(reinterpret_cast<const char16_t *>(text.utf16()));
}

inline outline::NodeHandle SelectedNode(const QTreeView &tree,
                                        outline::OutlineModel &model) {
  const QModelIndexList selected = tree.selectionModel()->selectedIndexes();
  if (selected.isEmpty())
    return outline::kNoNode;
  return model.NodeFromIndex(selected.first());
}

// A tool tip that shows exactly these characters, line breaks and tabs
// included: as Qt would take a text with tags for markup, it goes as escaped
// markup, wrapped at a readable width, long runs breakable anywhere.
QString PlainToolTip(const QString &text);

// A label as a row shows it, on one line: line breaks as U+23CE (one for
// CR LF), tabs as U+2192, other control characters as their pictures.
QString VisibleControls(const QString &label);

// A one-line label that shows a long text elided in the middle (the whole
// of it as the tool tip), so the status line never grows or wraps.
class ElidedLabel final : public QLabel {
public:
  explicit ElidedLabel(QWidget *parent);
  void SetFullText(const QString &text);

protected:
  void resizeEvent(QResizeEvent *event) override;

private:
  void Elide();
  QString full_;
};

// Keeps a tree's one column as wide as its longest label is estimated to
// be (from the store's longest label and deepest node, never by measuring
// rows), so long labels scroll sideways instead of ending in "...".
class ColumnFitter final : public QObject {
public:
  ColumnFitter(QTreeView &tree, const outline::OutlineStore &store);
  void Fit();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  QTreeView &tree_;
  const QWidget *viewport_;
  const outline::OutlineStore &store_;
};

// Keeps every hit of a long list within reach of the keys, the scroll bar
// and the jumps, while the view holds rows only for a window of the list:
// the model shows that window, the view's own scroll bar is hidden and a bar
// of this class spans the whole list.  Scrolling, keys and jumps slide the
// window; a list that fits the window is shown as it is.
class HitListWindow final : public QObject {
public:
  static constexpr uint32_t kRows = 4000; // the window, in rows

  HitListWindow(QTreeView &tree, outline::OutlineModel &model,
                const outline::OutlineStore &store, QScrollBar &bar);

  // Top-level rows in all, and the current one by its place in all of them
  // (-1: none), whether or not the window holds it now.
  uint32_t Count() const;
  int64_t CurrentRow() const { return current_; }
  // Makes row `row` of the whole list current, selected and in view.
  void GoTo(uint32_t row);
  // Home and End (with or without Ctrl) reach the ends of the whole list;
  // true when the key was taken.
  bool Key(const QKeyEvent &event);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void Reset();
  int PageRows() const;
  uint32_t TopRow() const; // of the whole list, at the top of the view
  void ScrollViewTo(uint32_t top);
  void Slide(uint32_t top);
  void FromView();
  void FromBar(int value);
  void CurrentMoved(const QModelIndex &current);

  QTreeView &tree_;
  outline::OutlineModel &model_;
  const outline::OutlineStore &store_;
  QScrollBar &bar_;
  bool syncing_ = false;
  int64_t current_ = -1;
};

// The subtree expander's hands on a tree view.
class TreeViewExpansion final : public outline::ExpansionView {
public:
  TreeViewExpansion(QTreeView &tree, outline::OutlineModel &model);
  bool IsExpanded(outline::NodeHandle node) const override;
  void SetExpanded(outline::NodeHandle node, bool expanded) override;
  void BeginSlice() override;

private:
  QTreeView &tree_;
  outline::OutlineModel &model_;
};

} // namespace app
