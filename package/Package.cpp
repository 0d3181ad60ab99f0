#include "package/Package.h"

#include "platform/FileHandle.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace package {

namespace {

// Deflate emits at most 258 bytes for two bits of input, so no stream makes
// more than 1032 bytes of each compressed byte.
constexpr uint64_t kMaxDeflateRatio = 1032;

Package::OpenStatus FailedOpen(int zipError) {
  return zipError == ZIP_ER_MEMORY ? Package::OpenStatus::CouldNotOpen
                                   : Package::OpenStatus::Damaged;
}

// Whether the declared size can come out of the compressed bytes at all,
// and those bytes fit in the archive; the rest is checked while reading.
// Reading makes room for the declared size first, so a lie caught here
// costs no allocation.
bool CanRead(const zip_stat_t &st, uint64_t archiveSize) {
  constexpr zip_uint64_t kNeeded = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE |
                                   ZIP_STAT_COMP_METHOD |
                                   ZIP_STAT_ENCRYPTION_METHOD;
  if ((st.valid & kNeeded) != kNeeded || st.encryption_method != ZIP_EM_NONE ||
      st.size > uint64_t(std::numeric_limits<int32_t>::max()) ||
      st.comp_size > archiveSize)
    return false;
  switch (st.comp_method) {
  case ZIP_CM_STORE:
    return st.size == st.comp_size;
  case ZIP_CM_DEFLATE:
    return st.comp_size > UINT64_MAX / kMaxDeflateRatio ||
           st.size <= st.comp_size * kMaxDeflateRatio;
  default:
    return false;
  }
}

// libzip hands out a name unchanged (ENC_RAW) or following the ZIP rule
// (ENC_STRICT): as it is when general-purpose bit 11 says UTF-8, converted
// from CP437 otherwise.  A conversion differs from the raw bytes whenever a
// byte needs one, and we convert those ourselves so that control bytes stay
// as they are (libzip's table turns them into pictures).
NameEncoding EncodingOf(zip_t *archive, zip_uint64_t index, const char *raw) {
  const char *strict = zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
  return strict != nullptr && std::strcmp(strict, raw) == 0
             ? NameEncoding::Utf8
             : NameEncoding::Cp437;
}

} // namespace

bool LooksLikePackage(std::span<const unsigned char> firstBytes) {
  if (firstBytes.size() < 4 || firstBytes[0] != 'P' || firstBytes[1] != 'K')
    return false;
  return (firstBytes[2] == 3 && firstBytes[3] == 4) ||
         (firstBytes[2] == 5 && firstBytes[3] == 6);
}

Package::~Package() { Close(); }

void Package::Close() {
  if (archive_ != nullptr)
    zip_discard(archive_);
  archive_ = nullptr;
  members_.clear();
}

Package::OpenStatus Package::Open(const cvexString &path) {
  Close();
  const platform::FileHandle file =
      platform::OpenFile(path.buffer, platform::OpenMode::ReadOnly);
  if (file == platform::kInvalidFile)
    return OpenStatus::CouldNotOpen;
  unsigned char head[4] = {};
  uint32_t got = 0;
  if (!platform::ReadFile(file, head, sizeof head, got)) {
    platform::CloseFile(file);
    return OpenStatus::CouldNotOpen;
  }
  if (!LooksLikePackage({head, got})) {
    platform::CloseFile(file);
    return OpenStatus::NotAPackage;
  }
  const int64_t size = platform::FileSize(file);
  platform::SeekToStart(file);
  // libzip reads through its own duplicate of the descriptor and closes
  // ours only when it succeeds.
  int error = ZIP_ER_OK;
  zip_t *archive = zip_fdopen(file, ZIP_RDONLY, &error);
  if (archive == nullptr) {
    platform::CloseFile(file);
    return FailedOpen(error);
  }
  return Adopt(archive, size < 0 ? UINT64_MAX : uint64_t(size));
}

