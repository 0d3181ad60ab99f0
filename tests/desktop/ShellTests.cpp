#include "desktop/Shell.h"
#include "tests/ScratchFiles.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <functional>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

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

// GIO reads the XDG folders once per process: each desktop runs in a child
// process of its own, which hands back what it saw as text.
QString InChild(const std::function<QString()> &work) {
  int fds[2];
  if (pipe(fds) != 0)
    return "<no pipe>";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const QByteArray out = work().toUtf8();
    for (qsizetype at = 0; at < out.size();) {
      const ssize_t n = write(fds[1], out.data() + at, size_t(out.size() - at));
      if (n <= 0)
        break;
      at += n;
    }
    _exit(0);
  }
  close(fds[1]);
  QByteArray got;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
    got.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0
             ? QString::fromUtf8(got)
             : QStringLiteral("<child failed>");
}

// A scratch desktop: config/ is $XDG_CONFIG_HOME, etc/ $XDG_CONFIG_DIRS,
// home/ $XDG_DATA_HOME, share/ $XDG_DATA_DIRS and bin/ all of $PATH, holding
// `programs` as scripts that write their arguments to $RECORD.  Only for a
// child process.
void EnterDesktop(const QString &root, const QStringList &programs,
                  const std::vector<std::pair<QString, QByteArray>> &files) {
  for (const char *dir : {"config", "etc", "home", "share", "bin"})
    QDir().mkpath(root + dir + "/applications");
  for (const QString &program : programs) {
    QFile script(root + "bin/" + program);
    script.open(QIODevice::WriteOnly);
    script.write("#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$RECORD.tmp\"\n"
                 "/bin/mv \"$RECORD.tmp\" \"$RECORD\"\n"
                 "case \"$0\" in *fail*) exit 3;; esac\n");
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner |
                          QFile::ExeOwner);
  }
  // GIO learns which entry takes which type from each folder's
  // mimeinfo.cache, as update-desktop-database writes it.
  QMap<QString, QMap<QByteArray, QByteArray>> caches;
  for (const auto &[path, bytes] : files) {
    QDir().mkpath(QFileInfo(root + path).path());
    QFile f(root + path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    const qsizetype apps = path.indexOf("/applications/");
    const qsizetype types = bytes.indexOf("\nMimeType=");
    if (apps < 0 || types < 0)
      continue;
    const QString folder = path.left(apps + 13);
    const QByteArray id = path.mid(apps + 14).replace('/', '-').toUtf8();
    const QByteArray list = bytes.mid(types + 10).split('\n')[0];
    for (const QByteArray &type : list.split(';'))
      if (!type.isEmpty())
        caches[folder][type] += id + ';';
  }
  for (auto folder = caches.begin(); folder != caches.end(); ++folder) {
    QFile cache(root + folder.key() + "/mimeinfo.cache");
    cache.open(QIODevice::WriteOnly);
    cache.write("[MIME Cache]\n");
    for (auto type = folder->begin(); type != folder->end(); ++type)
      cache.write(type.key() + '=' + type.value() + '\n');
  }
  const auto set = [&root](const char *name, const char *dir) {
    qputenv(name, QFile::encodeName(root + dir));
  };
  set("XDG_CONFIG_HOME", "config");
  set("XDG_CONFIG_DIRS", "etc");
  set("XDG_DATA_HOME", "home");
  set("XDG_DATA_DIRS", "share");
  set("PATH", "bin");
  set("RECORD", "record");
  qputenv("XDG_CURRENT_DESKTOP", "Test:Other");
  qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

QByteArray Entry(const QByteArray &exec, const QByteArray &types,
                 const QByteArray &more = {}) {
  return "[Desktop Entry]\nType=Application\nName=" + exec.split(' ')[0] +
         "\nExec=" + exec + "\nMimeType=" + types + "\n" + more;
}

// Which entries the XML view tries, in order, on a scratch desktop; starts
// of the ids in `failing` fail.
TEST(DesktopShell, XmlViewTriesTheDesktopsXmlApplicationsButNeverThisViewer) {
  const QByteArray xml = "application/xml;", text = "text/plain;";
  const QByteArray editor = Entry("editor %f", xml);
  struct Case {
    const char *what;
    std::vector<std::pair<QString, QByteArray>> files;
    QStringList failing;
    QString tried; // the ids started, then whether one succeeded
  };
  const Case cases[] = {
      {"the desktop's own default first, then the user's",
       {{"config/test-mimeapps.list",
         "[Default Applications]\napplication/xml=editor.desktop;\n"},
        {"config/mimeapps.list",
         "[Default Applications]\napplication/xml=pager.desktop\n"},
        {"share/applications/editor.desktop", editor},
        {"share/applications/pager.desktop", Entry("pager", xml)}},
       {},
       "editor.desktop -> true"},
      {"this viewer is passed over wherever it is listed",
       {{"config/mimeapps.list",
         "[Default Applications]\napplication/xml=odx-viewer.desktop;\n"},
        {"share/applications/odx-viewer.desktop",
         Entry("odx-viewer %f", xml + text)},
        {"share/applications/editor.desktop", editor}},
       {},
       "editor.desktop -> true"},
      {"text/plain when no other application takes XML",
       {{"home/applications/odx-viewer.desktop", Entry("odx-viewer %f", xml)},
        {"share/applications/kde/pager.desktop", Entry("pager --plain", text)}},
       {},
       "kde-pager.desktop -> true"},
      {"missing, hidden, untried and removed entries are skipped",
       {{"etc/mimeapps.list",
         "[Default Applications]\napplication/xml=gone.desktop;"
         "hidden.desktop;tryexec.desktop\n"
         "[Removed Associations]\napplication/xml=removed.desktop\n"
         "[Added Associations]\ntext/plain=editor.desktop\n"},
        {"home/applications/hidden.desktop",
         Entry("hidden", xml, "Hidden=true\n")},
        {"share/applications/hidden.desktop", Entry("shadowed", xml)},
        {"share/applications/tryexec.desktop",
         Entry("tryexec", xml, "TryExec=absent\n")},
        {"share/applications/removed.desktop", Entry("removed", xml)},
        {"share/applications/editor.desktop", Entry("editor %f", "")}},
       {},
       "editor.desktop -> true"},
      {"an entry that needs a terminal comes after all others",
       {{"config/mimeapps.list",
         "[Default Applications]\napplication/xml=vim.desktop\n"},
        {"share/applications/vim.desktop",
         Entry("vim %F", xml, "Terminal=true\n")},
        {"share/applications/editor.desktop", Entry("editor %f", text)}},
       {},
       "editor.desktop -> true"},
      {"and is tried when the others fail",
       {{"share/applications/vim.desktop",
         Entry("vim %F", xml, "Terminal=true\n")},
        {"share/applications/editor.desktop", Entry("editor %f", text)}},
       {"editor.desktop"},
       "editor.desktop vim.desktop -> true"},
      {"every start fails",
       {{"share/applications/vim.desktop",
         Entry("vim %F", xml, "Terminal=true\n")},
        {"share/applications/editor.desktop", editor}},
       {"editor.desktop", "vim.desktop"},
       "editor.desktop vim.desktop -> false"},
      {"nothing but this viewer",
       {{"share/applications/odx-viewer.desktop",
         Entry("odx-viewer %f", xml + text)}},
       {},
       " -> false"},
      {"nothing at all", {}, {}, " -> false"},
  };
  for (const Case &c : cases) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString tried = InChild([&] {
      EnterDesktop(scratch.path() + "/",
                   {"editor", "pager", "hidden", "shadowed", "removed", "vim",
                    "odx-viewer"},
                   c.files);
      QStringList launched;
      ShellServices services = ShellServices::System();
      services.launchEntry = [&](const QString &id, const QString &path,
                                 QString &) -> qint64 {
        launched << id;
        return path == "/data/my file.xml" && !c.failing.contains(id) ? 0 : -1;
      };
      DesktopShell shell(kOwnId, services);
      const bool opened = shell.OpenAsXml(nullptr, "/data/my file.xml");
      return launched.join(' ') + (opened ? " -> true" : " -> false");
    });
    EXPECT_EQ(tried.toStdString(), c.tried.toStdString()) << c.what;
  }
}

