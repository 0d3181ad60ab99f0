#pragma once

#include "foundation/cvexDynamicArrayTemplate.h"
#include "foundation/cvexString.h"
#include "package/MemberNames.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct zip;      // libzip's archive; only Package.cpp sees its header
struct zip_file; // one member being inflated

namespace package {

// True when the bytes begin with a ZIP's first local header or with the end
// record of an empty ZIP.  Fewer than four bytes never match.  The caller
// opens a file as a package on this test alone, whatever its extension.
bool LooksLikePackage(std::span<const unsigned char> firstBytes);

struct Member {
  uint64_t entry = 0;  // the entry's index in the ZIP's central directory
  std::u16string name; // decoded; libzip turns NUL bytes into spaces
  MemberKind kind = MemberKind::Other;
  uint64_t size = 0; // uncompressed size as declared; Read holds it to it
  // False when the member can be seen to be unreadable without reading:
  // encrypted, a method other than stored or deflated, or a declared size
  // the compressed bytes cannot make.  Read may still fail on the others.
  bool readable = false;
};

// The declared sizes of the readable documents must add up to less, so
// that every one fits the 32-bit arrays the outline reads from.
inline constexpr uint64_t kDocumentBytesLimit = uint64_t(1) << 31;

// One member inflated a piece at a time, held to its declared size: more or
// fewer bytes than declared, damaged data or a CRC mismatch fail a read, at
// the latest the one that reaches the end.  Closes the member when dropped.
class MemberStream {
public:
  ~MemberStream();
  MemberStream(const MemberStream &) = delete;
  MemberStream &operator=(const MemberStream &) = delete;

  // Up to `room` next bytes at `into`; `got` is 0 only at the end, once
  // the member has been checked whole.
  bool Read(unsigned char *into, std::size_t room, std::size_t &got);
  uint64_t Size() const { return size_; }

private:
  friend class Package;
  MemberStream(zip_file *file, uint64_t size) : file_(file), size_(size) {}
  bool Finish();

  zip_file *file_;
  uint64_t size_;
  uint64_t done_ = 0;
  bool failed_ = false;
};

// A PDX package: the ZIP's entries in central-directory order, directories
// left out, addressed by their place in Members() and never by name (two
// entries may share one).  Nothing is ever extracted to disk.
class Package {
public:
  enum class OpenStatus {
    Opened,
    NotAPackage,  // the file does not start like a ZIP: read it as it is
    Damaged,      // libzip cannot make sense of the central directory
    TooLarge,     // the documents add up to kDocumentBytesLimit or more
    CouldNotOpen, // the file itself (missing, unreadable, no memory)
  };

  Package() = default;
  ~Package();
  Package(const Package &) = delete;
  Package &operator=(const Package &) = delete;

  // Reads the ZIP from the file as needed; only the central directory is
  // held in memory.
  OpenStatus Open(const cvexString &path);
  // The same over bytes in memory, which must stay put until Close.
  OpenStatus OpenMemory(std::span<const unsigned char> bytes);
  void Close();

  const std::vector<Member> &Members() const { return members_; }

  // Inflates Members()[member] into `bytes`, which then holds exactly the
  // declared size (plus the array's zero sentinel).  False, with `bytes`
  // emptied, when the member cannot be read: damaged data, a CRC mismatch,
  // or more or fewer bytes than declared.  Inflating stops one byte past
  // the declared size, so a lying size costs no more than it declares.
  bool Read(size_t member, cvexDynamicArrayTemplate<unsigned char> &bytes);
  // The same a piece at a time; nullptr when the member cannot be opened.
  // Several members, or one member twice, may be open at once.
  std::unique_ptr<MemberStream> OpenMember(size_t member) const;

private:
  OpenStatus Adopt(zip *archive, uint64_t archiveSize);

  zip *archive_ = nullptr;
  std::vector<Member> members_;
};

} // namespace package
