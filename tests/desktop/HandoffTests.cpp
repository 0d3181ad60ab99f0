#include "desktop/Handoffs.h"
#include "tests/ScratchFiles.h"

#include "tests/desktop/RecordingMessages.h"
#include "tests/desktop/RecordingShell.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QTemporaryDir>

#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace {

using desktop::MessageIcon;
using desktop::RecordingMessages;
using desktop::RecordingShell;
using Message = RecordingMessages::Shown;

void SetText(cvexString &s, const QString &text) {
  s.AssignWide(reinterpret_cast<const char16_t *>(text.utf16()));
}

class HandoffTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(scratch.isValid());
    appDir = scratch.path() + "/my app/";
    files = scratch.path() + "/data files/";
    ASSERT_TRUE(QDir().mkpath(appDir));
    ASSERT_TRUE(QDir().mkpath(files));
  }

  void Search(const QString &text, const QString &dir) {
    cvexString t, d;
    SetText(t, text);
    SetText(d, dir);
    desktop::SearchSpec(t, d, messages, shell, &owner);
  }

  void View(const QString &path, const QString &dir) {
    cvexString p, d;
    SetText(p, path);
    SetText(d, dir);
    desktop::ViewInXml(p, d, messages, shell, &owner);
  }

  QTemporaryDir scratch;
  QString appDir, files;
  QObject owner;
  RecordingShell shell;
  RecordingMessages messages{&shell};
};

// Whatever the text and the folder hold, the reader gets three arguments.
TEST_F(HandoffTest, SearchWarnsFirstAndPassesTheRequestInThreePieces) {
  const QString spaced = scratch.path() + "/opt/my odx app/";
  ASSERT_TRUE(QDir().mkpath(spaced));
  WriteFile(appDir + "odx.pdf", "%PDF");
  WriteFile(spaced + "odx.pdf", "%PDF");
  struct Case {
    QString text, dir;
  };
  const Case cases[] = {
      {"NAME", appDir},        {"", appDir},
      {R"(say "hi")", spaced}, {R"(a" b)", spaced},
      {" DIAG-COMM ", spaced}, {R"(\" /x)", spaced},
  };
  for (const Case &c : cases)
    Search(c.text, c.dir);

  ASSERT_EQ(shell.starts.size(), std::size(cases));
  ASSERT_EQ(static_cast<size_t>(messages.shown.size()), std::size(cases));
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Message &m = messages.shown[k];
    EXPECT_EQ(m.text, "Close Acrobat Reader");
    EXPECT_EQ(m.caption, "ODX Viewer");
    EXPECT_EQ(m.icon, MessageIcon::None);
    EXPECT_EQ(m.shellCallsBefore, k);
    const RecordingShell::Start &start = shell.starts[k];
    EXPECT_EQ(start.owner, &owner);
    EXPECT_EQ(start.program, "acrord32.exe");
    EXPECT_EQ(start.arguments, QStringList({"/a", "search=" + cases[k].text,
                                            cases[k].dir + "odx.pdf"}));
  }
}

TEST_F(HandoffTest, MissingDocumentIsReportedInsteadOfSearched) {
  const QString dirs[] = {appDir, scratch.path() + "/no such dir/"};
  for (const QString &dir : dirs)
    Search("NAME", dir);
  EXPECT_TRUE(shell.starts.empty());
  ASSERT_EQ(static_cast<size_t>(messages.shown.size()), std::size(dirs));
  for (size_t k = 0; k < std::size(dirs); ++k) {
    const Message &m = messages.shown[k];
    EXPECT_EQ(m.text, "The ODX standard was not found: copy odx.pdf to " +
                          dirs[k] + ".");
    EXPECT_EQ(m.caption, "ODX Viewer");
    EXPECT_EQ(m.icon, MessageIcon::Information);
  }
}

TEST_F(HandoffTest, MissingPathsOnlyShowTheMessage) {
  for (const QString &path :
       {QString("<Click Browse>"), QString(), files + "missing.odx"})
    View(path, appDir);
  EXPECT_EQ(shell.CallCount(), 0u);
  ASSERT_EQ(messages.shown.size(), 3);
  for (const Message &m : messages.shown) {
    EXPECT_EQ(m.text, "The file does not exist.");
    EXPECT_EQ(m.caption, "Wren ODX");
    EXPECT_EQ(m.icon, MessageIcon::Information);
  }
  EXPECT_FALSE(QFile::exists(appDir + "junk.xml"));
}

