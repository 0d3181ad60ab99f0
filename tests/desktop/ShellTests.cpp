#include "desktop/Shell.h"

#include <gtest/gtest.h>

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
      return installed.contains(name) ? "/usr/bin/" + name : QString();
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

const QString kPdf = "/opt/my odx/odx.pdf";
const QStringList kSearch = {"/a", "search=DIAG-COMM", kPdf};

TEST(DesktopShell, StartsAProgramWithTheArgumentsAsGiven) {
  FakeSystem sys;
  sys.installed = {"acrord32.exe", "tool"};
  DesktopShell shell(sys.Services());
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
    DesktopShell shell(sys.Services());
    shell.StartProgram(nullptr, "acrord32.exe", c.arguments);
    EXPECT_EQ(sys.started, c.started) << c.installed.join(',').toStdString();
    EXPECT_EQ(sys.opened, c.opened) << c.installed.join(',').toStdString();
  }
}

} // namespace
