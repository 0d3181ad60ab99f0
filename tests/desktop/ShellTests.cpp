#include "desktop/Shell.h"
#include "tests/ScratchFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <utility>
#include <vector>

namespace {

using desktop::DesktopShell;
using desktop::ShellServices;

// Programs "installed" are found as /usr/bin/<name>; nothing real starts.
struct FakeSystem {
  QStringList installed;
  QStringList failingStarts;
  std::vector<std::pair<QString, QStringList>> started;
  QStringList opened;

  ShellServices Services() {
    ShellServices s;
    s.findExecutable = [this](const QString &name) {
      if (!installed.contains(name))
        return QString();
      return name.startsWith(u'/') ? name : "/usr/bin/" + name;
    };
    s.startDetached = [this](const QString &program, const QStringList &args) {
      started.emplace_back(program, args);
      return !failingStarts.contains(program);
    };
    s.openDocument = [this](const QString &path) {
      opened.append(path);
      return true;
    };
    return s;
  }
};

using Started = std::vector<std::pair<QString, QStringList>>;

const QString kOwnId = "odx-viewer.desktop";

const QString kPdf = "/opt/my odx/odx.pdf";
const QStringList kSearch = {"/a", "search=DIAG-COMM", kPdf};

TEST(DesktopShell, StartsAProgramWithTheArgumentsAsGiven) {
  FakeSystem sys;
  sys.installed = {"acrord32.exe", "tool"};
  DesktopShell shell(kOwnId, sys.Services());
  shell.StartProgram(nullptr, "acrord32.exe", kSearch);
  shell.StartProgram(nullptr, "tool.exe", {"a b", R"(c"d)", ""});
  shell.StartProgram(nullptr, "nosuchprogram.exe", {"-x"});
  shell.StartProgram(nullptr, "", kSearch);
  EXPECT_EQ(sys.started, Started({{"/usr/bin/acrord32.exe", kSearch},
                                  {"/usr/bin/tool", {"a b", R"(c"d)", ""}}}));
  EXPECT_TRUE(sys.opened.empty());
}

TEST(DesktopShell, MissingAcrobatSearchesWithAnInstalledViewer) {
  struct Case {
    QStringList installed, failing;
    QStringList arguments;
    Started started;
    QStringList opened;
  };
  const Case cases[] = {
      {{"evince", "okular"},
       {},
       kSearch,
       {{"/usr/bin/evince", {"--find=DIAG-COMM", kPdf}}},
       {}},
      {{"okular"},
       {},
       kSearch,
       {{"/usr/bin/okular", {"--find", "DIAG-COMM", kPdf}}},
       {}},
      {{"evince", "okular"},
       {"/usr/bin/evince"},
       kSearch,
       {{"/usr/bin/evince", {"--find=DIAG-COMM", kPdf}},
        {"/usr/bin/okular", {"--find", "DIAG-COMM", kPdf}}},
       {}},
      {{}, {}, kSearch, {}, {kPdf}},
      {{"evince"},
       {},
       {"/a", "search=", kPdf},
       {{"/usr/bin/evince", {kPdf}}},
       {}},
      {{"okular"},
       {},
       {"/a", R"(search=say "hi")", kPdf},
       {{"/usr/bin/okular", {"--find", R"(say "hi")", kPdf}}},
       {}},
      {{"evince"}, {}, {"garbage"}, {}, {}},
  };
  for (const Case &c : cases) {
    FakeSystem sys;
    sys.installed = c.installed;
    sys.failingStarts = c.failing;
    DesktopShell shell(kOwnId, sys.Services());
    shell.StartProgram(nullptr, "acrord32.exe", c.arguments);
    EXPECT_EQ(sys.started, c.started) << c.installed.join(',').toStdString();
    EXPECT_EQ(sys.opened, c.opened) << c.installed.join(',').toStdString();
  }
}

// The XML view on a scratch XDG tree: config/ is $XDG_CONFIG_HOME, etc/ is
// $XDG_CONFIG_DIRS, home/ is $XDG_DATA_HOME and share/ is $XDG_DATA_DIRS.
TEST(DesktopShell, XmlViewStartsTheDesktopsXmlApplicationButNotThisViewer) {
  const auto entry = [](const QByteArray &exec) {
    return "[Desktop Entry]\nType=Application\nExec=" + exec + "\n";
  };
  const QByteArray editor = entry("editor %f"), self = entry("odx-viewer %f");
  const QString file = "/data/my file.xml";
  const QString url = "file:///data/my%20file.xml";
  struct Case {
    const char *what;
    std::vector<std::pair<QString, QByteArray>> files;
    Started started; // none: OpenAsXml answers false
  };
  const Case cases[] = {
      {"the desktop's own default first, then the user's",
       {{"config/test-mimeapps.list",
         "[Default Applications]\napplication/xml=editor.desktop;\n"},
        {"config/mimeapps.list",
         "[Default Applications]\napplication/xml=pager.desktop\n"},
        {"share/applications/editor.desktop", editor},
        {"share/applications/pager.desktop", entry("pager")}},
       {{"/usr/bin/editor", {file}}}},
      {"this viewer is passed over wherever it is listed",
       {{"config/mimeapps.list",
         "[Default Applications]\napplication/xml=odx-viewer.desktop;\n"},
        {"share/applications/mimeinfo.cache",
         "[MIME Cache]\napplication/xml=odx-viewer.desktop;editor.desktop;\n"},
        {"share/applications/odx-viewer.desktop", self},
        {"share/applications/editor.desktop", editor}},
       {{"/usr/bin/editor", {file}}}},
      {"text/plain when no other application takes XML",
       {{"home/applications/mimeinfo.cache",
         "[MIME Cache]\napplication/xml=odx-viewer.desktop;\n"
         "text/plain=kde-pager.desktop;\n"},
        {"home/applications/odx-viewer.desktop", self},
        {"share/applications/kde/pager.desktop", entry("pager --plain")}},
       {{"/usr/bin/pager", {"--plain", file}}}},
      {"missing, hidden, untried and removed entries are skipped",
       {{"etc/mimeapps.list",
         "[Default Applications]\napplication/xml=gone.desktop;"
         "hidden.desktop;tryexec.desktop\n"
         "[Removed Associations]\napplication/xml=removed.desktop\n"
         "[Added Associations]\ntext/plain=editor.desktop\n"},
        {"share/applications/mimeinfo.cache",
         "[MIME Cache]\napplication/xml=removed.desktop\n"},
        {"home/applications/hidden.desktop", entry("hidden") + "Hidden=true"},
        {"share/applications/hidden.desktop", entry("shadowed")},
        {"share/applications/tryexec.desktop",
         entry("tryexec") + "TryExec=absent"},
        {"share/applications/removed.desktop", entry("removed")},
        {"share/applications/editor.desktop", editor}},
       {{"/usr/bin/editor", {file}}}},
      {"Exec quoting and field codes",
       {{"share/applications/mimeinfo.cache",
         "[MIME Cache]\napplication/xml=quoted.desktop\n"},
        {"share/applications/quoted.desktop",
         entry(R"("/opt/my tools/ed" "say \\"hi\\" \\$5 %f \\\\" )"
               R"(%i -a%c 100%% "" %U --name=%k)")}},
       {{"/opt/my tools/ed",
         {R"(say "hi" $5 %f \)", "-a", "100%", "", url, "--name="}}}},
      {"nothing but this viewer",
       {{"share/applications/mimeinfo.cache",
         "[MIME Cache]\napplication/xml=odx-viewer.desktop\n"
         "text/plain=odx-viewer.desktop\n"},
        {"share/applications/odx-viewer.desktop", self}},
       {}},
      {"nothing at all", {}, {}},
  };
  for (const Case &c : cases) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString root = scratch.path() + "/";
    for (const char *dir : {"config", "etc", "home", "share"})
      ASSERT_TRUE(QDir().mkpath(root + dir + "/applications"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + "config"));
    qputenv("XDG_CONFIG_DIRS", QFile::encodeName(root + "etc"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "home"));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(root + "share"));
    qputenv("XDG_CURRENT_DESKTOP", "Test:Other");
    for (const auto &[path, bytes] : c.files) {
      ASSERT_TRUE(QDir().mkpath(QFileInfo(root + path).path()));
      WriteFile(root + path, bytes);
    }
    FakeSystem sys;
    sys.installed = {"editor",  "pager",   "hidden",     "shadowed",
                     "tryexec", "removed", "odx-viewer", "/opt/my tools/ed"};
    DesktopShell shell(kOwnId, sys.Services());
    EXPECT_EQ(shell.OpenAsXml(nullptr, file), !c.started.empty()) << c.what;
    EXPECT_EQ(sys.started, c.started) << c.what;
    EXPECT_TRUE(sys.opened.empty()) << c.what;
  }
}

} // namespace