TEST_F(HandoffTest, OdxInAnyCaseIsCopiedToJunkXmlAndTheCopyOpened) {
  const QString names[] = {"a.ODX", "b.Odx", "c.odx", "d.v1.2.odx"};
  for (const QString &name : names) {
    WriteFile(files + name, name.toUtf8());
    View(files + name, appDir);
    EXPECT_EQ(ReadFile(appDir + "junk.xml"), name.toUtf8());
  }
  ASSERT_EQ(shell.xmlViews.size(), std::size(names));
  for (const RecordingShell::XmlView &view : shell.xmlViews) {
    EXPECT_EQ(view.owner, &owner);
    EXPECT_EQ(view.path, appDir + "junk.xml");
  }
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(QDir(appDir).entryList(QDir::Files | QDir::Hidden),
            QStringList({"junk.xml"}));
}

TEST_F(HandoffTest, OtherFilesAndFoldersOpenWhereTheyLie) {
  WriteFile(files + "plain.xml", "<x/>");
  WriteFile(files + "long.odxml", "<x/>");
  WriteFile(files + "noext", "<x/>");
  const QString paths[] = {files + "plain.xml", files + "long.odxml",
                           files + "noext", files.chopped(1)};
  for (const QString &path : paths)
    View(path, appDir);
  ASSERT_EQ(shell.xmlViews.size(), std::size(paths));
  for (size_t k = 0; k < std::size(paths); ++k)
    EXPECT_EQ(shell.xmlViews[k].path, paths[k]);
  EXPECT_FALSE(QFile::exists(appDir + "junk.xml"));
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(HandoffTest, FailedCopyOpensTheChosenFileNotAStaleCopy) {
  WriteFile(files + "first.odx", "first");
  WriteFile(files + "second.odx", "second");
  View(files + "first.odx", appDir);
  ASSERT_EQ(ReadFile(appDir + "junk.xml"), "first");

  WriteFile(scratch.path() + "/plain file", "not a folder");
  const QString unusable[] = {scratch.path() + "/no such dir/",
                              scratch.path() + "/plain file/"};
  for (const QString &dir : unusable)
    View(files + "second.odx", dir);
  // A folder named like an .odx file cannot be copied: it opens as it is.
  ASSERT_TRUE(QDir().mkpath(files + "folder.odx"));
  View(files + "folder.odx", appDir);

  ASSERT_EQ(shell.xmlViews.size(), 4u);
  EXPECT_EQ(shell.xmlViews[1].path, files + "second.odx");
  EXPECT_EQ(shell.xmlViews[2].path, files + "second.odx");
  EXPECT_EQ(shell.xmlViews[3].path, files + "folder.odx");
  EXPECT_EQ(ReadFile(appDir + "junk.xml"), "first");
}

TEST_F(HandoffTest, WithoutAnXmlApplicationTheUserIsTold) {
  WriteFile(files + "a.odx-d", "<x/>");
  shell.hasXmlApplication = false;
  View(files + "a.odx-d", appDir);
  ASSERT_EQ(shell.xmlViews.size(), 1u);
  ASSERT_EQ(messages.shown.size(), 1);
  const Message &m = messages.shown[0];
  EXPECT_EQ(m.text, "No application for XML or plain text files was found "
                    "to show the file.");
  EXPECT_EQ(m.caption, "Wren ODX");
  EXPECT_EQ(m.icon, MessageIcon::Information);
  EXPECT_EQ(m.shellCallsBefore, 1u);
}

} // namespace

namespace {

TEST_F(HandoffTest, BytesGoToJunkXmlOrAPrivateCopyWhenTheFolderIsClosed) {
  const std::string member = "<ODX>member</ODX>";
  const std::span<const unsigned char> bytes(
      reinterpret_cast<const unsigned char *>(member.data()), member.size());
  const QString temp = scratch.path() + "/tmp";
  ASSERT_TRUE(QDir().mkpath(temp));
  QString folder;
  {
    desktop::ViewCopies copies(temp);
    const QString closed = scratch.path() + "/no such dir/";
    // Shown twice from a closed folder: one private copy, not two.
    for (const QString &dir : {appDir, closed, closed}) {
      cvexString d;
      SetText(d, dir);
      desktop::ViewBytesInXml(bytes, "a/b.odx-d", "pkg\n1", d, copies, messages,
                              shell, &owner);
    }
    ASSERT_EQ(shell.xmlViews.size(), 3u);
    EXPECT_EQ(shell.xmlViews[0].path, appDir + "junk.xml");
    const QString own = shell.xmlViews[1].path;
    EXPECT_EQ(shell.xmlViews[2].path, own);
    EXPECT_TRUE(own.startsWith(temp + "/odx-viewer-")) << own.toStdString();
    EXPECT_TRUE(own.endsWith("/b.odx-d.xml")) << own.toStdString();
    for (const auto &view : shell.xmlViews)
      EXPECT_EQ(ReadFile(view.path), QByteArray::fromStdString(member));
    folder = QDir(temp).entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0);
    EXPECT_EQ(QFile(temp + "/" + folder).permissions() &
                  (QFile::ReadOther | QFile::ReadGroup | QFile::ExeOther),
              QFile::Permissions());
  }
  // The copies go with their session.
  EXPECT_FALSE(folder.isEmpty());
  EXPECT_EQ(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList());
  EXPECT_TRUE(messages.shown.empty());
}

