#include "platform/FileHandle.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace platform;

std::u16string Wide(const QString &path) {
  return std::u16string(reinterpret_cast<const char16_t *>(path.utf16()),
                        static_cast<std::size_t>(path.size()));
}

class FileHandleTest : public ::testing::Test {
protected:
  QTemporaryDir dir;
  std::u16string Path(const char *name) const {
    return Wide(dir.filePath(QString::fromUtf8(name)));
  }
};

TEST_F(FileHandleTest, CreateUsesEncodedNameAndCloseOnExec) {
  const std::u16string path = Path("r\u00E9sum\u00E9.txt");
  const FileHandle h = OpenFile(path.c_str(), OpenMode::CreateAlways);
  ASSERT_NE(h, kInvalidFile);
  EXPECT_TRUE(QDir(dir.path())
                  .entryList(QDir::Files)
                  .contains(QString::fromUtf16(u"r\u00E9sum\u00E9.txt")));
  EXPECT_TRUE(::fcntl(h, F_GETFD) & FD_CLOEXEC);
  EXPECT_FALSE(::fcntl(h, F_GETFL) & O_NONBLOCK);
  CloseFile(h);
}

TEST_F(FileHandleTest, ReadOnlyMeansWeMayNotWrite) {
  const std::u16string path = Path("plain.txt");
  EXPECT_TRUE(IsReadOnly(path.c_str())); // missing: the test fails
  EXPECT_TRUE(IsReadOnly(Path("no/such/dir/x").c_str()));
  EXPECT_TRUE(IsReadOnly(u""));
  EXPECT_TRUE(IsReadOnly(nullptr));
  CloseFile(OpenFile(path.c_str(), OpenMode::CreateAlways));
  EXPECT_FALSE(IsReadOnly(path.c_str()));
}

TEST_F(FileHandleTest, OnlyFilesOpen) {
  for (const OpenMode mode : {OpenMode::ReadOnly, OpenMode::ReadWrite}) {
    EXPECT_EQ(OpenFile(Wide(dir.path()).c_str(), mode), kInvalidFile);
    EXPECT_EQ(OpenFile(Path("missing").c_str(), mode), kInvalidFile);
  }
  EXPECT_EQ(OpenFile(u"", OpenMode::CreateAlways), kInvalidFile);
  // A FIFO without a writer would block a plain open forever.
  const QByteArray fifo = QFile::encodeName(dir.filePath("fifo"));
  ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
  EXPECT_EQ(OpenFile(Path("fifo").c_str(), OpenMode::ReadOnly), kInvalidFile);
}

// Pipes deliver what has arrived so far: the read must keep going until the
// count is reached or the writer is gone.
TEST(FileHandle, ReadCollectsShortReads) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "abc", 3), 3);
  std::thread late([w = fds[1]] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    (void)::write(w, "def", 3);
    ::close(w);
  });
  char back[8] = {};
  uint32_t got = 0;
  EXPECT_TRUE(ReadFile(fds[0], back, 8, got));
  late.join();
  EXPECT_EQ(std::string(back, got), "abcdef");
  ::close(fds[0]);
}

TEST(FileHandle, InvalidHandleFails) {
  char byte = 0;
  uint32_t n = 7;
  EXPECT_FALSE(ReadFile(kInvalidFile, &byte, 1, n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(WriteFile(kInvalidFile, &byte, 1, n));
  EXPECT_EQ(FileSize32(kInvalidFile), -1);
}

TEST_F(FileHandleTest, SizeOnlyBelowTwoGiB) {
  const std::u16string path = Path("sparse.bin");
  const FileHandle h = OpenFile(path.c_str(), OpenMode::CreateAlways);
  ASSERT_NE(h, kInvalidFile);
  struct Case {
    off_t size;
    int32_t expected;
  };
  const Case cases[] = {{0, 0},
                        {100, 100},
                        {(off_t{1} << 31) - 1, 2147483647},
                        {off_t{1} << 31, -1},
                        {(off_t{1} << 32) + 100, -1}};
  for (const Case &c : cases) {
    ASSERT_EQ(::ftruncate(h, c.size), 0);
    EXPECT_EQ(FileSize32(h), c.expected) << c.size;
  }
  CloseFile(h);
}

} // namespace
