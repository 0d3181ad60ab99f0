#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace platform {

// Asks the system to back a large block with large pages where it can.
// Filling a fresh block costs one page fault per page touched; a 500 MB
// file and its outline touch over 200,000 small pages, but only a few
// hundred large ones.  Blocks below a few megabytes are left alone, and so
// is every platform without the advice.
void AdviseLargePages(void *block, std::size_t bytes);

// Gives the memory of the whole pages inside [block, block + bytes) back to
// the system while the block stays allocated: a caller that will never read
// those bytes again keeps its peak memory down.  Read afterwards, they are
// zero.  Where the system cannot, nothing happens.
void ReleasePages(void *block, std::size_t bytes);

// Arrays of plain values for large, long-lived blocks (the outline's
// records and labels).  A block of a few megabytes or more starts on a
// large-page boundary and is advised as above, so all of it, not only the
// aligned middle, can be backed by large pages.  Elements are not
// initialised.
struct LargeFree {
  std::align_val_t alignment;
  void operator()(void *block) const noexcept {
    ::operator delete(block, alignment);
  }
};
template <typename T> using LargeArray = std::unique_ptr<T[], LargeFree>;

std::align_val_t LargeAlignment(std::size_t bytes);

template <typename T> LargeArray<T> MakeLargeArray(std::size_t n) {
  const std::size_t bytes = n * sizeof(T);
  const std::align_val_t alignment = LargeAlignment(bytes);
  void *block = ::operator new(bytes, alignment);
  AdviseLargePages(block, bytes);
  return LargeArray<T>(static_cast<T *>(block), LargeFree{alignment});
}

} // namespace platform
