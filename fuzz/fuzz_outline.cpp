// The outline builder end to end: bytes to a file, the real Open, the token
// loop and the store; the outline is checked node by node.  Then the ODX
// index reads it (fuzz/OdxCheck.h).

#include "fuzz/OdxCheck.h"
#include "fuzz/OutlineCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzz::ScratchFile file;
  outline::OutlineStore store;
  fuzz::BuildChecked(file, data, size, store);
  fuzz::CheckIndex(store);
  return 0;
}
