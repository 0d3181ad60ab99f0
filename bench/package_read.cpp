// The package stage alone: open a package and read every readable member
// into one reused buffer, as the outline build will, and print the bytes
// read.  bench/run_all.sh times it beside unzip.
#include "package/Package.h"

#include <QString>

#include <cstdio>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fputs("usage: package-read FILE\n", stderr);
    return 2;
  }
  cvexString path;
  path = reinterpret_cast<const char16_t *>(
      QString::fromLocal8Bit(argv[1]).utf16());
  package::Package p;
  if (p.Open(path) != package::Package::OpenStatus::Opened) {
    std::fputs("Could not open file.\n", stderr);
    return 1;
  }
  cvexDynamicArrayTemplate<unsigned char> bytes;
  unsigned long long total = 0;
  for (size_t i = 0; i < p.Members().size(); ++i)
    if (p.Read(i, bytes))
      total += uint64_t(bytes.count);
  std::printf("%llu\n", total);
  return 0;
}
