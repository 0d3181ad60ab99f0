#pragma once

// What every ODX index must hold, whatever outline it reads: names are
// their SHORT-NAME leaves' values, references lead to elements that fit
// them, and the counts of the problems agree with the references.

#include "fuzz/FuzzSupport.h"
#include "odx/Attributes.h"
#include "odx/LinkRules.h"
#include "odx/NodeLabel.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineBuilder.h"

#include <string>

namespace fuzz {

// The input as the body of a diagnostic layer container, so that a fuzzer
// spends its time in the ODX rules rather than in finding their shape.
inline void BuildInLayerContainer(const uint8_t *data, size_t size,
                                  outline::OutlineStore &store) {
  std::string document = "<?xml version=\"1.0\"?><ODX><DIAG-LAYER-CONTAINER>"
                         "<SHORT-NAME>D</SHORT-NAME>";
  document.append(reinterpret_cast<const char *>(data), size);
  document += "</DIAG-LAYER-CONTAINER></ODX>";
  outline::Quiet quiet;
  outline::BuildOutlineFromBytes(
      {reinterpret_cast<const unsigned char *>(document.data()),
       document.size()},
      store, quiet, quiet);
}

inline bool IsDeclaration(const odx::NodeLabel &parts) {
  return parts.element.length > 0 &&
         (parts.element.narrow
              ? parts.element.narrow[0] == '?' || parts.element.narrow[0] == '!'
              : parts.element.wide[0] == u'?' || parts.element.wide[0] == u'!');
}

inline bool Inside(const odx::OdxIndex &index, outline::NodeHandle place,
                   outline::NodeHandle node) {
  return place != outline::kNoNode && place <= node &&
         node < index.EndOf(place);
}

inline void CheckIndex(const outline::OutlineStore &store) {
  using outline::kNoNode;
  const odx::OdxIndex index(store, 1);
  const uint32_t count = store.GetCount();
  for (outline::NodeHandle n = 0; n < count; ++n) {
    const outline::NodeHandle layer = index.LayerOf(n);
    if (layer != kNoNode)
      FUZZ_CHECK(Inside(index, layer, n) &&
                 index.KindOfLayer(layer) != odx::LayerKind::None);
    const outline::NodeHandle document = index.DocumentOf(n);
    if (document != kNoNode)
      FUZZ_CHECK(Inside(index, document, n));
    const outline::LabelView name = index.Name(n);
    if (name.length == 0)
      continue;
    // Only declarations may stand between an element and its SHORT-NAME.
    outline::NodeHandle c = n + 1;
    while (c < count && store.Parent(c) == n &&
           IsDeclaration(odx::ReadNodeLabel(store, c)))
      ++c;
    FUZZ_CHECK(c < count && store.Parent(c) == n);
    const odx::NodeLabel child = odx::ReadNodeLabel(store, c);
    FUZZ_CHECK(odx::SameUnits(child.element, u"SHORT-NAME"));
    FUZZ_CHECK(odx::SameUnits(child.value, name));
  }
  std::size_t unresolved = 0;
  for (const odx::OdxIndex::Reference &r : index.References()) {
    FUZZ_CHECK(r.ambiguous == (r.candidates > 1));
    FUZZ_CHECK((r.target == kNoNode) == (r.candidates == 0));
    unresolved += r.target == kNoNode;
    const odx::NodeLabel parts = odx::ReadNodeLabel(store, r.node);
    const auto ref = odx::FindAttribute(parts.attributes, u"ID-REF");
    if (r.kind == odx::OdxIndex::ReferenceKind::ById) {
      FUZZ_CHECK(ref.has_value());
      if (r.target == kNoNode)
        continue;
      const auto id = odx::FindAttribute(
          odx::ReadNodeLabel(store, r.target).attributes, u"ID");
      FUZZ_CHECK(id.has_value() && odx::SameUnits(*id, *ref));
      // Without a DOCREF the target lies in the reference's own layer or
      // document.
      if (!odx::FindAttribute(parts.attributes, u"DOCREF"))
        FUZZ_CHECK(Inside(index, index.LayerOf(r.node), r.target) ||
                   Inside(index, index.DocumentOf(r.node), r.target));
      continue;
    }
    FUZZ_CHECK(!ref.has_value());
    const auto name = odx::FindAttribute(parts.attributes, u"SHORT-NAME");
    FUZZ_CHECK(name.has_value() && name->length > 0);
    constexpr auto kSuffix =
        static_cast<uint32_t>(odx::kNameReferenceSuffix.size());
    FUZZ_CHECK(parts.element.length >= kSuffix);
    const outline::LabelView base =
        odx::Slice(parts.element, 0, parts.element.length - kSuffix);
    FUZZ_CHECK(odx::SameUnits(odx::Slice(parts.element, base.length, kSuffix),
                              odx::kNameReferenceSuffix));
    if (r.target == kNoNode)
      continue;
    FUZZ_CHECK(odx::SameUnits(index.Name(r.target), *name));
    FUZZ_CHECK(odx::MayName(odx::NameReferenceRuleFor(base), base,
                            odx::ReadNodeLabel(store, r.target).element));
  }
  std::size_t listed = 0;
  for (const odx::OdxIndex::Problem &p : index.Problems()) {
    listed += p.kind == odx::OdxIndex::ProblemKind::Unresolved;
    if (p.kind == odx::OdxIndex::ProblemKind::DuplicateId)
      FUZZ_CHECK(p.count >= 2 && index.IsTarget(p.node));
    FUZZ_CHECK(!index.Reason(p).isEmpty());
  }
  FUZZ_CHECK(listed == unresolved);
}

} // namespace fuzz
