#pragma once

#include "platform/LargeMemory.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

// Growable array whose elements users read and write through `data`.
//
// Sentinel guarantee: after Resize(n) with n > 0, one extra element
// data[count] exists and holds T{} (0 for bytes).  Scanners rely on it to run
// over the contents without a bounds test per element: a scan for a non-zero
// byte always stops at data[count].  Elements below `count` that were not
// kept are left uninitialised; users overwrite them before reading.
template <typename T> class cvexDynamicArrayTemplate {
public:
  int32_t count = 0;
  T *data = nullptr;

  cvexDynamicArrayTemplate() = default;
  ~cvexDynamicArrayTemplate() { Free(); }
  cvexDynamicArrayTemplate(const cvexDynamicArrayTemplate &) = delete;
  cvexDynamicArrayTemplate &
  operator=(const cvexDynamicArrayTemplate &) = delete;

  bool Free() {
    delete[] data;
    data = nullptr;
    count = 0;
    return true;
  }

  int32_t Count() const { return count; }

  // A negative count raises std::bad_alloc, as an impossible allocation
  // would; with keep == false the old array is already gone by then.
  bool Resize(int32_t n, bool keep) {
    if (n == 0)
      return Free();
    if (!keep) {
      Free();
      data = Allocate(n);
      count = n;
      return true;
    }
    T *grown = Allocate(n);
    std::copy_n(data, std::min(n, count), grown);
    delete[] data;
    data = grown;
    count = n;
    return true;
  }

private:
  static T *Allocate(int32_t n) {
    if (n < 0)
      throw std::bad_alloc();
    T *p = new T[static_cast<std::size_t>(n) + 1];
    platform::AdviseLargePages(p,
                               (static_cast<std::size_t>(n) + 1) * sizeof(T));
    p[n] = T{};
    return p;
  }
};
