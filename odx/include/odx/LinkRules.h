#pragma once

#include "outline/OutlineStore.h"

#include <array>
#include <cstdint>
#include <string_view>

// The ODX rules for what a link may lead to, as data: the diagnostic layers
// and the targets of references by short name.  The index reads them; the
// tests drive rows of the same shape.
namespace odx {

enum class LayerKind : uint8_t {
  None,
  Protocol,
  FunctionalGroup,
  EcuSharedData,
  BaseVariant,
  EcuVariant,
};

struct LayerRule {
  std::u16string_view tag;
  LayerKind kind;
  // Which parent wins when two offer the same thing: the higher.
  int priority;
};

inline constexpr std::array<LayerRule, 5> kLayerRules{{
    {u"PROTOCOL", LayerKind::Protocol, 1},
    {u"FUNCTIONAL-GROUP", LayerKind::FunctionalGroup, 2},
    {u"BASE-VARIANT", LayerKind::BaseVariant, 3},
    {u"ECU-VARIANT", LayerKind::EcuVariant, 4},
    {u"ECU-SHARED-DATA", LayerKind::EcuSharedData, 100},
}};

// None for a tag that is no layer's.
LayerKind LayerKindOfTag(const outline::LabelView &tag);
int LayerPriority(LayerKind kind); // 0 for None

// Where a reference by short name looks first, before the nearest
// enclosing scope: the parameters of its service's request, or of its
// responses.
enum class NarrowScope : uint8_t { None, Request, Responses };

// A reference by short name is an element tagged "<BASE>-SNREF" whose
// attributes hold a non-empty SHORT-NAME.  The row whose `from` lists BASE
// says which elements it may name; a BASE no row lists names elements
// tagged BASE itself.
struct NameReferenceRule {
  std::array<std::u16string_view, 6> from;
  std::array<std::u16string_view, 9> targets;
  NarrowScope narrow = NarrowScope::None;
};

inline constexpr std::u16string_view kNameReferenceSuffix = u"-SNREF";

inline constexpr std::array<NameReferenceRule, 7> kNameReferenceRules{{
    {{u"DIAG-COMM"}, {u"DIAG-SERVICE", u"SINGLE-ECU-JOB"}},
    {{u"SOURCE", u"TARGET", u"START-STATE"}, {u"STATE"}},
    {{u"DOP", u"DOP-BASE", u"DATA-OBJECT-PROP"},
     {u"DATA-OBJECT-PROP", u"DTC-DOP", u"STRUCTURE", u"END-OF-PDU-FIELD",
      u"DYNAMIC-LENGTH-FIELD", u"DYNAMIC-ENDMARKER-FIELD", u"STATIC-FIELD",
      u"ENV-DATA-DESC", u"MUX"}},
    {{u"PARAM", u"OUT-PARAM", u"PHYS-CONST", u"CODED-CONST", u"VALUE",
      u"TABLE-KEY"},
     {u"PARAM"}},
    {{u"BASIC-STRUCTURE"}, {u"STRUCTURE"}},
    {{u"IN-PARAM-IF"}, {u"PARAM"}, NarrowScope::Request},
    {{u"OUT-PARAM-IF"}, {u"PARAM"}, NarrowScope::Responses},
}};

// The rule for the base of a "-SNREF" tag; nullptr when no row lists it.
const NameReferenceRule *NameReferenceRuleFor(const outline::LabelView &base);

// Whether an element tagged `tag` may be named by a reference whose tag
// without "-SNREF" is `base` (under `rule`, the rule for that base).
bool MayName(const NameReferenceRule *rule, const outline::LabelView &base,
             const outline::LabelView &tag);

} // namespace odx
