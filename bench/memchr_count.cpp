// The speed limit the outline build is measured against: read a whole file
// into memory that is not written first, and count its '<' bytes with
// memchr.  With --large-pages the buffer is backed by large pages where the
// system offers them, as the viewer's own large blocks are: the limit of a
// reader that uses them too.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

int main(int argc, char **argv) {
  const bool large = argc == 3 && std::strcmp(argv[1], "--large-pages") == 0;
  if (argc != 2 && !large) {
    std::fputs("usage: memchr-count [--large-pages] FILE\n", stderr);
    return 2;
  }
  const char *path = argv[argc - 1];
  std::FILE *f = std::fopen(path, "rb");
  if (!f) {
    std::perror(path);
    return 1;
  }
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  const auto data =
      std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (large) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data.get());
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t last = (start + std::uintptr_t(size)) & ~(page - 1);
    if (last > first)
      ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
  }
#endif
  const std::size_t got =
      std::fread(data.get(), 1, static_cast<std::size_t>(size), f);
  std::fclose(f);
  std::size_t count = 0;
  const char *p = data.get();
  const char *end = p + got;
  while ((p = static_cast<const char *>(std::memchr(p, '<', end - p)))) {
    ++count;
    ++p;
  }
  std::printf("%zu\n", count);
  return 0;
}
