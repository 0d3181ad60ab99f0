#pragma once

#include <cstdint>

// POSIX stand-in for the platform file handles that cvexFile is written
// against.  Paths arrive as UTF-16 and are encoded for the file system here.
namespace platform {

using FileHandle = int; // a POSIX descriptor
inline constexpr FileHandle kInvalidFile = -1;

// True when this process may not write the file (or the test itself fails),
// which is what "marked read-only" means here: every readable file opens.
bool IsReadOnly(const char16_t *path);

enum class OpenMode { ReadOnly, ReadWrite, CreateAlways };
FileHandle OpenFile(const char16_t *path, OpenMode mode);

// Reads up to count bytes; at end of file succeeds with 0 bytes.
bool ReadFile(FileHandle h, void *dest, uint32_t count, uint32_t &read);
bool WriteFile(FileHandle h, const void *src, uint32_t count,
               uint32_t &written);
// The size in bytes, or -1 when it cannot be read.
int64_t FileSize(FileHandle h);
// The size as the 32-bit value the callers work with; -1 (all bits set) when
// the size cannot be read or does not fit below 2 GiB.
int32_t FileSize32(FileHandle h);
void SeekToStart(FileHandle h);

// Why a file would not open for reading, for messages that help; None when
// nothing is found wrong (the open may still fail, e.g. on a short read).
enum class FileProblem {
  None,
  NotFound,
  Folder,
  NotAFile,
  NotReadable,
  TooLarge
};
FileProblem DiagnoseFile(const char16_t *path);

// One sentence for a user on why `path` did not open; `tooLarge` when the
// loader found its contents too large (a UTF-16 file may grow past the
// limit when turned into UTF-8).
const char *DescribeOpenFailure(const char16_t *path, bool tooLarge);

void CloseFile(FileHandle h);

} // namespace platform
