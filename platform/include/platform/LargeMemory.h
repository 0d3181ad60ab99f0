#pragma once

#include <cstddef>

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

} // namespace platform
