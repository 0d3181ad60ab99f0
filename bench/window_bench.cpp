// Drives the real window on the offscreen platform: the outline build of a
// file, two filter searches (each the median of three), and keys pressed in the
// outline (expanding the first node, then walking down it), timed inside the
// process.  Prints seconds, node and hit counts, the slowest key press and the
// peak resident set size. Usage: window-bench FILE [RARE_TERM] [COMMON_TERM]

#include "app/WindowServices.h"
#include "app/unitFrmODXMainForm.h"
#include "outline/OutlineStore.h"
#include "outline/Surroundings.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeView>

#include <algorithm>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace {

// Never blocks: a benchmark run must not wait for a click.
class PrintedMessages : public desktop::MessageSink {
public:
  void ShowMessage(const QString &text, const QString &caption,
                   desktop::MessageIcon) override {
    std::fprintf(stderr, "message: %s (%s)\n", qPrintable(text),
                 qPrintable(caption));
    ++shown;
  }
  int shown = 0;
};

double Seconds(QElapsedTimer &t) { return t.nsecsElapsed() / 1e9; }

// A key pressed and released on `target`, and everything it leads to
// (painting included) done: how long the user waits for the answer.
double Press(QApplication &app, QWidget *target, int key,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QElapsedTimer t;
  t.start();
  QKeyEvent down(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(target, &down);
  QKeyEvent up(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(target, &up);
  app.processEvents();
  return Seconds(t);
}

// What the process holds in memory now, in KiB.
long ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE *f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
      resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fputs("usage: window-bench FILE [RARE_TERM] [COMMON_TERM]\n", stderr);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString file = QString::fromLocal8Bit(argv[1]);
  const QString rare = argc > 2 ? QString::fromLocal8Bit(argv[2]) : "qxzj";
  const QString common = argc > 3 ? QString::fromLocal8Bit(argv[3]) : "e";

  PrintedMessages messages;
  app::WindowServices services;
  services.messages = &messages;
  TfrmODXViewer window(services);
  window.show();
  app.processEvents();

  auto *path = window.findChild<QLineEdit *>("txtODXFilePath");
  auto *filter = window.findChild<QLineEdit *>("txtFilter");
  if (!path || !filter) {
    std::fputs("window-bench: the window has no path or filter box\n", stderr);
    return 1;
  }
  path->setText(file);

  QElapsedTimer t;
  t.start();
  window.TntButton1Click();
  const double outlineOnly = Seconds(t);
  app.processEvents();
  const double build = Seconds(t);
  if (messages.shown)
    return 1;
  const uint32_t nodes = window.ItemsStore().GetCount();

  // Each search three times, the median: a search is short enough for one
  // descheduling on a busy machine to double it.
  auto search = [&](const QString &term, uint32_t &hits) {
    filter->setText(term);
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
      t.restart();
      window.cmdSearchClick();
      app.processEvents();
      times.push_back(Seconds(t));
    }
    hits = window.ResultsStore().GetCount();
    std::sort(times.begin(), times.end());
    return times[1];
  };
  uint32_t rareHits = 0;
  uint32_t commonHits = 0;
  const double rareSearch = search(rare, rareHits);
  const double commonSearch = search(common, commonHits);

  // The far end of that list: F3 to the first hit, then Shift+F3 round to
  // the last, and Ctrl+End and Ctrl+Home in the list itself; what each
  // costs and what the view holds on to after them.
  auto *results = window.findChild<QTreeView *>("treeResults");
  auto *next = window.findChild<QAction *>("actFindNext");
  auto *previous = window.findChild<QAction *>("actFindPrevious");
  if (!results || !next || !previous) {
    std::fputs("window-bench: no hit list or F3 actions\n", stderr);
    return 1;
  }
  next->trigger();
  app.processEvents();
  const long residentBefore = ResidentKiB();
  t.restart();
  previous->trigger();
  app.processEvents();
  const double toLast = Seconds(t);
  results->setFocus();
  const double listEnds =
      std::max(Press(app, results, Qt::Key_End, Qt::ControlModifier),
               Press(app, results, Qt::Key_Home, Qt::ControlModifier));
  const long residentAfter = ResidentKiB();

  // Keys in the outline, each press answered before the next: every node
  // on the way opened with "+" and stepped into with Down, so a big first
  // child (a long description) is shown, selected and walked past.
  auto *items = window.findChild<QTreeView *>("treeItems");
  items->setFocus();
  items->setCurrentIndex(items->model()->index(0, 0));
  app.processEvents();
  double expand = 0;
  double slowest = 0;
  for (int i = 0; i < 12; ++i) {
    const double opened = Press(app, items, Qt::Key_Plus);
    expand = std::max(expand, opened);
    slowest = std::max({slowest, opened, Press(app, items, Qt::Key_Down)});
  }

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("build %.3f s, %u nodes (the outline %.3f s, then the first "
              "paint)\n",
              build, nodes, outlineOnly);
  std::printf("search '%s' %.3f s, %u hits\n", qPrintable(rare), rareSearch,
              rareHits);
  std::printf("search '%s' %.3f s, %u hits (%.1f%% of the nodes)\n",
              qPrintable(common), commonSearch, commonHits,
              nodes ? 100.0 * commonHits / nodes : 0.0);
  std::printf("keys: slowest expand %.3f s, slowest of 24 presses %.3f s\n",
              expand, slowest);
  std::printf("hit list: Shift+F3 from the first to the last of %u hits "
              "%.3f s, Ctrl+End/Ctrl+Home %.3f s, %+ld KiB held after them\n",
              commonHits, toLast, listEnds, residentAfter - residentBefore);
  std::printf("peak RSS %ld KiB\n", usage.ru_maxrss);
  return 0;
}
