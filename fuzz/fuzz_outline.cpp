// The outline builder end to end: bytes to a file, the real Open, the token
// loop and the store; the outline is checked node by node.  Then the ODX
// index reads it: every name is the tail of a SHORT-NAME leaf right below
// its node, and every resolved reference leads to a node whose ID equals
// its ID-REF.

#include "fuzz/OutlineCheck.h"
#include "odx/Attributes.h"
#include "odx/NodeLabel.h"
#include "odx/OdxIndex.h"

namespace {

void CheckIndex(const outline::OutlineStore &store) {
  const odx::OdxIndex index(store, 1);
  for (outline::NodeHandle n = 0; n < store.GetCount(); ++n) {
    const outline::LabelView name = index.Name(n);
    if (name.length == 0)
      continue;
    const odx::NodeLabel child = odx::ReadNodeLabel(store, n + 1);
    FUZZ_CHECK(store.Parent(n + 1) == n);
    FUZZ_CHECK(odx::SameUnits(child.element, u"SHORT-NAME"));
    FUZZ_CHECK(odx::SameUnits(child.value, name));
  }
  for (const odx::OdxIndex::Reference &r : index.References()) {
    const auto ref = odx::FindAttribute(
        odx::ReadNodeLabel(store, r.node).attributes, u"ID-REF");
    FUZZ_CHECK(ref.has_value());
    if (r.target == outline::kNoNode)
      continue;
    const auto id = odx::FindAttribute(
        odx::ReadNodeLabel(store, r.target).attributes, u"ID");
    FUZZ_CHECK(id.has_value() && odx::SameUnits(*id, *ref));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzz::ScratchFile file;
  outline::OutlineStore store;
  fuzz::BuildChecked(file, data, size, store);
  CheckIndex(store);
  return 0;
}
