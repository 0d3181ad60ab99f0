#pragma once

#include <cstddef>

namespace platform {

// Asks the system to back a large block with large pages where it can.
// Filling a fresh block costs one page fault per page touched; a 500 MB
// file and its outline touch over 200,000 small pages, but only a few
// hundred large ones.  Blocks below a few megabytes are left alone, and so
// is every platform without the advice.
void AdviseLargePages(void *block, std::size_t bytes);

} // namespace platform