Package::OpenStatus Package::OpenMemory(std::span<const unsigned char> bytes) {
  Close();
  if (!LooksLikePackage(bytes))
    return OpenStatus::NotAPackage;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t *source =
      zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t *archive =
      source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  const int code = zip_error_code_zip(&error);
  zip_error_fini(&error);
  if (archive == nullptr) {
    zip_source_free(source); // still ours when the open failed
    return FailedOpen(code);
  }
  return Adopt(archive, bytes.size());
}

// Opened without ZIP_CHECKCONS: the central directory is all we go by, and
// each member's own data is checked when it is read.
Package::OpenStatus Package::Adopt(zip_t *archive, uint64_t archiveSize) {
  archive_ = archive;
  const zip_int64_t count = zip_get_num_entries(archive_, 0);
  uint64_t documentBytes = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = zip_uint64_t(i);
    const char *raw = zip_get_name(archive_, index, ZIP_FL_ENC_RAW);
    zip_stat_t st;
    zip_stat_init(&st);
    if (raw == nullptr || zip_stat_index(archive_, index, 0, &st) != 0) {
      Close();
      return OpenStatus::Damaged;
    }
    const size_t length = std::strlen(raw);
    if (length > 0 && raw[length - 1] == '/')
      continue; // a directory
    Member &m = members_.emplace_back();
    m.entry = index;
    m.name = DecodeName({raw, length}, EncodingOf(archive_, index, raw));
    m.kind = KindOfName(m.name);
    m.size = st.size;
    m.readable = CanRead(st, archiveSize);
    if (m.kind == MemberKind::Document && m.readable) {
      documentBytes += m.size; // each below 2^31: no overflow
      if (documentBytes >= kDocumentBytesLimit) {
        Close();
        return OpenStatus::TooLarge;
      }
    }
  }
  return OpenStatus::Opened;
}

std::unique_ptr<MemberStream> Package::OpenMember(size_t member) const {
  if (archive_ == nullptr || member >= members_.size() ||
      !members_[member].readable)
    return nullptr;
  const Member &m = members_[member];
  zip_file_t *file = zip_fopen_index(archive_, m.entry, 0);
  if (file == nullptr)
    return nullptr;
  return std::unique_ptr<MemberStream>(new MemberStream(file, m.size));
}

MemberStream::~MemberStream() {
  if (file_ != nullptr)
    zip_fclose(file_);
}

bool MemberStream::Read(unsigned char *into, std::size_t room,
                        std::size_t &got) {
  got = 0;
  if (failed_)
    return false;
  if (done_ == size_) {
    failed_ = !Finish();
    return !failed_;
  }
  const zip_int64_t n =
      zip_fread(file_, into, std::min<uint64_t>(room, size_ - done_));
  // Nothing before the declared size means fewer bytes than declared.
  if (n <= 0) {
    failed_ = true;
    return false;
  }
  done_ += uint64_t(n);
  got = std::size_t(n);
  return true;
}

// Asking for one byte more: any byte means the size lied, and reaching the
// end is where libzip compares the CRC and the size.
bool MemberStream::Finish() {
  if (file_ == nullptr)
    return true; // checked before
  unsigned char extra = 0;
  bool ok = zip_fread(file_, &extra, 1) == 0;
  ok = zip_fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok;
}

bool Package::Read(size_t member,
                   cvexDynamicArrayTemplate<unsigned char> &bytes) {
  bytes.Free();
  const std::unique_ptr<MemberStream> stream = OpenMember(member);
  if (!stream)
    return false;
  const uint64_t size = stream->Size();
  bytes.Resize(int32_t(size), false);
  bool ok = true;
  for (uint64_t done = 0; ok && done < size;) {
    std::size_t got = 0;
    ok = stream->Read(bytes.data + done, size - done, got) && got > 0;
    done += got;
  }
  // The final read checks the whole member and gives nothing.
  std::size_t got = 0;
  ok = ok && stream->Read(bytes.data, 0, got) && got == 0;
  if (!ok)
    bytes.Free();
  return ok;
}

} // namespace package
