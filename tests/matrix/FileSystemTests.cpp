// What the file system can throw at the builder and the command line:
// files too large for 32-bit sizes, unreadable files and awkward names.

#include "tests/matrix/MatrixSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define ODX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ODX_UNDER_ASAN 1
#endif
#endif

namespace matrix {
namespace {

// The builder reports the failure quickly and leaves nothing behind; the
// command line fails with the message on standard error.
void ExpectCouldNotOpen(const QString &path, const std::string &what,
                        std::function<void()> limit = {}) {
  const auto start = std::chrono::steady_clock::now();
  const Built built = BuildInProcess(path);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
      << what;
  EXPECT_NE(built.status, outline::BuildStatus::Built) << what;
  EXPECT_TRUE(built.nodes.empty()) << what;
  EXPECT_TRUE(built.surroundingsRestored) << what;
  const ProcessResult cli =
      RunProgram(QStringLiteral(ODX_OUTLINE_PATH), {path}, 30000, limit);
  ASSERT_TRUE(cli.finished) << what;
  EXPECT_EQ(cli.exitCode, 1) << what;
  EXPECT_TRUE(cli.err.startsWith("Could not open file.\nodx-outline: "))
      << what;
  EXPECT_TRUE(cli.out.isEmpty()) << what;
}

// Sparse files, so the test needs no disk space: a size that does not fit
// below 2 GiB must be refused before anything is allocated or read (4 GiB +
// 100 would otherwise pass as 100 bytes).
TEST(FileSystem, FilesOfTwoGiBAndMoreFailCleanlyAndQuickly) {
  QTemporaryDir dir;
  const QString path = dir.filePath("huge.odx");
  for (const off_t size : {off_t{1} << 31, (off_t{1} << 32) + 100}) {
    const std::string what = "size " + std::to_string(size);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0) << what;
    ASSERT_EQ(::pwrite(fd, "<?xml version=\"1.0\"?><A/>", 25, 0), 25);
    ::close(fd);
    // Under a 512 MB address-space limit a load of the whole file would end
    // in "out of memory" instead.  AddressSanitizer reserves far more
    // address space than that, so it runs unlimited.
    std::function<void()> limit;
#if !defined(ODX_UNDER_ASAN)
    limit = [] {
      const rlimit cap{512u << 20, 512u << 20};
      ::setrlimit(RLIMIT_AS, &cap);
    };
#endif
    ExpectCouldNotOpen(path, what, limit);
  }
}

TEST(FileSystem, FilesWithoutReadPermissionShowTheMessage) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "running as root, which may read any file, so no file "
                    "can be made unreadable here";
  QTemporaryDir dir;
  for (const mode_t mode : {mode_t{0000}, mode_t{0200}}) {
    const QString path = dir.filePath(QString("locked-%1.odx").arg(mode));
    WriteAll(path, WithDeclaration("<A/>"));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
    ExpectCouldNotOpen(path, "mode " + std::to_string(mode));
  }
}

// Names that trip up shells, argument parsers and encoders open the same
// way in process and on the command line.
TEST(FileSystem, AwkwardPathsOpenInProcessAndAsArguments) {
  QTemporaryDir dir;
  const QByteArray content =
      WithDeclaration("<R><A k=\"1\">t</A><DESC><p>x</p></DESC></R>");
  const QString names[] = {
      "with space.odx",
      "quote\"d.odx",
      "apo's.odx",
      "new\nline.odx",
      "tab\t.odx",
      "back\\slash.odx",
      QString::fromUtf8("\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80.odx"),
      "-dash.odx",
      "--double.odx",
      " leading and trailing .odx ",
      "sub dir/\xC3\xA9t\xC3\xA9/x.y.z.odx",
  };
  for (const QString &name : names) {
    const std::string what = name.toStdString();
    const QString path = dir.filePath(name);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path())) << what;
    WriteAll(path, content);
    const Built built = BuildInProcess(path);
    EXPECT_EQ(built.status, outline::BuildStatus::Built) << what;
    EXPECT_EQ(built.nodes.size(), 4u) << what;
    // "--" ends the options, so a name that looks like one still works.
    const ProcessResult cli = RunOutline({"--", path});
    ASSERT_TRUE(cli.finished) << what;
    EXPECT_EQ(cli.exitCode, 0) << what << cli.err.toStdString();
    EXPECT_EQ(cli.out, "R\n  A = t **** k=\"1\"\n  DESC\n    <p>x</p></DESC>\n")
        << what;
  }
}

// A name whose bytes are not UTF-8 still opens: its bytes survive the trip
// through text.
TEST(FileSystem, NonUtf8NameOpens) {
  QTemporaryDir dir;
  const QByteArray name = QFile::encodeName(dir.path()) + "/caf\xE9.odx";
  const QByteArray content = WithDeclaration("<A/>");
  const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, content.constData(), size_t(content.size())),
            content.size());
  ::close(fd);
  // QProcess re-encodes its arguments, so the raw bytes go through execv.
  const ProcessResult cli = RunProgram(
      QStringLiteral("python3"),
      {"-c",
       "import os, sys; os.execv(sys.argv[1], "
       "[sys.argv[1], bytes.fromhex(sys.argv[2])])",
       QStringLiteral(ODX_OUTLINE_PATH), QString::fromLatin1(name.toHex())},
      30000);
  ASSERT_TRUE(cli.finished);
  EXPECT_EQ(cli.exitCode, 0) << cli.err.toStdString();
  EXPECT_EQ(cli.out, "A\n");
  ::unlink(name.constData()); // QTemporaryDir cannot remove it
}

} // namespace
} // namespace matrix
