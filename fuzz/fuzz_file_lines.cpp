// ReadLine and WriteLine in memory mode.  Reading: the lines must be the
// input split at CR and LF with empty pieces dropped.  Writing: the bytes
// must be each line's low bytes plus CR LF, and reading them back must give
// the same pieces.

#include "foundation/cvexFile.h"
#include "fuzz/FuzzSupport.h"

#include <cstring>
#include <vector>

namespace {

struct Piece {
  std::u16string units; // bytes widened, NUL included
  bool broken;          // a CR or LF follows it
};

std::vector<Piece> Split(const unsigned char *bytes, int32_t count) {
  std::vector<Piece> pieces;
  std::u16string cur;
  for (int32_t i = 0; i < count; ++i) {
    if (bytes[i] == 13 || bytes[i] == 10) {
      if (!cur.empty())
        pieces.push_back({cur, true});
      cur.clear();
    } else {
      cur.push_back(bytes[i]);
    }
  }
  if (!cur.empty())
    pieces.push_back({cur, false});
  return pieces;
}

// Reads every line of `file` from the start and compares with the split.
void ReadAllAndCompare(cvexFile &file, int32_t growBy) {
  const std::vector<Piece> expected =
      Split(file.memory.data, file.memory.count);
  cvexString line(1, growBy);
  size_t k = 0;
  int32_t lastPos = file.memoryPos;
  for (;;) {
    const bool ok = file.ReadLine(line);
    FUZZ_CHECK(file.memoryPos >= lastPos);
    FUZZ_CHECK(file.memoryPos <= file.memory.count);
    lastPos = file.memoryPos;
    if (!ok)
      break;
    FUZZ_CHECK(k < expected.size() && expected[k].broken);
    // A NUL byte is stored like any other, so the text ends there.
    const std::u16string &units = expected[k].units;
    FUZZ_CHECK(fuzz::View(line) ==
               std::u16string_view(units).substr(0, units.find(char16_t(0))));
    ++k;
  }
  // A last line without a break fails the read past the end, yet its
  // units are in the string.
  if (k < expected.size()) {
    FUZZ_CHECK(k + 1 == expected.size() && !expected[k].broken);
    const std::u16string &last = expected[k].units;
    FUZZ_CHECK(fuzz::View(line) ==
               std::u16string_view(last).substr(0, last.find(char16_t(0))));
  }
  FUZZ_CHECK(file.memoryPos == file.memory.count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 65536)
    return 0;
  const bool writing = data[0] & 1;
  const int32_t growBy = int32_t(data[1] % 56) - 5; // a few negative steps
  data += 2;
  size -= 2;

  cvexFile file;
  file.onDisk = false;
  cvexString none;
  if (!writing) {
    int32_t written = 0;
    FUZZ_CHECK(file.Write(data, int32_t(size), written));
    FUZZ_CHECK(written == int32_t(size));
    // Drop the growth reserve so the split sees only the input bytes.
    file.memory.Resize(int32_t(size), true);
    FUZZ_CHECK(file.Open(none, false) && file.memoryPos == 0);
    ReadAllAndCompare(file, growBy);
    return 0;
  }

  // Lines of UTF-16 units separated by U+FFFF; each is written as one line.
  std::u16string units = fuzz::TakeUnits(data, size, size / 2);
  std::vector<unsigned char> expected;
  cvexString line;
  size_t start = 0;
  while (start <= units.size()) {
    size_t end = units.find(u'\xFFFF', start);
    if (end == std::u16string::npos)
      end = units.size();
    const std::u16string piece = units.substr(start, end - start);
    line.AssignWide(piece.c_str());
    FUZZ_CHECK(file.WriteLine(line));
    for (char16_t u : fuzz::View(line))
      expected.push_back(static_cast<unsigned char>(u & 0xFF));
    expected.push_back(13);
    expected.push_back(10);
    FUZZ_CHECK(file.memoryPos == int32_t(expected.size()));
    FUZZ_CHECK(file.Size() > file.memoryPos + 5);
    start = end + 1;
  }
  FUZZ_CHECK(std::memcmp(file.memory.data, expected.data(), expected.size()) ==
             0);
  file.memory.Resize(int32_t(expected.size()), true);
  file.Rewind();
  ReadAllAndCompare(file, growBy);
  return 0;
}
