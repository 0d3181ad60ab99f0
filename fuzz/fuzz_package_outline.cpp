// The outline builder on packages: bytes that start like a ZIP go through
// the package path, every member's outline is checked against the member
// read on its own.  Seeded with real and generated packages.

#include "fuzz/OutlineCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static fuzz::ScratchFile file;
  outline::OutlineStore store;
  fuzz::BuildChecked(file, data, size, store);
  return 0;
}
