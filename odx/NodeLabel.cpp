#include "odx/NodeLabel.h"

#include "UnitScan.h"
#include "odx/Attributes.h"
#include "outline/OutlineBuilder.h"

namespace odx {

NodeLabel SplitLabel(const outline::LabelView &label,
                     const outline::OutlineStore::LabelNote *note) {
  NodeLabel parts;
  if (note && note->attributeStart == outline::OutlineStore::kRawText) {
    parts.rawText = true;
    return parts;
  }
  if (note && note->attributeStart == outline::OutlineStore::kMember) {
    parts.member = true;
    return parts;
  }
  detail::LabelSplit s;
  if (label.narrow)
    s = detail::SplitUnits<false>(label.narrow, label.length, note);
  else if (label.wide)
    s = detail::SplitUnits<false>(label.wide, label.length, note);
  else
    return parts;
  parts.element = Slice(label, 0, s.space);
  parts.value = Slice(label, s.value, s.valueEnd - s.value);
  parts.attributes = Slice(label, s.attributes, label.length - s.attributes);
  return parts;
}

NodeLabel ReadNodeLabel(const outline::OutlineStore &store,
                        outline::NodeHandle node) {
  if (node >= store.GetCount())
    return NodeLabel();
  const outline::NodeHandle parent = store.Parent(node);
  if (parent != outline::kNoNode &&
      outline::IsDescriptionLabel(store.GetText(parent))) {
    NodeLabel parts;
    parts.rawText = true;
    return parts;
  }
  return SplitLabel(store.GetText(node), store.FindLabelNote(node));
}

} // namespace odx
