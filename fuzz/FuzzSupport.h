#pragma once

// Shared pieces of the fuzz targets: an invariant check that aborts (so
// libFuzzer keeps the input) and an in-memory scratch file that the real
// file-opening path reads.

#include "foundation/cvexString.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#define FUZZ_CHECK(cond)                                                       \
  do {                                                                         \
    if (!(cond)) {                                                             \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__,          \
                   __LINE__, #cond);                                           \
      std::abort();                                                            \
    }                                                                          \
  } while (0)

namespace fuzz {

// One scratch file per process, rewritten for every input, so a target can
// go through the real open, size query and read.  It lives in memory only
// (memfd), named by its /proc/self/fd path, and goes with the process.
class ScratchFile {
public:
  ScratchFile() {
    fd_ = ::memfd_create("odx-fuzz", MFD_CLOEXEC);
    FUZZ_CHECK(fd_ >= 0);
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~ScratchFile() { ::close(fd_); }
  ScratchFile(const ScratchFile &) = delete;
  ScratchFile &operator=(const ScratchFile &) = delete;

  void Fill(const uint8_t *data, size_t size) {
    FUZZ_CHECK(::ftruncate(fd_, 0) == 0);
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, off_t(done));
      FUZZ_CHECK(n > 0);
      done += size_t(n);
    }
  }
  void PathInto(cvexString &out) const { out.AssignAnsi(path_.c_str()); }

private:
  std::string path_;
  int fd_ = -1;
};

inline std::u16string_view View(const cvexString &s) {
  return {s.buffer, static_cast<size_t>(s.Length())};
}

// Reads little-endian 16-bit units from the front of the input.
inline std::u16string TakeUnits(const uint8_t *&data, size_t &size,
                                size_t count) {
  std::u16string out;
  while (count-- > 0 && size >= 2) {
    out.push_back(char16_t(data[0] | (data[1] << 8)));
    data += 2;
    size -= 2;
  }
  return out;
}

} // namespace fuzz
