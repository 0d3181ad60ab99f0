#include "platform/FileHandle.h"

#include "platform/FileName.h"
#include "platform/Interrupted.h"

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QByteArray EncodedPath(const char16_t *path) {
  return EncodeFileName(path ? std::u16string_view(path)
                             : std::u16string_view());
}

// Directories open read-only on Linux, and a FIFO or socket would block the
// reader forever; only things with a size and an end are files here.
bool IsAcceptable(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return false;
  return !S_ISDIR(st.st_mode) && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode);
}

} // namespace

bool IsReadOnly(const char16_t *path) {
  const QByteArray name = EncodedPath(path);
  return name.isEmpty() || ::access(name.constData(), W_OK) != 0;
}

FileHandle OpenFile(const char16_t *path, OpenMode mode) {
  const QByteArray name = EncodedPath(path);
  if (name.isEmpty())
    return kInvalidFile;
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is
  // rejected right after and has no effect on regular files.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
  case OpenMode::ReadOnly:
    flags |= O_RDONLY;
    break;
  case OpenMode::ReadWrite:
    flags |= O_RDWR;
    break;
  case OpenMode::CreateAlways:
    flags |= O_RDWR | O_CREAT | O_TRUNC;
    break;
  }
  const int fd =
      RetryOnInterrupt([&] { return ::open(name.constData(), flags, 0666); });
  if (fd < 0)
    return kInvalidFile;
  if (!IsAcceptable(fd)) {
    ::close(fd);
    return kInvalidFile;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool ReadFile(FileHandle h, void *dest, uint32_t count, uint32_t &read) {
  read = 0;
  auto *out = static_cast<unsigned char *>(dest);
  // A single read may return fewer bytes than asked even mid-file.
  while (read < count) {
    const ssize_t n =
        RetryOnInterrupt([&] { return ::read(h, out + read, count - read); });
    if (n < 0)
      return false;
    if (n == 0)
      break; // end of file
    read += static_cast<uint32_t>(n);
  }
  return true;
}

bool WriteFile(FileHandle h, const void *src, uint32_t count,
               uint32_t &written) {
  written = 0;
  const auto *in = static_cast<const unsigned char *>(src);
  while (written < count) {
    const ssize_t n = RetryOnInterrupt(
        [&] { return ::write(h, in + written, count - written); });
    if (n < 0)
      return false;
    if (n == 0)
      return false; // no progress: give up rather than spin
    written += static_cast<uint32_t>(n);
  }
  return true;
}

int64_t FileSize(FileHandle h) {
  struct stat st {};
  if (::fstat(h, &st) != 0 || st.st_size < 0)
    return -1;
  return st.st_size;
}

int32_t FileSize32(FileHandle h) {
  const int64_t size = FileSize(h);
  // A wrapped-around size would make the reader load a part of the file
  // as if it were the whole.
  if (size > std::numeric_limits<int32_t>::max())
    return -1;
  return static_cast<int32_t>(size);
}

FileProblem DiagnoseFile(const char16_t *path) {
  const QByteArray name = EncodedPath(path);
  struct stat st {};
  if (name.isEmpty())
    return FileProblem::NotFound;
  if (::stat(name.constData(), &st) != 0)
    return errno == EACCES ? FileProblem::NotReadable : FileProblem::NotFound;
  if (S_ISDIR(st.st_mode))
    return FileProblem::Folder;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
    return FileProblem::NotAFile;
  if (::access(name.constData(), R_OK) != 0)
    return FileProblem::NotReadable;
  if (st.st_size > std::numeric_limits<int32_t>::max())
    return FileProblem::TooLarge;
  return FileProblem::None;
}

const char *DescribeOpenFailure(const char16_t *path, bool tooLarge) {
  switch (tooLarge ? FileProblem::TooLarge : DiagnoseFile(path)) {
  case FileProblem::NotFound:
    return "There is no such file.";
  case FileProblem::Folder:
    return "It is a folder, not a file.";
  case FileProblem::NotAFile:
    return "It is not a regular file.";
  case FileProblem::NotReadable:
    return "You are not allowed to read it.";
  case FileProblem::TooLarge:
    return "It is too large: the viewer reads files below 2 GiB.";
  case FileProblem::None:
    break;
  }
  return "It could not be read.";
}

void SeekToStart(FileHandle h) { ::lseek(h, 0, SEEK_SET); }

void CloseFile(FileHandle h) { ::close(h); }

} // namespace platform