// A member that is no document opens in the application for its type, from
// a copy named like it; a copy per member, reused.
TEST_F(HandoffTest, OtherBytesOpenByTheirTypeFromOneCopyPerMember) {
  const QString temp = scratch.path() + "/tmp";
  ASSERT_TRUE(QDir().mkpath(temp));
  desktop::ViewCopies copies(temp);
  const struct {
    QString name, key;
    QByteArray bytes;
  } views[] = {
      {"jobs/run.py", "p\n2", "print(1)"},
      {"other/run.py", "p\n3", "print(2)"}, // same name, another member
      {"jobs/run.py", "p\n2", "print(3)"},  // the first again, rewritten
      {"../../../escape.png", "p\n4", "PNG"},
      {"..", "p\n5", "dots"},
  };
  for (const auto &v : views)
    desktop::ViewBytes({reinterpret_cast<const unsigned char *>(v.bytes.data()),
                        size_t(v.bytes.size())},
                       v.name, v.key, copies, messages, shell, &owner);
  ASSERT_EQ(shell.fileViews.size(), std::size(views));
  QStringList names;
  for (size_t k = 0; k < std::size(views); ++k) {
    const QString path = shell.fileViews[k].path;
    EXPECT_TRUE(path.startsWith(temp + "/odx-viewer-")) << path.toStdString();
    // The first member's copy now holds what it was shown with last.
    EXPECT_EQ(ReadFile(path), views[k == 0 ? 2 : k].bytes) << k;
    names << QFileInfo(path).fileName();
  }
  EXPECT_EQ(names, QStringList(
                       {"run.py", "run.py", "run.py", "escape.png", "member"}));
  EXPECT_NE(shell.fileViews[0].path, shell.fileViews[1].path);
  EXPECT_EQ(shell.fileViews[0].path, shell.fileViews[2].path);
  EXPECT_TRUE(messages.shown.empty());

  shell.hasFileApplication = false;
  desktop::ViewBytes({}, "pic.png", "p\n6", copies, messages, shell, &owner);
  ASSERT_EQ(messages.shown.size(), 1);
  EXPECT_EQ(messages.shown[0].text,
            "No application was found to show pic.png.");
}

// Sessions that ended without cleaning up (a crash) are found by name and
// removed; live sessions, other names and links stay.
TEST_F(HandoffTest, LeftoversOfEndedSessionsAreRemoved) {
  const QString temp = scratch.path() + "/tmp";
  const QString live = QString("odx-viewer-%1-aaaaaa").arg(getpid());
  const QString dead = "odx-viewer-999999999-bbbbbb";
  // Killed but not yet reaped: ended all the same.
  const pid_t zombie = fork();
  if (zombie == 0)
    _exit(0);
  const auto ended = [zombie] {
    return ReadFile(QString("/proc/%1/stat").arg(zombie)).contains(") Z");
  };
  for (int i = 0; i < 5000 && !ended(); ++i)
    usleep(1000);
  ASSERT_TRUE(ended());
  const QString unreaped = QString("odx-viewer-%1-zzzzzz").arg(zombie);
  for (const QString &dir :
       {live, dead, unreaped, QString("odx-viewer-x-cccccc"),
        QString("other-999999999-dddddd")}) {
    ASSERT_TRUE(QDir().mkpath(temp + "/" + dir + "/0"));
    WriteFile(temp + "/" + dir + "/0/m.xml", "x");
  }
  const QString outside = scratch.path() + "/outside";
  ASSERT_TRUE(QDir().mkpath(outside));
  WriteFile(outside + "/keep.txt", "keep");
  ASSERT_TRUE(QFile::link(outside, temp + "/odx-viewer-999999998-eeeeee"));

  desktop::ViewCopies(temp).RemoveLeftovers();
  waitpid(zombie, nullptr, 0);
  QStringList left = QDir(temp).entryList(QDir::AllEntries | QDir::System |
                                          QDir::NoDotAndDotDot);
  left.sort();
  EXPECT_EQ(left,
            QStringList({live, "odx-viewer-999999998-eeeeee",
                         "odx-viewer-x-cccccc", "other-999999999-dddddd"}));
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
}

} // namespace
