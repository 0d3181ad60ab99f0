#include "foundation/cvexFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::u16string Text(const cvexString &s) {
  return s.buffer ? std::u16string(s.buffer) : std::u16string();
}

void SetPath(cvexString &s, const QString &path) {
  s.AssignWide(reinterpret_cast<const char16_t *>(path.utf16()));
}

int OpenDescriptors() {
  return static_cast<int>(
      std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                    std::filesystem::directory_iterator{}));
}

class FileTest : public ::testing::TestWithParam<bool> {
protected:
  QTemporaryDir dir;

  QString PathOf(const char *name) const { return dir.filePath(name); }

  QString Put(const char *name, const std::string &bytes) const {
    QFile f(PathOf(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return f.fileName();
  }

  static std::string Get(const QString &path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll().toStdString();
  }

  // Disk mode opens a real file; memory mode starts from the same bytes.
  bool OpenWith(cvexFile &file, const std::string &bytes) const {
    cvexString path;
    SetPath(path, Put("content.txt", bytes));
    file.onDisk = GetParam();
    if (!file.onDisk) {
      file.memory.Resize(static_cast<int32_t>(bytes.size()), false);
      if (!bytes.empty())
        std::memcpy(file.memory.data, bytes.data(), bytes.size());
    }
    return file.Open(path, false);
  }

  std::string Written(cvexFile &file) const {
    if (file.onDisk)
      return Get(PathOf("out.txt"));
    return std::string(reinterpret_cast<const char *>(file.memory.data),
                       static_cast<std::size_t>(file.memoryPos));
  }
};

TEST_P(FileTest, ReadLineSequences) {
  struct Case {
    std::string bytes;
    std::vector<std::u16string> disk, memory; // lines returned with true
    std::u16string after;                     // text once false is returned
  };
  const Case cases[] = {
      {"abc\r\ndef", {u"abc", u"def"}, {u"abc"}, u"def"},
      {"\r\n\r\nx", {u"x"}, {}, u"x"},
      {"", {}, {}, u"keep"},
      {"\n\n", {}, {}, u"keep"},
      {"a\n\n\rb\r\n", {u"a", u"b"}, {u"a", u"b"}, u"b"},
      {"x\xE9y\n", {u"x\u00E9y"}, {u"x\u00E9y"}, u"x\u00E9y"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bytes);
    cvexFile file;
    ASSERT_TRUE(OpenWith(file, c.bytes));
    cvexString line("keep");
    for (const std::u16string &expected : GetParam() ? c.disk : c.memory) {
      ASSERT_TRUE(file.ReadLine(line));
      EXPECT_EQ(Text(line), expected);
    }
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_EQ(Text(line), c.after);
    file.Close();
  }
}

TEST_P(FileTest, LongLineGrowsStringOnce) {
  cvexFile file;
  ASSERT_TRUE(OpenWith(file, std::string(300, 'q') + "\n"));
  cvexString line(255, 50);
  ASSERT_TRUE(file.ReadLine(line));
  EXPECT_EQ(line.Length(), 300);
  EXPECT_EQ(line.capacity, 306); // grown at i = 253 to 253 + 50 + 3
  file.Close();
}

TEST_P(FileTest, WriteLineTruncatesToBytes) {
  cvexFile file;
  file.onDisk = GetParam();
  cvexString path, line;
  SetPath(path, PathOf("out.txt"));
  ASSERT_TRUE(file.Open(path, true));
  line = u"\u0141";
  ASSERT_TRUE(file.WriteLine(line));
  line.TruncateAt(0);
  ASSERT_TRUE(file.WriteLine(line));
  line = u"\u00E9t\u00E9";
  ASSERT_TRUE(file.WriteLine(line));
  EXPECT_EQ(Written(file), std::string("A\r\n\r\n\xE9t\xE9\r\n"));
  file.Close();
}

TEST_P(FileTest, WriteLineScratchOnlyGrows) {
  cvexFile file;
  file.onDisk = GetParam();
  cvexString path, line;
  SetPath(path, PathOf("out.txt"));
  ASSERT_TRUE(file.Open(path, true));
  for (const auto &[length, scratch] :
       {std::pair{10, 110}, {3, 110}, {106, 110}, {107, 207}}) {
    line.AssignAnsi(std::string(static_cast<std::size_t>(length), 'w').c_str());
    ASSERT_TRUE(file.WriteLine(line));
    EXPECT_EQ(file.lineBuffer.count, scratch) << length;
  }
  EXPECT_EQ(Written(file).size(), 10u + 3 + 106 + 107 + 4 * 2);
  file.Close();
}

INSTANTIATE_TEST_SUITE_P(Modes, FileTest, ::testing::Values(true, false),
                         [](const auto &p) {
                           return p.param ? "Disk" : "Memory";
                         });

class DiskFile : public ::testing::Test {
protected:
  QTemporaryDir dir;
  cvexString path;

  void Name(const char *name) { SetPath(path, dir.filePath(name)); }
};

TEST_F(DiskFile, OpenCreateAndReadBack) {
  Name("data.bin");
  cvexFile file;
  EXPECT_FALSE(file.Open(path, false)); // does not exist yet
  ASSERT_TRUE(file.Open(path, true));
  int32_t written = 0;
  ASSERT_TRUE(file.Write("hello", 5, written));
  EXPECT_EQ(written, 5);
  EXPECT_EQ(file.Size(), 5);
  file.Rewind();
  char back[6] = {};
  const int32_t five = 5;
  ASSERT_TRUE(file.ReadBlock(back, five));
  EXPECT_STREQ(back, "hello");
  int32_t got = -1;
  EXPECT_TRUE(file.Read(back, 5, got)); // end of file: success, no bytes
  EXPECT_EQ(got, 0);
  file.Close();

  cvexFile existing;
  ASSERT_TRUE(existing.Open(path, false));
  EXPECT_EQ(existing.Size(), 5);
  existing.Close();
  ASSERT_TRUE(existing.Open(path, true)); // create truncates
  EXPECT_EQ(existing.Size(), 0);
  existing.Close();
}

TEST_F(DiskFile, ReadOnlyPermissionStillOpens) {
  Name("locked.txt");
  {
    cvexFile file;
    ASSERT_TRUE(file.Open(path, true));
    int32_t written = 0;
    file.Write("ro", 2, written);
    file.Close();
  }
  ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("locked.txt")), 0444), 0);
  cvexFile file;
  ASSERT_TRUE(file.Open(path, false));
  // root may write anything, so only others see the file as read-only
  EXPECT_EQ(file.readOnly, ::geteuid() != 0);
  char back[2] = {};
  EXPECT_TRUE(file.ReadBlock(back, 2));
  EXPECT_EQ(std::string(back, 2), "ro");
  file.Close();
}

