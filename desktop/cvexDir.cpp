#include "desktop/cvexDir.h"

#include "desktop/cvexParseFileString.h"
#include "platform/ExecutablePath.h"
#include "platform/FileName.h"
#include "platform/Interrupted.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

QByteArray NativePath(const cvexString &path) {
  return platform::EncodeFileName(
      std::u16string_view(path.buffer ? path.buffer : u"",
                          static_cast<std::size_t>(path.Length())));
}

class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

private:
  int fd_;
};

bool WriteAll(int fd, const char *data, ssize_t size) {
  while (size > 0) {
    const ssize_t n = platform::RetryOnInterrupt(
        [&] { return ::write(fd, data, static_cast<size_t>(size)); });
    if (n < 0)
      return false;
    data += n;
    size -= n;
  }
  return true;
}

bool CopyContents(int from, int to) {
  char chunk[64 * 1024];
  for (;;) {
    const ssize_t n = platform::RetryOnInterrupt(
        [&] { return ::read(from, chunk, sizeof chunk); });
    if (n == 0)
      return true;
    if (n < 0)
      return false;
    if (!WriteAll(to, chunk, n))
      return false;
  }
}

bool CopyFileAtomically(const QByteArray &source, const QByteArray &target) {
  Descriptor in(::open(source.constData(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (in.get() < 0 || ::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode))
    return false;

  // The temporary must lie in the target's folder for rename to be atomic.
  QByteArray temporary = target + ".XXXXXX";
  Descriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
  if (out.get() < 0)
    return false;
  bool ok = CopyContents(in.get(), out.get()) &&
            ::fchmod(out.get(), info.st_mode & 0777) == 0;
  ok = ::close(out.release()) == 0 && ok;
  ok = ok && ::rename(temporary.constData(), target.constData()) == 0;
  if (!ok)
    ::unlink(temporary.constData());
  return ok;
}

// Windows wildcard match: '*' any run of characters, '?' exactly one.
// Greedy with one back-track point, so it stays linear-ish on any input.
bool WildcardMatch(QStringView pattern, QStringView name) {
  qsizetype p = 0, n = 0, starP = -1, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP >= 0) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*')
    ++p;
  return p == pattern.size();
}

bool AnyEntryMatches(const QString &path) {
  const qsizetype slash = path.lastIndexOf(u'/');
  // Wildcards count only in the last component, as the directory search
  // they stand for allows.
  const QString folder = slash < 0    ? QStringLiteral(".")
                         : slash == 0 ? QStringLiteral("/")
                                      : path.left(slash);
  const QStringView pattern = QStringView(path).mid(slash + 1);
  if (pattern.isEmpty() || folder.contains(u'*') || folder.contains(u'?'))
    return false;

  std::unique_ptr<DIR, int (*)(DIR *)> dir(
      ::opendir(platform::EncodeFileName(folder).constData()), &::closedir);
  if (!dir)
    return false;
  while (const dirent *entry = ::readdir(dir.get())) {
    if (WildcardMatch(pattern, platform::DecodeFileName(entry->d_name)))
      return true;
  }
  return false;
}

} // namespace

bool cvexDir::GetApplicationDirectory(cvexString &out) {
  const QString exe = platform::ExecutablePath();
  // The text gets at least 1024 units of room; a longer path is kept whole
  // rather than cut, so the folder is never wrong.
  const int32_t n = static_cast<int32_t>(exe.size());
  out.SetCapacity(n + 1 > 1024 ? n + 1 : 1024, false);
  for (int32_t k = 0; k < n; ++k)
    out.buffer[k] = exe[k].unicode();
  out.Terminate(n);

  cvexParseFileString parts(out);
  parts.GetDirectoryPath(out);
  return true;
}

bool cvexDir::Copy(const cvexString &source, const cvexString &target,
                   bool *copied) {
  const bool ok = !source.IsEmpty() && !target.IsEmpty() &&
                  CopyFileAtomically(NativePath(source), NativePath(target));
  if (copied)
    *copied = ok;
  return true;
}

bool cvexDir::Exists(const cvexString &path) {
  const QString text =
      QString::fromUtf16(path.buffer ? path.buffer : u"", path.Length());
  if (text.isEmpty())
    return false;
  struct stat info {};
  if (::stat(platform::EncodeFileName(text).constData(), &info) == 0)
    return true;
  if (text.contains(u'*') || text.contains(u'?'))
    return AnyEntryMatches(text);
  return false;
}
