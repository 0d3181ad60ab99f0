#include "desktop/Shell.h"
#include "desktop/WindowsCommandLine.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using desktop::DesktopShell;
using desktop::ParsePdfSearchParameters;
using desktop::ShellServices;
using desktop::SplitWindowsCommandLine;

TEST(WindowsCommandLine, SplitsLikeTheCRuntime) {
  struct Case {
    QString line;
    QStringList args;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  lead   trail  ", {"lead", "trail"}},
      {R"("a b" c)", {"a b", "c"}},
      {R"(a"b c"d)", {"ab cd"}},
      {R"(C:\dir\odx.pdf)", {R"(C:\dir\odx.pdf)"}},
      {R"(a\\b c\)", {R"(a\\b)", R"(c\)"}},
      {R"(a\"b)", {R"(a"b)"}},
      {R"(a\\"b c")", {R"(a\b c)"}},
      {R"(a\\\"b)", {R"(a\"b)"}},
      {R"(a\\\\"b")", {R"(a\\b)"}},
      {R"("" x "")", {"", "x", ""}},
      {R"("a""b" c)", {R"(a"b)", "c"}},
      {R"(""")", {R"(")"}},
      {R"("unterminated x)", {"unterminated x"}},
      {R"(/a "search=A B" C:\x y\odx.pdf)",
       {"/a", "search=A B", R"(C:\x)", "y\\odx.pdf"}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(SplitWindowsCommandLine(c.line), c.args) << c.line.toStdString();
}

TEST(PdfSearchParameters, RecoverTextAndUnquotedPath) {
  struct Case {
    QString parameters;
    QString text, pdf;
  };
  const Case cases[] = {
      {R"(/a "search=NAME" /opt/odx/odx.pdf)", "NAME", "/opt/odx/odx.pdf"},
      {R"(/a "search=" /opt/my odx/odx.pdf)", "", "/opt/my odx/odx.pdf"},
      {R"(/a "search=DIAG COMM" /my  two  spaces/odx.pdf)", "DIAG COMM",
       "/my  two  spaces/odx.pdf"},
      {R"(/a "search=say "hi" there" /d/odx.pdf)", R"(say "hi" there)",
       "/d/odx.pdf"},
      {R"(/a "search=a" b" /d e/odx.pdf)", R"(a" b)", "/d e/odx.pdf"},
      {R"(/a "search=X" "/q d/odx.pdf")", "X", "/q d/odx.pdf"},
      {R"(/A "search=X" C:\App Dir\odx.pdf)", "X", R"(C:\App Dir\odx.pdf)"},
      // Not the usual shape: Windows split, remaining arguments re-joined.
      {R"(/a  "search=X"  /p   q/odx.pdf)", "X", "/p q/odx.pdf"},
  };
  for (const Case &c : cases) {
    const auto request = ParsePdfSearchParameters(c.parameters);
    ASSERT_TRUE(request) << c.parameters.toStdString();
    EXPECT_EQ(request->searchText, c.text) << c.parameters.toStdString();
    EXPECT_EQ(request->pdfPath, c.pdf) << c.parameters.toStdString();
  }
  for (const char *bad : {"", "/a", R"(/a "search=X")", R"(/a "search=X" )",
                          "-x y z", R"(/b "search=X" /d/odx.pdf)"})
    EXPECT_FALSE(ParsePdfSearchParameters(QString(bad))) << bad;
}

// Programs "installed" are found as /usr/bin/<name>; nothing real starts.
struct FakeSystem {
  QStringList installed;
  QStringList existing;
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
    s.exists = [this](const QString &path) { return existing.contains(path); };
    return s;
  }
};

using Started = std::vector<std::pair<QString, QStringList>>;

const QByteArray kSearch = R"(/a "search=DIAG-COMM" /opt/my odx/odx.pdf)";

TEST(DesktopShell, OpensAnExistingDocumentInTheDefaultApplication) {
  FakeSystem sys;
  sys.existing = {"/data/my file.xml"};
  DesktopShell shell(sys.Services());
  shell.ShellExecute(nullptr, "open", "/data/my file.xml", {});
  shell.ShellExecute(nullptr, "", "/data/my file.xml", {});
  EXPECT_EQ(sys.opened,
            QStringList({"/data/my file.xml", "/data/my file.xml"}));
  EXPECT_TRUE(sys.started.empty());
}

TEST(DesktopShell, IgnoresOtherVerbsAndUnknownNames) {
  FakeSystem sys;
  sys.installed = {"evince"};
  sys.existing = {"/d/a.xml"};
  DesktopShell shell(sys.Services());
  shell.ShellExecute(nullptr, "print", "/d/a.xml", {});
  shell.ShellExecute(nullptr, "open", "/d/missing.xml", {});
  shell.ShellExecute(nullptr, "open", "nosuchprogram.exe", "-x");
  shell.ShellExecute(nullptr, "open", "", kSearch);
  EXPECT_TRUE(sys.opened.empty());
  EXPECT_TRUE(sys.started.empty());
}

TEST(DesktopShell, StartsAProgramWithWindowsSplitArguments) {
  FakeSystem sys;
  sys.installed = {"acrord32.exe", "tool"};
  DesktopShell shell(sys.Services());
  shell.ShellExecute(nullptr, "open", "acrord32.exe", kSearch);
  shell.ShellExecute(nullptr, "OPEN", "tool.exe", R"("a b" c\"d)");
  EXPECT_EQ(sys.started,
            Started({{"/usr/bin/acrord32.exe",
                      {"/a", "search=DIAG-COMM", "/opt/my", "odx/odx.pdf"}},
                     {"/usr/bin/tool", {"a b", R"(c"d)"}}}));
}

TEST(DesktopShell, MissingAcrobatSearchesWithAnInstalledViewer) {
  struct Case {
    QStringList installed, failing;
    QByteArray parameters;
    Started started;
    QStringList opened;
  };
  const QString pdf = "/opt/my odx/odx.pdf";
  const Case cases[] = {
      {{"evince", "okular"},
       {},
       kSearch,
       {{"/usr/bin/evince", {"--find=DIAG-COMM", pdf}}},
       {}},
      {{"okular"},
       {},
       kSearch,
       {{"/usr/bin/okular", {"--find", "DIAG-COMM", pdf}}},
       {}},
      {{"evince", "okular"},
       {"/usr/bin/evince"},
       kSearch,
       {{"/usr/bin/evince", {"--find=DIAG-COMM", pdf}},
        {"/usr/bin/okular", {"--find", "DIAG-COMM", pdf}}},
       {}},
      {{}, {}, kSearch, {}, {pdf}},
      {{"evince"},
       {},
       R"(/a "search=" /opt/my odx/odx.pdf)",
       {{"/usr/bin/evince", {pdf}}},
       {}},
      {{"evince"}, {}, "garbage", {}, {}},
  };
  for (const Case &c : cases) {
    FakeSystem sys;
    sys.installed = c.installed;
    sys.failingStarts = c.failing;
    DesktopShell shell(sys.Services());
    shell.ShellExecute(nullptr, "open", "acrord32.exe", c.parameters);
    EXPECT_EQ(sys.started, c.started) << c.installed.join(',').toStdString();
    EXPECT_EQ(sys.opened, c.opened) << c.installed.join(',').toStdString();
  }
}

} // namespace
