// The speed limits the outline build is measured against: read a file and
// count its '<' bytes with memchr.  By default the whole file goes into
// memory that is not written first; with --large-pages that memory is
// backed by large pages where the system offers them; with --stream the
// file is read 1 MiB at a time into one reused buffer, the limit of a
// reader that never holds the file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

std::size_t CountIn(const char *p, const char *end) {
  std::size_t count = 0;
  while ((p = static_cast<const char *>(std::memchr(p, '<', end - p)))) {
    ++count;
    ++p;
  }
  return count;
}

std::size_t Streamed(std::FILE *f) {
  constexpr std::size_t kChunk = std::size_t{1} << 20;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kChunk);
  std::size_t count = 0;
  for (std::size_t got; (got = std::fread(buffer.get(), 1, kChunk, f)) > 0;)
    count += CountIn(buffer.get(), buffer.get() + got);
  return count;
}

std::size_t Whole(std::FILE *f, bool large) {
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
#else
  (void)large;
#endif
  const std::size_t got =
      std::fread(data.get(), 1, static_cast<std::size_t>(size), f);
  return CountIn(data.get(), data.get() + got);
}

} // namespace

int main(int argc, char **argv) {
  const bool large = argc == 3 && std::strcmp(argv[1], "--large-pages") == 0;
  const bool stream = argc == 3 && std::strcmp(argv[1], "--stream") == 0;
  if (argc != 2 && !large && !stream) {
    std::fputs("usage: memchr-count [--large-pages | --stream] FILE\n", stderr);
    return 2;
  }
  const char *path = argv[argc - 1];
  std::FILE *f = std::fopen(path, "rb");
  if (!f) {
    std::perror(path);
    return 1;
  }
  if (stream)
    std::setvbuf(f, nullptr, _IONBF, 0); // the reused buffer is ours
  const std::size_t count = stream ? Streamed(f) : Whole(f, large);
  std::fclose(f);
  std::printf("%zu\n", count);
  return 0;
}