// Started for real: the entry's arguments, a terminal where the entry asks
// for one, and a viewer that ends at once with a failure is reported.
TEST(DesktopShell, EntriesStartWithTheirArgumentsAndEarlyFailuresAreTold) {
  const QString file = "/data/my file.odx-d";
  struct Case {
    const char *what;
    QStringList programs;
    QByteArray entry;
    QString seen; // the recorded command, then the outcome
  };
  const Case cases[] = {
      {"Exec with quotes and field codes",
       {"ed"},
       Entry(R"(ed --title "a b" %f --name=%c %i)", "application/xml;"),
       "bin/ed|--title|a b|" + file + "|--name=ed| -> true"},
      {"a terminal entry starts in a terminal",
       {"vim", "xterm"},
       Entry("vim %F", "application/xml;", "Terminal=true\n"),
       "bin/xterm|-e|vim|" + file + "| -> true"},
      {"and not at all without one",
       {"vim"},
       Entry("vim %F", "application/xml;", "Terminal=true\n"),
       " -> false"},
      {"a viewer ending at once with a failure",
       {"failing-ed"},
       Entry("failing-ed %f", "application/xml;"),
       "bin/failing-ed|" + file + "| -> true; failing-ed: exit status 3"},
  };
  for (const Case &c : cases) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const QString root = scratch.path() + "/";
    const QString seen = InChild([&] {
      EnterDesktop(root, c.programs,
                   {{"share/applications/viewer.desktop", c.entry}});
      int argc = 1;
      char name[] = "desktop_tests";
      char *argv[] = {name, nullptr};
      QCoreApplication app(argc, argv);
      DesktopShell shell(kOwnId);
      QString failed;
      QEventLoop loop;
      shell.SetFailureHandler([&](const QString &program, const QString &why) {
        failed = "; " + program + ": " + why;
        loop.quit();
      });
      const bool opened = shell.OpenAsXml(nullptr, file);
      // The started program runs on its own; its record appears when done,
      // and a failure is told within the next second.
      QDeadlineTimer deadline(10'000);
      while (opened && !QFile::exists(root + "record") &&
             !deadline.hasExpired())
        QThread::msleep(10);
      // A failure is told within the second; a viewer that ended well is
      // never reported.
      if (opened) {
        QTimer::singleShot(1'500, &loop, &QEventLoop::quit);
        if (failed.isEmpty())
          loop.exec();
      }
      QString record = QString::fromUtf8(ReadFile(root + "record"));
      record.replace(root, QString()).replace('\n', '|');
      return record + (opened ? " -> true" : " -> false") + failed;
    });
    EXPECT_EQ(seen.toStdString(), c.seen.toStdString()) << c.what;
  }
}

} // namespace
