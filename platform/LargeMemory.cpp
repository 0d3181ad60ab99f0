#include "platform/LargeMemory.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
constexpr std::size_t kWorthIt = std::size_t{4} << 20;
constexpr std::size_t kLargePage = std::size_t{2} << 20;
} // namespace

std::align_val_t LargeAlignment(std::size_t bytes) {
  return std::align_val_t{bytes >= kWorthIt ? kLargePage
                                            : alignof(std::max_align_t)};
}

void AdviseLargePages(void *block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (!block || bytes < kWorthIt)
    return;
  // The advice covers whole pages: the part of the block that starts and
  // ends on a page boundary.
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t last = (start + bytes) & ~(page - 1);
  if (last > first)
    ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

void ReleasePages(void *block, std::size_t bytes) {
#if defined(__linux__)
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t last = (start + bytes) & ~(page - 1);
  if (block && last > first)
    ::madvise(reinterpret_cast<void *>(first), last - first, MADV_DONTNEED);
#else
  (void)block;
  (void)bytes;
#endif
}

} // namespace platform
