#include "foundation/cvexFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Memory-mode sizes and positions are 32-bit; more is an impossible
// allocation.
int32_t CheckedSize(int64_t n) {
  if (n < 0 || n > std::numeric_limits<int32_t>::max())
    throw std::bad_alloc();
  return static_cast<int32_t>(n);
}

} // namespace

// Close resets `handle` to the invalid value, so a handle that is still valid
// here belongs to this object and nothing else.
cvexFile::~cvexFile() {
  if (handle != platform::kInvalidFile)
    platform::CloseFile(handle);
}

bool cvexFile::Open(const cvexString &path, bool create) {
  readOnly = false;
  if (!onDisk) {
    memoryPos = 0;
    return true;
  }
  // Opening again without Close would otherwise lose the descriptor.
  if (handle != platform::kInvalidFile) {
    platform::CloseFile(handle);
    handle = platform::kInvalidFile;
  }
  const char16_t *name = path.buffer ? path.buffer : u"";
  if (create) {
    handle = platform::OpenFile(name, platform::OpenMode::CreateAlways);
  } else {
    readOnly = platform::IsReadOnly(name);
    handle = platform::OpenFile(name, readOnly ? platform::OpenMode::ReadOnly
                                               : platform::OpenMode::ReadWrite);
  }
  return handle != platform::kInvalidFile;
}

bool cvexFile::Close() {
  if (onDisk) {
    if (handle != platform::kInvalidFile)
      platform::CloseFile(handle);
    // Unlike a kept stale number, the invalid value can never name a
    // descriptor that a later open in this process has been given.
    handle = platform::kInvalidFile;
  } else {
    memory.Free();
  }
  return true;
}

bool cvexFile::ReadBlock(void *destination, const int32_t &count) {
  int32_t ignored = 0;
  return Read(destination, count, ignored);
}

bool cvexFile::Read(void *destination, int32_t count, int32_t &bytesRead) {
  if (count < 0)
    return false;
  if (onDisk) {
    uint32_t got = 0;
    const bool ok = platform::ReadFile(handle, destination,
                                       static_cast<uint32_t>(count), got);
    bytesRead = static_cast<int32_t>(got);
    return ok;
  }
  if (static_cast<int64_t>(memory.count) <
      static_cast<int64_t>(memoryPos) + count)
    return false;
  if (count > 0)
    std::memcpy(destination, memory.data + memoryPos,
                static_cast<std::size_t>(count));
  memoryPos += count;
  bytesRead = count;
  return true;
}

bool cvexFile::Write(const void *source, int32_t count, int32_t &bytesWritten) {
  if (count < 0)
    return false;
  if (onDisk) {
    uint32_t put = 0;
    const bool ok =
        platform::WriteFile(handle, source, static_cast<uint32_t>(count), put);
    bytesWritten = static_cast<int32_t>(put);
    return ok;
  }
  const int64_t end = static_cast<int64_t>(memoryPos) + count;
  // Grows well beyond the need so that many small writes allocate rarely.
  if (end >= static_cast<int64_t>(memory.count) - 5)
    memory.Resize(CheckedSize(end + 5000), true);
  if (count > 0)
    std::memcpy(memory.data + memoryPos, source,
                static_cast<std::size_t>(count));
  bytesWritten = count;
  memoryPos += count;
  return true;
}

bool cvexFile::WriteLine(const cvexString &line) {
  const int32_t length = line.Length();
  if (static_cast<int64_t>(length) + 4 > lineBuffer.count)
    lineBuffer.Resize(CheckedSize(static_cast<int64_t>(length) + 100), false);
  unsigned char *out = lineBuffer.data;
  // 8-bit text by truncation: characters above U+00FF lose their high byte.
  for (int32_t i = 0; i < length; ++i)
    out[i] = static_cast<unsigned char>(line.buffer[i] & 0xFF);
  out[length] = 13;
  out[length + 1] = 10;
  int32_t written = 0;
  return Write(out, length + 2, written);
}

bool cvexFile::ReadLine(cvexString &line) {
  int32_t i = 0;
  for (;;) {
    unsigned char byte = 0;
    int32_t got = 0;
    if (!Read(&byte, 1, got))
      return false;
    if (got == 0)
      return i > 0;
    if (byte == 13 || byte == 10) {
      if (i == 0)
        continue; // a break before the line's first character
      return true;
    }
    if (static_cast<int64_t>(i) + 2 >= line.capacity) {
      // Never less than room for this character and its terminator, even
      // with a negative growth step.
      const int64_t target =
          std::max<int64_t>(static_cast<int64_t>(i) + line.growBy + 3, i + 2);
      line.SetCapacity(CheckedSize(target), true);
    }
    line.buffer[i] = byte;
    line.buffer[i + 1] = 0;
    ++i;
  }
}

int32_t cvexFile::Size() {
  return onDisk ? platform::FileSize32(handle) : memory.count;
}

void cvexFile::Rewind() {
  if (onDisk)
    platform::SeekToStart(handle);
  else
    memoryPos = 0;
}
