#include "odx/LinkRules.h"

#include "odx/Attributes.h"

namespace odx {

LayerKind LayerKindOfTag(const outline::LabelView &tag) {
  for (const LayerRule &rule : kLayerRules)
    if (SameUnits(tag, rule.tag))
      return rule.kind;
  return LayerKind::None;
}

int LayerPriority(LayerKind kind) {
  for (const LayerRule &rule : kLayerRules)
    if (rule.kind == kind)
      return rule.priority;
  return 0;
}

const NameReferenceRule *NameReferenceRuleFor(const outline::LabelView &base) {
  for (const NameReferenceRule &rule : kNameReferenceRules)
    for (std::u16string_view from : rule.from)
      if (!from.empty() && SameUnits(base, from))
        return &rule;
  return nullptr;
}

bool MayName(const NameReferenceRule *rule, const outline::LabelView &base,
             const outline::LabelView &tag) {
  if (!rule)
    return SameUnits(tag, base);
  for (std::u16string_view target : rule->targets)
    if (!target.empty() && SameUnits(tag, target))
      return true;
  return false;
}

} // namespace odx
