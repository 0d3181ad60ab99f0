// Token reader throughput against the memory-speed floor of the same work:
// (a) cvexXML Open + NextToken to the end, (b) a plain read of the file plus
// a memchr count of '<'.  Usage: bench_tokenize FILE [repetitions]
#include "xml/cvexXML.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Each run reports its whole time and the part spent after the file was in
// memory, since reading the file can dominate on a slow file system.
struct Run {
  long long count = -1;
  double inMemory = 0;
};

Run Tokenize(const char *path) {
  cvexXML reader;
  if (!reader.Open(cvexString(path), 0))
    return {};
  const auto loaded = Clock::now();
  unsigned char kind = 0;
  cvexString name, value, attributes;
  long long tokens = 0;
  while (reader.NextToken(kind, name, value, attributes))
    ++tokens;
  const double seconds = Seconds(loaded);
  reader.Close();
  return {tokens, seconds};
}

Run ReadAndCount(const char *path) {
  const int fd = ::open(path, O_RDONLY);
  if (fd < 0)
    return {};
  const off_t size = ::lseek(fd, 0, SEEK_END);
  ::lseek(fd, 0, SEEK_SET);
  std::vector<unsigned char> bytes(static_cast<size_t>(size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got <= 0)
      break;
    done += size_t(got);
  }
  ::close(fd);
  const auto loaded = Clock::now();
  long long count = 0;
  const unsigned char *p = bytes.data();
  const unsigned char *end = p + done;
  while ((p = static_cast<const unsigned char *>(
              std::memchr(p, '<', size_t(end - p))))) {
    ++count;
    ++p;
  }
  return {count, Seconds(loaded)};
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [repetitions]\n", argv[0]);
    return 2;
  }
  const char *path = argv[1];
  const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  std::FILE *f = std::fopen(path, "rb");
  if (!f) {
    std::fprintf(stderr, "cannot open %s\n", path);
    return 1;
  }
  std::fseek(f, 0, SEEK_END);
  const double megabytes = double(std::ftell(f)) / 1e6;
  std::fclose(f);

  // Best of several runs, interleaved so both see the same cache state.
  double bestTokenize = 1e30, bestScan = 1e30;
  double bestTokenizeMem = 1e30, bestScanMem = 1e30;
  Run tokens, angles;
  for (int i = 0; i < reps; ++i) {
    auto t0 = Clock::now();
    tokens = Tokenize(path);
    bestTokenize = std::min(bestTokenize, Seconds(t0));
    bestTokenizeMem = std::min(bestTokenizeMem, tokens.inMemory);
    t0 = Clock::now();
    angles = ReadAndCount(path);
    bestScan = std::min(bestScan, Seconds(t0));
    bestScanMem = std::min(bestScanMem, angles.inMemory);
  }
  if (tokens.count < 0 || angles.count < 0) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 1;
  }
  auto report = [megabytes](const char *what, double tokenize, double scan) {
    const double tokenizeRate = megabytes / tokenize;
    const double scanRate = megabytes / scan;
    std::printf("%s\n", what);
    std::printf("  tokenize        %8.1f MB/s  (%.3f s)\n", tokenizeRate,
                tokenize);
    std::printf("  memchr '<'      %8.1f MB/s  (%.3f s)\n", scanRate, scan);
    std::printf("  ratio           %8.1f %%\n",
                100.0 * tokenizeRate / scanRate);
  };
  std::printf("file  %.1f MB, %lld tokens, %lld '<', best of %d\n", megabytes,
              tokens.count, angles.count, reps);
  report("with loading (Open / plain read):", bestTokenize, bestScan);
  report("in memory only (after loading):", bestTokenizeMem, bestScanMem);
  return 0;
}
