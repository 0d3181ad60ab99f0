#include "outline/OutlinePaths.h"

#include "foundation/cvexString.h"
#include "outline/FilterSearch.h"

#include <QStringList>

#include <algorithm>

namespace outline {

namespace {

// Enough of a text to name it, however long it is.
constexpr uint32_t kTextLook = 200;
constexpr qsizetype kTextName = 24;

} // namespace

QString ElementName(const OutlineStore &store, NodeHandle node) {
  if (node >= store.GetCount())
    return QString();
  cvexString name;
  PickElementName(store.GetText(node), name);
  // An element name starts at the label's first unit; a text may start
  // with any blank (the first word of "\n  <p>..." is a line break).
  if (name.Length() > 0 && name.buffer[0] > u' ')
    return name.AsWide();
  const QString head = store.GetText(node).Prefix(kTextLook).toQString();
  QString words;
  bool inTag = false;
  for (const QChar c : head) {
    if (words.size() >= kTextName)
      break;
    if (c == u'<' || c == u'>') {
      inTag = c == u'<';
    } else if (inTag) {
      continue;
    } else if (!c.isSpace() && c.unicode() >= 0x20) {
      words += c;
      continue;
    }
    // Tags and blanks part words.
    if (!words.isEmpty() && !words.endsWith(u' '))
      words += u' ';
  }
  words = words.trimmed();
  return words.isEmpty() ? QStringLiteral("text") : words;
}

QString ElementPath(const OutlineStore &store, NodeHandle node) {
  if (node >= store.GetCount())
    return QString();
  // Collected from the node upwards; reversed once, so a deep outline costs
  // its depth, not its depth squared.
  QStringList names;
  for (NodeHandle n = node; n != kNoNode; n = store.Parent(n)) {
    // A file or a package's member is named by all of its name, spaces
    // included.
    if (store.IsMember(n)) {
      names.append(store.GetText(n).toQString());
      continue;
    }
    names.append(ElementName(store, n));
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
