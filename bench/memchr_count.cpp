// The speed limit the outline build is measured against: read a whole file
// and count its '<' bytes with memchr.
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fputs("usage: memchr-count FILE\n", stderr);
    return 2;
  }
  std::FILE *f = std::fopen(argv[1], "rb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  std::vector<char> data(static_cast<std::size_t>(size));
  const std::size_t got = std::fread(data.data(), 1, data.size(), f);
  std::fclose(f);
  std::size_t count = 0;
  const char *p = data.data();
  const char *end = p + got;
  while ((p = static_cast<const char *>(std::memchr(p, '<', end - p)))) {
    ++count;
    ++p;
  }
  std::printf("%zu\n", count);
  return 0;
}
