#include "platform/SettingsStore.h"
#include "tests/gui/WindowFakes.h"
#include "viewer/FilterSearch.h"
#include "viewer/OutlineModel.h"
#include "viewer/OutlinePaths.h"
#include "viewer/SubtreeExpander.h"
#include "viewer/ViewerApplication.h"
#include "viewer/WindowServices.h"
#include "viewer/unitFrmODXMainForm.h"

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

#include <memory>

using namespace gui_test;
using viewer::kNoNode;
using viewer::NodeHandle;

namespace {

const QString kCorpus = QStringLiteral(ODX_CORPUS_DIR);
const QString kSmallFile = kCorpus + QStringLiteral("/cda__ISO_13400_2.odx-cs");
const QString kOtherFile = kCorpus + QStringLiteral("/cda__DMC_DoIP.odx-d");

QString Stored() {
  platform::UserSettingsStore store;
  std::array<char16_t, 1024> buffer{};
  int32_t length = 0;
  if (!store.ReadString(u"ODXViewerLastFile", buffer, length))
    return QStringLiteral("<nothing stored>");
  return QString::fromUtf16(buffer.data(), length);
}

// A tree of about `nodes` nodes: one root, then levels of containers with
// `fanout` children each, leaves at the bottom.
void FillTree(viewer::OutlineStore &store, uint32_t nodes, uint32_t fanout) {
  viewer::StoreUpdate update(store);
  store.Clear();
  std::vector<NodeHandle> path{store.AddChild(kNoNode, u"ROOT **** big")};
  // Depth-first in pre-order: each container gets `fanout` children.
  std::vector<uint32_t> made{0};
  while (store.GetCount() < nodes && !path.empty()) {
    if (made.back() == fanout) {
      path.pop_back();
      made.pop_back();
      continue;
    }
    ++made.back();
    const bool container = path.size() < 4;
    const NodeHandle n = store.AddChild(
        path.back(), container ? u"GROUP **** x" : u"LEAF = value");
    if (container) {
      path.push_back(n);
      made.push_back(0);
    }
  }
}

std::unique_ptr<QMimeData> Urls(const QList<QUrl> &urls) {
  auto mime = std::make_unique<QMimeData>();
  mime->setUrls(urls);
  return mime;
}

} // namespace

class ConvenienceTests : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> config_;
  RecordingMessages messages_;
  ScriptedChooser chooser_;
  RecordingShell shell_;

  std::unique_ptr<TfrmODXViewer> NewShownWindow() {
    auto w = std::make_unique<TfrmODXViewer>(
        viewer::WindowServices{&messages_, &chooser_, &shell_, nullptr});
    w->show();
    QApplication::setActiveWindow(w.get());
    if (!QTest::qWaitForWindowActive(w.get()))
      qFatal("window never became active");
    return w;
  }

  static void Build(TfrmODXViewer &w, ScriptedChooser &chooser,
                    const QString &file) {
    chooser.answer = file;
    w.cmdBrowseClick();
  }

  static void Search(TfrmODXViewer &w, const QString &term) {
    Control<QLineEdit>(w, "txtFilter")->setText(term);
    w.cmdSearchClick();
  }

  static QAction *Action(QWidget &w, const char *name) {
    return Control<QAction>(w, name);
  }

  static NodeHandle CurrentItem(TfrmODXViewer &w) {
    return w.ItemsModel().NodeFromIndex(
        Control<QTreeView>(w, "treeItems")->currentIndex());
  }

  // Every container in [root, end) is expanded (or, with `expanded` false,
  // none is).
  static bool SubtreeState(TfrmODXViewer &w, NodeHandle root, bool expanded) {
    QTreeView *tree = Control<QTreeView>(w, "treeItems");
    const viewer::OutlineStore &store = w.ItemsStore();
    const NodeHandle end = viewer::SubtreeEnd(store, root);
    for (NodeHandle n = root; n < end; ++n)
      if (store.ChildCount(n) > 0 &&
          tree->isExpanded(w.ItemsModel().IndexFromNode(n)) != expanded)
        return false;
    return true;
  }

