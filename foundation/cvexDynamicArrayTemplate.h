#pragma once

#include <cstdint>
#include <cstring>
#include <new>

// Growable array whose elements users read and write through `data`.
// Resize never initialises new elements beyond those kept.
template <typename T> class cvexDynamicArrayTemplate {
public:
  int32_t count = 0;
  T *data = nullptr;

  cvexDynamicArrayTemplate() = default;
  ~cvexDynamicArrayTemplate() { Free(); }
  cvexDynamicArrayTemplate(const cvexDynamicArrayTemplate &) = delete;
  cvexDynamicArrayTemplate &operator=(const cvexDynamicArrayTemplate &) = delete;

  bool Free() {
    delete[] data;
    data = nullptr;
    count = 0;
    return true;
  }

  int32_t Count() const { return count; }

  // A negative count raises std::bad_alloc, as an impossible allocation
  // would; with keep == false the old array is already gone by then.
  bool Resize(int32_t n, bool keep);
};
