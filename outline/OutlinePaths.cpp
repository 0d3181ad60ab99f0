#include "outline/OutlinePaths.h"

#include "foundation/cvexString.h"
#include "outline/FilterSearch.h"

#include <QStringList>

#include <algorithm>

namespace outline {

QString ElementPath(const OutlineStore &store, NodeHandle node) {
  if (node >= store.GetCount())
    return QString();
  // Collected from the node upwards; reversed once, so a deep outline costs
  // its depth, not its depth squared.
  QStringList names;
  cvexString name;
  for (NodeHandle n = node; n != kNoNode; n = store.Parent(n)) {
    // A file or a package's member is named by all of its name, spaces
    // included.
    if (store.IsMember(n)) {
      names.append(store.GetText(n).toQString());
      continue;
    }
    PickElementName(store.GetText(n), name);
    names.append(name.AsWide());
  }
  std::reverse(names.begin(), names.end());
  return names.join(QLatin1Char('/'));
}

NodeHandle SubtreeEnd(const OutlineStore &store, NodeHandle node) {
  const NodeHandle count = store.GetCount();
  if (node >= count)
    return count;
  // The subtree ends where the next sibling of the node, or of its nearest
  // ancestor that has one, begins.
  for (NodeHandle n = node; n != kNoNode; n = store.Parent(n)) {
    const NodeHandle next = store.Child(store.Parent(n), store.Row(n) + 1);
    if (next != kNoNode)
      return next;
  }
  return count;
}

} // namespace outline