private slots:
  void init() {
    config_ = std::make_unique<QTemporaryDir>();
    QVERIFY(config_->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
    messages_.shown.clear();
    chooser_ = ScriptedChooser();
    shell_.calls.clear();
  }

  // --- Opening files from outside ------------------------------------------

  void droppedFileOpensAsIfBrowsed_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("opens");
    const QUrl local = QUrl::fromLocalFile(kSmallFile);
    const QUrl remote(QStringLiteral("https://example.org/a.odx"));
    QTest::newRow("on the window") << "frmODXViewer" << QList{local} << true;
    QTest::newRow("on the path box")
        << "txtODXFilePath" << QList{local} << true;
    QTest::newRow("on the filter box") << "txtFilter" << QList{local} << true;
    QTest::newRow("on the outline") << "treeItems" << QList{local} << true;
    QTest::newRow("first local one of several")
        << "frmODXViewer" << QList{remote, local} << true;
    QTest::newRow("remote only") << "frmODXViewer" << QList{remote} << false;
    QTest::newRow("a folder")
        << "frmODXViewer" << QList{QUrl::fromLocalFile(kCorpus)} << false;
    QTest::newRow("no URL at all") << "frmODXViewer" << QList<QUrl>{} << false;
  }
  void droppedFileOpensAsIfBrowsed() {
    QFETCH(QString, target);
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, opens);
    auto w = NewShownWindow();
    QWidget *on = target == w->objectName()
                      ? w.get()
                      : Control<QWidget>(*w, target.toLatin1().constData());
    if (auto *tree = qobject_cast<QTreeView *>(on))
      on = tree->viewport();
    auto mime = Urls(urls);
    if (urls.isEmpty())
      mime->setText(kSmallFile);
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime.get(),
                          Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    QCOMPARE(enter.isAccepted(), opens);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(on, &drop);

    QLineEdit *path = Control<QLineEdit>(*w, "txtODXFilePath");
    if (opens) {
      QCOMPARE(path->text(), kSmallFile);
      QCOMPARE(Stored(), kSmallFile);
      QCOMPARE(builds.count(), 1);
      QVERIFY(w->ItemsStore().GetCount() > 10);
      // The URL was not typed into a box as text.
      QCOMPARE(Control<QLineEdit>(*w, "txtFilter")->text(), QString());
    } else {
      QCOMPARE(path->text(), QStringLiteral("<Click Browse>"));
      QCOMPARE(builds.count(), 0);
    }
    QVERIFY(messages_.shown.isEmpty());
  }

  void ctrlOOffersTheOdxFamilyAfterTheFirstEntry() {
    auto w = NewShownWindow();
    chooser_.answer = kSmallFile;
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(chooser_.calls, 1);
    QVERIFY(w->ItemsStore().GetCount() > 10);

    const QStringList entries =
        viewer::QtNameFilter(chooser_.filter).split(QStringLiteral(";;"));
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0],
             QStringLiteral("ODX Files(*.odx,*.xml) (*.odx *.xml)"));
    QVERIFY(entries[1].startsWith(QStringLiteral("All ODX files (")));
    QCOMPARE(entries[2], QStringLiteral("All files (*) (*)"));

    // What each entry lists, with the dialog's pattern rules.
    auto matches = [&entries](int entry, const QString &name) {
      const QString list =
          entries[entry].section(QLatin1Char('('), -1).chopped(1);
      for (const QString &p : list.split(QLatin1Char(' ')))
        if (QRegularExpression(
                QRegularExpression::wildcardToRegularExpression(p))
                .match(name)
                .hasMatch())
          return true;
      return false;
    };
    QVERIFY(matches(0, "a.odx") && matches(0, "b.xml"));
    QVERIFY(!matches(0, "c.odx-d"));
    for (const char *ext : {"odx", "odx-d", "odx-c", "odx-cs", "odx-v", "odx-f",
                            "odx-e", "odx-m", "odx-fd"})
      QVERIFY2(matches(1, QStringLiteral("x.") + QLatin1String(ext)), ext);
    QVERIFY(!matches(1, "notes.txt"));
    QVERIFY(matches(2, "notes.txt"));
  }

  // --- Keyboard --------------------------------------------------------------

  void ctrlFPutsTheFocusInTheFilterWithItsTextSelected() {
    auto w = NewShownWindow();
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    filter->setText(QStringLiteral("short-name"));
    filter->deselect();
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->setFocus();
    QTRY_VERIFY(items->hasFocus());
    QTest::keyClick(items, Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(filter->hasFocus());
    QCOMPARE(filter->selectedText(), QStringLiteral("short-name"));
    // Typing now replaces the term, and Enter searches as before.
    QTest::keyClicks(filter, QStringLiteral("x"));
    QCOMPARE(filter->text(), QStringLiteral("x"));
  }

  void findNextAndPreviousWalkTheHitsAndJump() {
    auto w = NewShownWindow();
    // Nothing to walk yet: no effect.
    QTest::keyClick(w.get(), Qt::Key_F3);
    QVERIFY(!Control<QTreeView>(*w, "treeItems")->currentIndex().isValid());

    Build(*w, chooser_, kSmallFile);
    Search(*w, QStringLiteral("short-name"));
    const int hits = w->ResultsModel().rowCount();
    QCOMPARE(hits, 13);
    QTreeView *results = Control<QTreeView>(*w, "treeResults");
    QTreeView *items = Control<QTreeView>(*w, "treeItems");

    // Rows visited by F3 (+1) and Shift+F3 (-1), wrapping at both ends.
    const QList<QPair<int, int>> steps{
        {+1, 0}, {+1, 1}, {-1, 0}, {-1, hits - 1}, {+1, 0}};
    for (const auto &[step, row] : steps) {
      QTest::keyClick(
          QApplication::focusWidget() ? QApplication::focusWidget()
                                      : static_cast<QWidget *>(w.get()),
          Qt::Key_F3, step > 0 ? Qt::NoModifier : Qt::ShiftModifier);
      QCOMPARE(results->currentIndex().row(), row);
      const NodeHandle hit =
          w->ResultsModel().NodeFromIndex(w->ResultsModel().index(row, 0));
      QCOMPARE(CurrentItem(*w),
               viewer::ResultTarget(w->ResultsStore(), hit, w->ItemsStore()));
      QVERIFY(items->selectionModel()->isSelected(items->currentIndex()));
      QTRY_VERIFY(items->hasFocus());
    }
  }

  void enterOnAFocusedHitJumps() {
    auto w = NewShownWindow();
    Build(*w, chooser_, kSmallFile);
    Search(*w, QStringLiteral("short-name"));
    QTreeView *results = Control<QTreeView>(*w, "treeResults");
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    results->setFocus();
    QTRY_VERIFY(results->hasFocus());
    results->setCurrentIndex(w->ResultsModel().index(4, 0));
    QVERIFY(!items->currentIndex().isValid());
    QTest::keyClick(results, Qt::Key_Return);
    const NodeHandle hit =
        w->ResultsModel().NodeFromIndex(w->ResultsModel().index(4, 0));
    QCOMPARE(CurrentItem(*w),
             viewer::ResultTarget(w->ResultsStore(), hit, w->ItemsStore()));
    QTRY_VERIFY(items->hasFocus());
  }

  void ctrlCCopiesTheFullLabelOfTheFocusedTree() {
    auto w = NewShownWindow();
    Build(*w, chooser_, kSmallFile);
    Search(*w, QStringLiteral("xmlns"));
    QClipboard *clipboard = QGuiApplication::clipboard();
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    QTreeView *results = Control<QTreeView>(*w, "treeResults");

    // The first label spans two lines: the copy keeps them.
    items->setFocus();
    items->setCurrentIndex(w->ItemsModel().index(0, 0));
    clipboard->clear();
    QTest::keyClick(items, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), w->ItemsStore().GetText(0).toQString());
    QVERIFY(clipboard->text().contains(QLatin1Char('\n')));

    QVERIFY(w->ResultsStore().GetCount() >= 1);
    results->setFocus();
    results->setCurrentIndex(w->ResultsModel().index(0, 0));
    clipboard->clear();
    QTest::keyClick(results, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), w->ResultsStore().GetText(0).toQString());

    // An edit box keeps its own Ctrl+C.
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    filter->setFocus();
    filter->setText(QStringLiteral("xmlns"));
    filter->setSelection(0, 3);
    QTest::keyClick(filter, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("xml"));
  }

  void navigationKeysMoveInBothTrees() {
    auto w = NewShownWindow();
    Build(*w, chooser_, kSmallFile);
    Search(*w, QStringLiteral("e"));
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->expandAll();
    for (QTreeView *tree : {items, Control<QTreeView>(*w, "treeResults")}) {
      tree->setFocus();
      QTRY_VERIFY(tree->hasFocus());
      tree->setCurrentIndex(tree->model()->index(0, 0));
      QTest::keyClick(tree, Qt::Key_End);
      const QModelIndex last = tree->currentIndex();
      QVERIFY(last.isValid());
      QVERIFY(!tree->indexBelow(last).isValid());
      QTest::keyClick(tree, Qt::Key_Home);
      QCOMPARE(tree->currentIndex(), tree->model()->index(0, 0));
      QTest::keyClick(tree, Qt::Key_PageDown);
      const QModelIndex down = tree->currentIndex();
      QVERIFY(tree->visualRect(down).top() > tree->viewport()->height() / 2);
      QTest::keyClick(tree, Qt::Key_PageUp);
      QCOMPARE(tree->currentIndex(), tree->model()->index(0, 0));
    }
  }

  // --- Status line and paths
  // --------------------------------------------------

  void elementPathJoinsTheFirstWords() {
    viewer::OutlineStore store;
    const NodeHandle odx = store.AddChild(kNoNode, u"ODX **** MODEL-VERSION");
    const NodeHandle dlc = store.AddChild(odx, u"DIAG-LAYER-CONTAINER");
    const NodeHandle name = store.AddChild(dlc, u"SHORT-NAME = Engine");
    const NodeHandle desc = store.AddChild(dlc, u"DESC");
    const NodeHandle text = store.AddChild(desc, u" <p>x</p>");
    const NodeHandle next = store.AddChild(kNoNode, u"ODX");
    QCOMPARE(viewer::ElementPath(store, odx), QStringLiteral("ODX"));
    QCOMPARE(viewer::ElementPath(store, name),
             QStringLiteral("ODX/DIAG-LAYER-CONTAINER/SHORT-NAME"));
    QCOMPARE(viewer::ElementPath(store, text),
             QStringLiteral("ODX/DIAG-LAYER-CONTAINER/DESC/"));
    QCOMPARE(viewer::ElementPath(store, kNoNode), QString());
    QCOMPARE(viewer::ElementPath(store, 99), QString());

    // Subtrees are runs of handles in pre-order.
    QCOMPARE(viewer::SubtreeEnd(store, odx), next);
    QCOMPARE(viewer::SubtreeEnd(store, dlc), next);
    QCOMPARE(viewer::SubtreeEnd(store, name), desc);
    QCOMPARE(viewer::SubtreeEnd(store, text), next);
    QCOMPARE(viewer::SubtreeEnd(store, next), store.GetCount());
  }

  void statusLineShowsPathCountAndBuildTime() {
    auto w = NewShownWindow();
    QLabel *path = Control<QLabel>(*w, "lblNodePath");
    QLabel *count = Control<QLabel>(*w, "lblNodeCount");
    QLabel *time = Control<QLabel>(*w, "lblBuildTime");
    QCOMPARE(count->text(), QStringLiteral("0 nodes"));
    QCOMPARE(time->text(), QString());

    Build(*w, chooser_, kSmallFile);
    QCOMPARE(count->text(),
             QStringLiteral("%1 nodes").arg(w->ItemsStore().GetCount()));
    QVERIFY2(QRegularExpression(QStringLiteral("^built in \\d+ ms$"))
                 .match(time->text())
                 .hasMatch(),
             qPrintable(time->text()));
    QCOMPARE(path->text(), QString());

    Search(*w, QStringLiteral("cp_doiplogicaltesteraddress"));
    QTest::keyClick(w.get(), Qt::Key_F3);
    const NodeHandle node = CurrentItem(*w);
    QVERIFY(node != kNoNode);
    // The first words of the node's labels from the top down.
    QStringList names;
    for (QModelIndex i = w->ItemsModel().IndexFromNode(node); i.isValid();
         i = i.parent())
      names.prepend(i.data().toString().section(QLatin1Char(' '), 0, 0));
    QCOMPARE(path->text(), names.join(QLatin1Char('/')));
    QVERIFY(path->text().startsWith(QStringLiteral("ODX/")));

    QGuiApplication::clipboard()->clear();
    Action(*w, "actCopyItemPath")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), path->text());
    // From a hit, the path of its outline node.
    QGuiApplication::clipboard()->clear();
    Action(*w, "actCopyHitPath")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), path->text());

    // A rebuild clears the selection and the path with it.
    Build(*w, chooser_, kOtherFile);
    QCOMPARE(path->text(), QString());
    QCOMPARE(count->text(),
             QStringLiteral("%1 nodes").arg(w->ItemsStore().GetCount()));
  }

  void aDeepPathShowsItsTailAndCopiesWhole() {
    auto w = NewShownWindow();
    viewer::OutlineStore &store = w->ItemsStore();
    {
      viewer::StoreUpdate update(store);
      NodeHandle parent = kNoNode;
      for (int level = 0; level < 1'000; ++level)
        parent = store.AddChild(parent, u"LEVEL-NAME **** deep");
    }
    const NodeHandle deepest = store.GetCount() - 1;
    const QString full = viewer::ElementPath(store, deepest);
    QCOMPARE(full.size(), 1'000 * 11 - 1);
    Control<QTreeView>(*w, "treeItems")
        ->setCurrentIndex(w->ItemsModel().IndexFromNode(deepest));
    const QString shown = Control<QLabel>(*w, "lblNodePath")->text();
    QVERIFY(shown.size() < full.size());
    QVERIFY(shown.startsWith(QChar(0x2026)));
    QVERIFY(full.endsWith(shown.mid(1)));
    // The window kept its width.
    QCOMPARE(w->width(), 935);
    Action(*w, "actCopyItemPath")->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), full);
  }

  // --- Expanding and collapsing big subtrees
  // -----------------------------------

  void expandAndCollapseBelowStayResponsive() {
    auto w = NewShownWindow();
    FillTree(w->ItemsStore(), 200'000, 24);
    const uint32_t nodes = w->ItemsStore().GetCount();
    QVERIFY(nodes >= 200'000);
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->setCurrentIndex(w->ItemsModel().index(0, 0));

    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(0);
    Action(*w, "actExpandBelow")->trigger();
    QVERIFY(w->Expander().IsRunning());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTRY_VERIFY_WITH_TIMEOUT(!w->Expander().IsRunning(), 120'000);
    QVERIFY2(ticks > 0, "the event loop never ran during the expansion");
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(SubtreeState(*w, 0, true));
    QVERIFY(Control<QStatusBar>(*w, "statusLine")
                ->currentMessage()
                .startsWith(QStringLiteral("Expanded ")));
    // The deepest rows are shown.
    QTest::keyClick(items, Qt::Key_End);
    QCOMPARE(w->ItemsStore().Depth(CurrentItem(*w)), 5u);

    items->setCurrentIndex(w->ItemsModel().index(0, 0));
    ticks = 0;
    Action(*w, "actCollapseBelow")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w->Expander().IsRunning(), 120'000);
    QVERIFY(SubtreeState(*w, 0, false));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(items->indexBelow(w->ItemsModel().index(0, 0)), QModelIndex());
  }

  void collapseBelowLeavesTheRestExpanded() {
    auto w = NewShownWindow();
    FillTree(w->ItemsStore(), 5'000, 6);
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->expandAll();
    const NodeHandle second = w->ItemsStore().Child(0, 1);
    items->setCurrentIndex(w->ItemsModel().IndexFromNode(second));
    Action(*w, "actCollapseBelow")->trigger();
    QTRY_VERIFY(!w->Expander().IsRunning());
    QVERIFY(SubtreeState(*w, second, false));
    QVERIFY(SubtreeState(*w, w->ItemsStore().Child(0, 0), true));
    QVERIFY(SubtreeState(*w, w->ItemsStore().Child(0, 2), true));
    QVERIFY(items->isExpanded(w->ItemsModel().index(0, 0)));
  }

  void aNewRequestOrARebuildStopsARunningExpansion() {
    auto w = NewShownWindow();
    FillTree(w->ItemsStore(), 200'000, 24);
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->setCurrentIndex(w->ItemsModel().index(0, 0));
    Action(*w, "actExpandBelow")->trigger();
    QVERIFY(w->Expander().IsRunning());
    Action(*w, "actCollapseBelow")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w->Expander().IsRunning(), 120'000);
    QVERIFY(SubtreeState(*w, 0, false));
    QTest::qWait(50); // no stale slice of the expansion comes back
    QVERIFY(SubtreeState(*w, 0, false));

    Action(*w, "actExpandBelow")->trigger();
    QVERIFY(w->Expander().IsRunning());
    Build(*w, chooser_, kSmallFile);
    QVERIFY(!w->Expander().IsRunning());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QTest::qWait(50);
    QVERIFY(w->ItemsStore().GetCount() > 10);
  }

  void expansionStopsAtTheRowLimit() {
    auto w = NewShownWindow();
    FillTree(w->ItemsStore(), 50'000, 24);
    w->Expander().SetMaxShownRows(1'000);
    Control<QTreeView>(*w, "treeItems")
        ->setCurrentIndex(w->ItemsModel().index(0, 0));
    Action(*w, "actExpandBelow")->trigger();
    QTRY_VERIFY(!w->Expander().IsRunning());
    QVERIFY(!SubtreeState(*w, 0, true));
    int shown = 0;
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    for (QModelIndex i = w->ItemsModel().index(0, 0); i.isValid();
         i = items->indexBelow(i))
      ++shown;
    // The root's row, and up to the limit below it: short of it by less
    // than the one fan-out that no longer fitted.
    QVERIFY2(shown > 1'000 - 24 && shown <= 1'000 + 1,
             qPrintable(QString::number(shown)));
    QVERIFY(Control<QStatusBar>(*w, "statusLine")
                ->currentMessage()
                .contains(QStringLiteral("stopped at 1000")));
  }

  void asteriskExpandsThroughTheSlicedExpansion() {
    auto w = NewShownWindow();
    FillTree(w->ItemsStore(), 3'000, 6);
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->setFocus();
    items->setCurrentIndex(w->ItemsModel().index(0, 0));
    QTest::keyClick(items, Qt::Key_Asterisk, Qt::KeypadModifier);
    QTRY_VERIFY(!w->Expander().IsRunning());
    QVERIFY(SubtreeState(*w, 0, true));
    QVERIFY(Control<QStatusBar>(*w, "statusLine")
                ->currentMessage()
                .startsWith(QStringLiteral("Expanded ")));
  }
};

int main(int argc, char *argv[]) {
  viewer::ViewerApplication app(argc, argv);
  ConvenienceTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "ConvenienceTests.moc"
