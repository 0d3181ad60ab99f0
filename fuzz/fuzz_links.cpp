// The ODX links on documents that look like ODX: the input is the body of a
// diagnostic layer container (the dictionary offers layer tags, short-name
// references, ID, ID-REF, DOCREF and DOCTYPE), so the fuzzer spends its time
// in scopes, parent layers and short names rather than in finding them.

#include "fuzz/OdxCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  outline::OutlineStore store;
  fuzz::BuildInLayerContainer(data, size, store);
  fuzz::CheckIndex(store);
  return 0;
}
