#include "xml/ByteSource.h"

#include <algorithm>
#include <cstring>

#if defined(__linux__)
#include <fcntl.h>
#endif

namespace xml {

bool MemorySource::Read(unsigned char *into, std::size_t room,
                        std::size_t &got) {
  std::size_t n = std::min(room, bytes_.size() - done_);
  const std::size_t limit = done_ == 0 && firstPiece_ ? firstPiece_ : piece_;
  if (limit)
    n = std::min(n, limit);
  if (n)
    std::memcpy(into, bytes_.data() + done_, n);
  done_ += n;
  got = n;
  return true;
}

std::unique_ptr<ByteSource> MemorySource::Reopen() const {
  return std::make_unique<MemorySource>(bytes_, firstPiece_, piece_);
}

FileSource::~FileSource() {
  if (file_ != platform::kInvalidFile)
    platform::CloseFile(file_);
}

bool FileSource::Open(std::u16string_view path) {
  if (file_ != platform::kInvalidFile)
    platform::CloseFile(file_);
  path_.assign(path);
  done_ = 0;
  size_ = -1;
  file_ = platform::OpenFile(path_.c_str(), platform::OpenMode::ReadOnly);
  if (file_ == platform::kInvalidFile)
    return false;
  const int32_t size = platform::FileSize32(file_);
  if (size < 0) {
    platform::CloseFile(file_);
    file_ = platform::kInvalidFile;
    return false;
  }
  size_ = size;
#if defined(__linux__) && defined(POSIX_FADV_SEQUENTIAL)
  // Read once, front to back: a larger read-ahead and no need to keep the
  // pages cached for us.
  ::posix_fadvise(file_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

bool FileSource::Read(unsigned char *into, std::size_t room, std::size_t &got) {
  got = 0;
  if (file_ == platform::kInvalidFile)
    return false;
  const auto want = static_cast<uint32_t>(
      std::min<int64_t>(static_cast<int64_t>(room), size_ - done_));
  if (want == 0)
    return true;
  uint32_t read = 0;
  // ReadFile returns short only at the end of the file: the file shrank.
  if (!platform::ReadFile(file_, into, want, read) || read != want)
    return false;
  done_ += read;
  got = read;
  return true;
}

std::unique_ptr<ByteSource> FileSource::Reopen() const {
  auto again = std::make_unique<FileSource>();
  if (!again->Open(path_) || again->size_ < size_)
    return nullptr;
  again->size_ = size_;
  return again;
}

} // namespace xml
