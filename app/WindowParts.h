#pragma once

// Small pieces the window's source files share.

#include "foundation/cvexString.h"
#include "outline/OutlineModel.h"
#include "outline/SubtreeExpander.h"

#include <QItemSelectionModel>
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
