#include "desktop/cvexDir.h"
#include "tests/ScratchFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

void SetText(cvexString &s, const QString &text) {
  s.AssignWide(reinterpret_cast<const char16_t *>(text.utf16()));
}

QString Text(cvexString &s) { return s.AsWide(); }

class DirTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    root = scratch.path();
    WriteFile(root + "/a.odx", "<a/>");
    WriteFile(root + "/b.xml", "<b/>");
    ASSERT_TRUE(QDir(root).mkdir("sub folder"));
  }

  bool Exists(const QString &path) {
    cvexString s;
    SetText(s, path);
    return dir.Exists(s);
  }

  bool Copy(const QString &from, const QString &to, bool &copied) {
    cvexString a, b;
    SetText(a, from);
    SetText(b, to);
    return dir.Copy(a, b, &copied);
  }

  QStringList Entries() {
    return QDir(root).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
  }

  QTemporaryDir scratch{QDir::tempPath() + "/odx dir XXXXXX"};
  QString root;
  cvexDir dir;
};

TEST_F(DirTest, ExistsForFilesFoldersAndMatchingPatterns) {
  struct Case {
    QString path;
    bool exists;
  };
  const Case cases[] = {
      {"/a.odx", true},    {"/sub folder", true}, {"/sub folder/", true},
      {"", true},          {"/*.odx", true},      {"/?.xml", true},
      {"/a*", true},       {"/*", true},          {"/sub*", true},
      {"/*.pdf", false},   {"/??.odx", false},    {"/missing.odx", false},
      {"/a.odx/x", false}, {"/s*/x", false},      {"/missing/*.odx", false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Exists(root + c.path), c.exists) << c.path.toStdString();
  EXPECT_FALSE(Exists(""));
  EXPECT_FALSE(Exists("<Click Browse>"));
}

TEST_F(DirTest, CopyReplacesAnExistingTargetWithoutLeftovers) {
  WriteFile(root + "/junk.xml", "old and longer contents");
  bool copied = false;
  EXPECT_TRUE(Copy(root + "/a.odx", root + "/junk.xml", copied));
  EXPECT_TRUE(copied);
  EXPECT_EQ(ReadFile(root + "/junk.xml"), "<a/>");
  EXPECT_EQ(Entries(),
            QStringList({"a.odx", "b.xml", "junk.xml", "sub folder"}));
}

TEST_F(DirTest, CopyCreatesTheTargetAndKeepsPermissions) {
  ASSERT_TRUE(QFile::setPermissions(root + "/b.xml", QFile::ReadOwner |
                                                         QFile::WriteOwner |
                                                         QFile::ReadGroup));
  bool copied = false;
  Copy(root + "/b.xml", root + "/sub folder/copy.xml", copied);
  EXPECT_TRUE(copied);
  EXPECT_EQ(ReadFile(root + "/sub folder/copy.xml"), "<b/>");
  EXPECT_EQ(int(QFile::permissions(root + "/sub folder/copy.xml")) & 0x0777,
            int(QFile::permissions(root + "/b.xml")) & 0x0777);
}

TEST_F(DirTest, FailedCopyReturnsTrueButReportsAndLeavesNothing) {
  const QString cases[][2] = {
      {"/missing.odx", "/junk.xml"},          // no source
      {"/sub folder", "/junk.xml"},           // source is a folder
      {"/a.odx", "/no such folder/junk.xml"}, // target folder missing
      {"/a.odx", "/b.xml/junk.xml"},          // target folder is a file
      {"/a.odx", "/sub folder"},              // target is a folder
  };
  for (const auto &c : cases) {
    bool copied = true;
    EXPECT_TRUE(Copy(root + c[0], root + c[1], copied));
    EXPECT_FALSE(copied) << c[0].toStdString() << " -> " << c[1].toStdString();
  }
  EXPECT_EQ(Entries(), QStringList({"a.odx", "b.xml", "sub folder"}));
  EXPECT_TRUE(QDir(root + "/sub folder").isEmpty());
}

TEST(ApplicationDirectory, IsTheFolderOfTheRunningProgram) {
  cvexDir dir;
  cvexString out;
  EXPECT_TRUE(dir.GetApplicationDirectory(out));
  const QString folder = Text(out);
  ASSERT_TRUE(folder.startsWith('/')) << folder.toStdString();
  ASSERT_TRUE(folder.endsWith('/')) << folder.toStdString();
  EXPECT_FALSE(folder.endsWith("//"));
  EXPECT_TRUE(QFileInfo(folder + "desktop_tests").isExecutable());
  EXPECT_GE(out.capacity, 1024);
}

} // namespace