// A closed file must not close the descriptor number again when destroyed:
// by then another file may have been given the same number.
TEST_F(DiskFile, DescriptorsAreClosedExactlyOnce) {
  Name("fd.txt");
  const int before = OpenDescriptors();
  {
    cvexFile file;
    ASSERT_TRUE(file.Open(path, true));
    int32_t written = 0;
    file.Write("still here", 10, written);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    ASSERT_TRUE(file.Open(path, false)); // reopening does not leak
    EXPECT_EQ(OpenDescriptors(), before + 1);
  } // the destructor closes an open file
  EXPECT_EQ(OpenDescriptors(), before);

  auto first = std::make_unique<cvexFile>();
  ASSERT_TRUE(first->Open(path, false));
  first->Close();
  EXPECT_EQ(first->handle, platform::kInvalidFile);
  cvexFile second;
  ASSERT_TRUE(second.Open(path, false));
  first.reset();
  char back[10] = {};
  EXPECT_TRUE(second.ReadBlock(back, 10));
  EXPECT_EQ(std::string(back, 10), "still here");
  second.Close();
}

TEST(MemoryFile, WriteGrowsWithReserve) {
  cvexFile file;
  file.onDisk = false;
  cvexString unused;
  ASSERT_TRUE(file.Open(unused, false));
  int32_t written = 0;
  ASSERT_TRUE(file.Write("0123456789", 10, written));
  EXPECT_EQ(written, 10);
  EXPECT_EQ(file.Size(), 5010);
  ASSERT_TRUE(file.Write("x", 1, written)); // within the reserve
  EXPECT_EQ(file.Size(), 5010);

  file.Rewind();
  char back[10] = {};
  int32_t got = -1;
  ASSERT_TRUE(file.Read(back, 10, got));
  EXPECT_EQ(got, 10);
  EXPECT_EQ(std::string(back, 10), "0123456789");

  file.memoryPos = 5000;
  got = -1;
  char untouched[16] = {'u'};
  EXPECT_FALSE(file.Read(untouched, 11, got)); // only 10 bytes remain
  EXPECT_EQ(got, -1);
  EXPECT_EQ(untouched[0], 'u');
  EXPECT_EQ(file.memoryPos, 5000);
  EXPECT_FALSE(file.Read(untouched, -1, got));

  file.Close();
  EXPECT_EQ(file.Size(), 0);
  EXPECT_EQ(file.memory.data, nullptr);
}

} // namespace
