#pragma once

#include "platform/FileHandle.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace xml {

// Where the bytes of a streamed document come from: in order, a piece at a
// time, so that no reader ever needs the whole document in memory.
class ByteSource {
public:
  virtual ~ByteSource() = default;
  // Puts up to `room` of the next bytes at `into`; `got` is 0 only at the
  // end.  False when the bytes cannot be read (a damaged or shrunken
  // source): the document is then unreadable as a whole.
  virtual bool Read(unsigned char *into, std::size_t room,
                    std::size_t &got) = 0;
  // All the bytes, or -1 when that is not known up front.
  virtual int64_t Size() const = 0;
  // A second, independent source over the same bytes from the first one,
  // for reading a stretch again that the reader has already let go of;
  // nullptr when there is none.
  virtual std::unique_ptr<ByteSource> Reopen() const = 0;
  // All the bytes when they already lie in memory as one block, which a
  // reader may then use where they are; empty otherwise.
  virtual std::span<const unsigned char> InMemory() const { return {}; }
};

// Bytes in memory, which must outlive the source.  With `firstPiece` or
// `piece` set, reads hand out at most that many bytes at a time (the first
// one, the rest) and the bytes count as not in memory: a reader then sees
// them exactly as it sees a file split at those places.
class MemorySource : public ByteSource {
public:
  explicit MemorySource(std::span<const unsigned char> bytes,
                        std::size_t firstPiece = 0, std::size_t piece = 0)
      : bytes_(bytes), firstPiece_(firstPiece), piece_(piece) {}
  bool Read(unsigned char *into, std::size_t room, std::size_t &got) override;
  int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
  std::unique_ptr<ByteSource> Reopen() const override;
  std::span<const unsigned char> InMemory() const override {
    return firstPiece_ || piece_ ? std::span<const unsigned char>() : bytes_;
  }

private:
  std::span<const unsigned char> bytes_;
  std::size_t firstPiece_;
  std::size_t piece_;
  std::size_t done_ = 0;
};

// A file read from start to end.  Only files below 2 GiB open (their
// offsets must fit the 32-bit sizes of the outline), and the file must
// still hold the bytes it held when opened: one that shrinks meanwhile
// fails the read, one that grows is read up to its old size.
class FileSource : public ByteSource {
public:
  FileSource() = default;
  ~FileSource() override;
  FileSource(const FileSource &) = delete;
  FileSource &operator=(const FileSource &) = delete;

  // False when the file is missing, no regular file, unreadable or 2 GiB
  // or more.
  bool Open(std::u16string_view path);
  bool Read(unsigned char *into, std::size_t room, std::size_t &got) override;
  int64_t Size() const override { return size_; }
  std::unique_ptr<ByteSource> Reopen() const override;

private:
  std::u16string path_;
  platform::FileHandle file_ = platform::kInvalidFile;
  int64_t size_ = -1;
  int64_t done_ = 0;
};

} // namespace xml
