// The ODX links on documents that look like ODX: the input is the body of a
// diagnostic layer container (the dictionary offers layer tags, short-name
// references, ID, ID-REF, DOCREF and DOCTYPE), so the fuzzer spends its time
// in scopes, parent layers and short names rather than in finding them.

#include "fuzz/OdxCheck.h"
#include "outline/OutlineBuilder.h"

#include <string>

namespace {

using outline::Quiet;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string document = "<?xml version=\"1.0\"?><ODX><DIAG-LAYER-CONTAINER>"
                         "<SHORT-NAME>D</SHORT-NAME>";
  document.append(reinterpret_cast<const char *>(data), size);
  document += "</DIAG-LAYER-CONTAINER></ODX>";
  outline::OutlineStore store;
  Quiet quiet;
  outline::BuildOutlineFromBytes(
      {reinterpret_cast<const unsigned char *>(document.data()),
       document.size()},
      store, quiet, quiet);
  fuzz::CheckIndex(store);
  return 0;
}
