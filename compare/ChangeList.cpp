#include "compare/ChangeList.h"

namespace compare {
namespace {

using outline::kNoNode;
using outline::LabelView;
using outline::NodeHandle;

const char16_t kHex[] = u"0123456789abcdef";

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void Escaped(std::u16string &out, const std::u16string &text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) {
      out += u;
      out += text[++i];
    } else if (IsHigh(u) || IsLow(u)) {
      out += u"\\u";
      for (int shift = 12; shift >= 0; shift -= 4)
        out += kHex[(u >> shift) & 0xF];
    } else if (u == u'\n') {
      out += u"\\n";
    } else if (u == u'\r') {
      out += u"\\r";
    } else if (u == u'\t') {
      out += u"\\t";
    } else if (u == u'\\') {
      out += u"\\\\";
    } else if (u < 0x20 || u == 0x7F) {
      out += u"\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += u;
    }
  }
}

std::u16string LabelOf(const outline::OutlineStore &store, NodeHandle node) {
  return node < store.GetCount() ? store.GetText(node).toU16String()
                                 : std::u16string();
}

} // namespace

std::u16string ChangeLine(const Comparison &diff,
                          const outline::OutlineStore &olds,
                          const outline::OutlineStore &news,
                          const Change &change) {
  static constexpr const char16_t *kMark[] = {u"+ ", u"- ", u"~ ", u"= "};
  std::u16string line = kMark[static_cast<int>(change.kind)];
  const bool removed = change.kind == ChangeKind::Removed;
  Escaped(line, removed ? diff.Path(Side::Old, change.oldNode)
                        : diff.Path(Side::New, change.newNode));
  if (change.kind == ChangeKind::Changed) {
    line += u": ";
    Escaped(line, LabelOf(olds, change.oldNode));
    line += u" -> ";
    Escaped(line, LabelOf(news, change.newNode));
  } else if (change.kind == ChangeKind::Renamed) {
    line += u": was ";
    Escaped(line, diff.OldName(change.oldNode));
  }
  return line;
}

ChangeMarks::ChangeMarks(const outline::OutlineStore &news,
                         std::span<const Change> changes)
    : marks_(news.GetCount(), 0) {
  for (const Change &c : changes) {
    NodeHandle node = c.where;
    if (node >= marks_.size())
      continue;
    switch (c.kind) {
    case ChangeKind::Added:
      marks_[node] |= kAdded;
      node = news.Parent(node);
      break;
    case ChangeKind::Changed:
      marks_[node] |= kChanged;
      node = news.Parent(node);
      break;
    case ChangeKind::Renamed:
      marks_[node] |= kRenamed;
      node = news.Parent(node);
      break;
    case ChangeKind::Removed:
      break; // held by the node it would sit below
    }
    // Up to the first ancestor already marked: each node is marked once.
    for (; node != kNoNode && !(marks_[node] & kHolds);
         node = news.Parent(node))
      marks_[node] |= kHolds;
  }
}

} // namespace compare
