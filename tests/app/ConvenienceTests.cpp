#include "odx/OdxIndex.h"
#include "outline/FilterSearch.h"
#include "outline/OutlineModel.h"
#include "outline/OutlinePaths.h"
#include "outline/SubtreeExpander.h"

#include "app/WindowParts.h"
#include "tests/app/WindowFakes.h"
#include <QFileInfo>
#include <QTemporaryDir>

#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>

using namespace gui_test;
using outline::kNoNode;
using outline::NodeHandle;

namespace {

// About `nodes` nodes in pre-order: one root, containers down to depth 4
// with `fanout` children each, leaves at depth 5.
void FillTree(outline::OutlineStore &store, uint32_t nodes, uint32_t fanout) {
  outline::StoreUpdate update(store);
  store.Clear();
  std::vector<NodeHandle> path{store.AddChild(kNoNode, u"ROOT **** big")};
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

QTreeView *Items(TfrmODXViewer &w) {
  return Control<QTreeView>(w, "treeItems");
}

NodeHandle CurrentItem(TfrmODXViewer &w) {
  return w.ItemsModel().NodeFromIndex(Items(w)->currentIndex());
}

void Trigger(TfrmODXViewer &w, const char *action) {
  Control<QAction>(w, action)->trigger();
}

// Every container in the subtree of `root` is expanded (or none is).
bool SubtreeState(TfrmODXViewer &w, NodeHandle root, bool expanded) {
  const outline::OutlineStore &store = w.ItemsStore();
  for (NodeHandle n = root; n < outline::SubtreeEnd(store, root); ++n)
    if (store.ChildCount(n) > 0 &&
        Items(w)->isExpanded(w.ItemsModel().IndexFromNode(n)) != expanded)
      return false;
  return true;
}

QString StatusMessage(TfrmODXViewer &w) {
  return Control<QStatusBar>(w, "statusLine")->currentMessage();
}

} // namespace

class ConvenienceTests : public QObject, WindowHarness {
  Q_OBJECT

private slots:
  void init() { Reset(); }
  void cleanup() { app::ViewerApplication::SetExceptionReporter({}); }

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
    auto w = ShownWindow();
    QWidget *on = target == w->objectName()
                      ? w.get()
                      : Control<QWidget>(*w, target.toLatin1().constData());
    if (auto *tree = qobject_cast<QTreeView *>(on))
      on = tree->viewport();
    QMimeData mime;
    mime.setUrls(urls);
    if (urls.isEmpty())
      mime.setText(kSmallFile);
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(on, &enter);
    QCOMPARE(enter.isAccepted(), opens);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(on, &drop);

    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(),
             opens ? kSmallFile : QStringLiteral("<Click Browse>"));
    QCOMPARE(builds.count(), opens ? 1 : 0);
    if (opens) {
      QCOMPARE(Stored(), kSmallFile);
      QVERIFY(w->ItemsStore().GetCount() > 10);
      // The URL was not typed into a box as text.
      QCOMPARE(Control<QLineEdit>(*w, "txtFilter")->text(), QString());
    }
    QVERIFY(messages.shown.isEmpty());
  }

  void ctrlOOffersTheOdxFamilyAfterTheFirstEntry() {
    auto w = ShownWindow();
    chooser.answer = kSmallFile;
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(chooser.calls, 1);
    QVERIFY(w->ItemsStore().GetCount() > 10);

    QVERIFY2(chooser.filter.startsWith("ODX Files(*.odx,*.xml)|*.odx;*.xml|"),
             qPrintable(chooser.filter));
    const QStringList entries = app::QtNameFilter(chooser.filter).split(";;");
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries[0], "ODX Files(*.odx,*.xml) (*.odx *.xml)");
    QVERIFY(entries[1].startsWith("All ODX files ("));
    QCOMPARE(entries[2], "PDX packages (*.pdx) (*.pdx)");
    QCOMPARE(entries[3], "All files (*) (*)");

    // What each entry lists, with the dialog's pattern rules.
    auto matches = [&entries](int entry, const QString &name) {
      const QString list = entries[entry].section('(', -1).chopped(1);
      for (const QString &p : list.split(' '))
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
                            "odx-e", "odx-m", "odx-fd", "pdx"})
      QVERIFY2(matches(1, QStringLiteral("x.") + QLatin1String(ext)), ext);
    QVERIFY(matches(1, "b.xml") && !matches(1, "notes.txt"));
    QVERIFY(matches(2, "delivery.pdx") && !matches(2, "a.odx"));
    QVERIFY(matches(3, "notes.txt"));
  }

  void dialogStartsBesideTheFileAndEnterInThePathBoxOpens() {
    auto w = ShownWindow();
    chooser.answer = kSmallFile;
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(chooser.selected, 1); // "All ODX files"
    QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(chooser.folder, QFileInfo(kSmallFile).absolutePath());

    QLineEdit *path = Control<QLineEdit>(*w, "txtODXFilePath");
    path->setText(kOtherFile);
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);
    QTest::keyClick(path, Qt::Key_Return);
    QCOMPARE(builds.count(), 1);
    QCOMPARE(Stored(), kOtherFile);
    QVERIFY(w->ItemsStore().GetCount() > 10);

    // An empty file is no failure, but the status line says why nothing
    // shows.
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.odx");
    QFile(empty).open(QIODevice::WriteOnly);
    path->setText(empty);
    QTest::keyClick(path, Qt::Key_Return);
    QVERIFY(messages.shown.isEmpty());
    QCOMPARE(StatusMessage(*w), empty + " is empty.");
  }

  void searchFeedbackAndTheSpecBoxFollowTheSelection() {
    auto w = ShownWindow();
    Browse(*w, kSmallFile);
    Search(*w, QStringLiteral("qxzj"));
    QCOMPARE(StatusMessage(*w), QStringLiteral("No hits for \"qxzj\""));
    Search(*w, QStringLiteral(" = "));
    QVERIFY(StatusMessage(*w).endsWith(" hits for \" = \""));
    Search(*w, QStringLiteral("short-name"));
    const uint32_t hits = w->ResultsStore().GetCount();
    QCOMPARE(StatusMessage(*w),
             QString("%1 hits for \"short-name\"").arg(hits));
    // Hits show their node's picture.
    for (uint32_t i = 0; i < hits; ++i)
      QCOMPARE(w->ResultsStore().ImageIndex(i),
               w->ItemsStore().ImageIndex(w->ResultsStore().Data(i).handle));

    // Keys, a jump from a hit: the standard search box follows, the
    // message goes.
    QTest::keyClick(w.get(), Qt::Key_F3);
    QLineEdit *spec = Control<QLineEdit>(*w, "txtSearchSpec");
    QCOMPARE(spec->text(), QStringLiteral("SHORT-NAME"));
    QCOMPARE(StatusMessage(*w), QString());
    QTest::keyClick(Items(*w), Qt::Key_Left);
    const QString label = Items(*w)->currentIndex().data().toString();
    QCOMPARE(spec->text(), label.section(' ', 0, 0));

    // Opening another file, or failing to, leaves nothing of the old one:
    // no hits, no message about them, no element name.
    QLineEdit *path = Control<QLineEdit>(*w, "txtODXFilePath");
    for (const QString &next : {kOtherFile, kCorpus + "/missing.odx"}) {
      Search(*w, QStringLiteral("short-name"));
      QTest::keyClick(w.get(), Qt::Key_F3);
      QTest::keyClick(w.get(), Qt::Key_U,
                      Qt::ControlModifier | Qt::ShiftModifier);
      const QString before = StatusMessage(*w);
      QVERIFY(!before.isEmpty() && !spec->text().isEmpty());
      path->setText(next);
      QTest::keyClick(path, Qt::Key_Return);
      // Only what the new outline has to say (the folder offer).
      QVERIFY2(StatusMessage(*w) != before, qPrintable(before));
      if (next != kOtherFile)
        QCOMPARE(StatusMessage(*w), QString());
      QCOMPARE(spec->text(), QString());
      QCOMPARE(w->ResultsStore().GetCount(), 0u);
    }
    QCOMPARE(messages.Texts(), QStringList{"Could not open file."});
  }

  // The corpus's two versions of one ECU, compared both ways: the markers,
  // the change list walked with F3, Expand Changes, Copy Changes, Esc.
  void comparingWalksTheChangesOfTwoVersions() {
    const QString older = kCorpus + "/odxtools__somersault__somersault.odx-d";
    const QString newer =
        kCorpus + "/odxtools__somersault_modified__somersault.odx-d";
    auto w = ShownWindow();
    Browse(*w, newer);
    chooser.answer = older;
    QTest::keyClick(w.get(), Qt::Key_D, Qt::ControlModifier);
    QLabel *counts = Control<QLabel>(*w, "lblComparing");
    QCOMPARE(counts->text(),
             "5 added, 0 removed, 2 changed, 2 renamed against " +
                 QFileInfo(older).fileName());
    QCOMPARE(w->ResultsStore().GetCount(), 9u);
    auto note = [](const QModelIndex &i) {
      return i.data(outline::OutlineModel::AnnotationRole).toString();
    };
    const QStringList expected{"added",
                               "added",
                               "was session_start",
                               "was session_stop",
                               "changed",
                               "changed",
                               "added",
                               "added",
                               "added"};
    for (const QString &says : expected) {
      QTest::keyClick(w.get(), Qt::Key_F3);
      QVERIFY2(note(Items(*w)->currentIndex()).endsWith(says),
               qPrintable(note(Items(*w)->currentIndex())));
    }
    QVERIFY(w->ItemsStore()
                .GetText(CurrentItem(*w))
                .toQString()
                .startsWith("ECU-VARIANT"));
    // The branches above changes carry a quiet mark, closed or open.
    QVERIFY(note(w->ItemsModel().index(0, 0)).endsWith(QChar(0x2022)));
    Items(*w)->collapseAll();
    Trigger(*w, "actExpandChanges");
    QVERIFY(Items(*w)->isExpanded(w->ItemsModel().IndexFromNode(
        w->ItemsStore().Parent(CurrentItem(*w)))));
    Trigger(*w, "actCopyChanges");
    const QStringList lines =
        QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 9);
    QCOMPARE(lines[2], "= ODX/DIAG-LAYER-CONTAINER[somersault]/BASE-VARIANTS/"
                       "BASE-VARIANT[somersault_base_variant]/DIAG-COMMS/"
                       "DIAG-SERVICE[start_session]: was session_start");
    QTest::keyClick(w.get(), Qt::Key_Escape);
    QVERIFY(counts->isHidden());
    QCOMPARE(w->ResultsStore().GetCount(), 0u);
    QVERIFY(!note(w->ItemsModel().index(0, 0)).contains(QChar(0x2022)));

    // The other way round the additions are removals: a removed row shows
    // its old path and leads to where it was.
    Browse(*w, older);
    chooser.answer = newer;
    Trigger(*w, "actCompareWith");
    QCOMPARE(w->ResultsStore().GetCount(), 9u);
    const NodeHandle removed = 0;
    QCOMPARE(w->ResultsStore().GetText(removed).toQString(),
             "ODX/DIAG-LAYER-CONTAINER[somersault]/BASE-VARIANTS/"
             "BASE-VARIANT[somersault_base_variant]/DIAG-DATA-DICTIONARY-SPEC/"
             "STRUCTURES/STRUCTURE[backward_flips_grudgingly_done_recall]/"
             "PARAMS/PARAM[num_flips_done]/BYTE-POSITION");
    QTest::keyClick(w.get(), Qt::Key_F3);
    QCOMPARE(outline::ElementPath(w->ItemsStore(), CurrentItem(*w)),
             "ODX/DIAG-LAYER-CONTAINER/BASE-VARIANTS/BASE-VARIANT/"
             "DIAG-DATA-DICTIONARY-SPEC/STRUCTURES/STRUCTURE/PARAMS/PARAM");
    // Opening another file ends the comparison.
    Browse(*w, newer);
    QVERIFY(counts->isHidden());
    QVERIFY(messages.shown.isEmpty());
  }

  void longLabelsScrollAndTheStatusLineKeepsOneLine() {
    QTemporaryDir dir;
    const QString file = dir.filePath("long.odx");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("<ODX><DESC>\n  <p>" + QByteArray(6'000'000, 'x') +
            "</p></DESC><A " + QByteArray(3000, 'a') + "=\"1\"/></ODX>");
    f.close();
    auto w = ShownWindow();
    Browse(*w, file);
    QTreeView *items = Items(*w);
    QVERIFY(items->columnWidth(0) > 10 * items->viewport()->width());
    items->expandAll();
    QStatusBar *line = Control<QStatusBar>(*w, "statusLine");
    const int height = line->height();
    // The description node: its path starts with a line break.
    items->setCurrentIndex(w->ItemsModel().index(
        0, 0, w->ItemsModel().index(0, 0, w->ItemsModel().index(0, 0))));
    const QString shown = Control<QLabel>(*w, "lblNodePath")->text();
    QVERIFY2(!shown.contains('\n'), qPrintable(shown));
    QCOMPARE(line->height(), height);
    QVERIFY(!Control<QLabel>(*w, "lblNodeCount")->text().isEmpty());
    // A text that starts with a line break goes by its first words.
    const QString x24(24, 'x');
    QVERIFY2(Control<QLabel>(*w, "lblNodePath")
                 ->toolTip()
                 .contains("ODX/DESC/" + x24 + "<"),
             qPrintable(Control<QLabel>(*w, "lblNodePath")->toolTip()));
    items->setFocus();
    QTRY_VERIFY(items->hasFocus());
    QTest::keyClick(items, Qt::Key_F12);
    QCOMPARE(StatusMessage(*w), x24 + " is no reference.");

    // The tool tip is the label as text, markup and line breaks included,
    // cut and wrapped to a readable width.
    const QModelIndex desc = items->currentIndex();
    items->scrollTo(desc);
    QHelpEvent hover(QEvent::ToolTip, TextPoint(*items, desc),
                     items->viewport()->mapToGlobal(TextPoint(*items, desc)));
    QApplication::sendEvent(items->viewport(), &hover);
    const QString tip = QToolTip::text();
    QVERIFY2(
        tip.startsWith("<p style=\"white-space:pre-wrap\">\n  &lt;p&gt;xxx"),
        qPrintable(tip.left(80)));
    QVERIFY(tip.size() < 4'200);
    QWidget *tipLabel = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
      if (top->inherits("QTipLabel") && top->isVisible())
        tipLabel = top;
    QVERIFY(tipLabel);
    QVERIFY2(tipLabel->width() < 1'000,
             qPrintable(QString::number(tipLabel->width())));
    QToolTip::hideText();

    // Rows show control characters as marks; the label keeps them.
    const QString label = QStringLiteral("a\r\nb\tc\rd\ne\u0001f\u007F");
    QCOMPARE(qobject_cast<QStyledItemDelegate *>(items->itemDelegate())
                 ->displayText(label, QLocale()),
             QStringLiteral("a\u23CEb\u2192c\u23CEd\u23CEe\u2401f\u2421"));
    QVERIFY(w->ItemsStore()
                .GetText(desc.internalId())
                .toQString()
                .startsWith("\n  <p>"));

    // At its smallest the window keeps every button whole.
    w->resize(w->minimumSize());
    QApplication::processEvents();
    QVERIFY(w->minimumWidth() < 935);
    for (QPushButton *button : w->findChildren<QPushButton *>()) {
      if (button->isHidden())
        continue;
      const QRect inWindow(button->mapTo(w.get(), QPoint(0, 0)),
                           button->size());
      QVERIFY2(w->rect().contains(inWindow), qPrintable(button->objectName()));
    }
  }

  void namesAndReferencesOnTheSample() {
    auto w = ShownWindow();
    Browse(*w, QStringLiteral(ODX_SOURCE_DIR) + "/samples/engine-ecu.odx");
    outline::OutlineModel &model = w->ItemsModel();
    auto note = [&](NodeHandle n,
                    int role = outline::OutlineModel::AnnotationRole) {
      return model.data(model.IndexFromNode(n), role);
    };
    // Named containers, resolved and unresolved references.
    QCOMPARE(note(1).toString(), QStringLiteral("EngineECU"));
    QCOMPARE(note(36).toString(), QStringLiteral("\u2192 rpm"));
    QCOMPARE(note(81).toString(), QStringLiteral("unresolved"));
    QVERIFY(note(81, outline::OutlineModel::AnnotationAlertRole).toBool());
    QVERIFY(!note(36, outline::OutlineModel::AnnotationAlertRole).toBool());

    // F12 jumps, Back and Forward retrace, Ctrl+click jumps too.
    Items(*w)->setFocus();
    Items(*w)->setCurrentIndex(model.IndexFromNode(36));
    QTest::keyClick(Items(*w), Qt::Key_F12);
    QCOMPARE(CurrentItem(*w), 70u);
    QTest::keyClick(w.get(), Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(CurrentItem(*w), 36u);
    QTest::keyClick(w.get(), Qt::Key_Right, Qt::AltModifier);
    QCOMPARE(CurrentItem(*w), 70u);
    Items(*w)->scrollTo(model.IndexFromNode(79));
    QTest::mouseClick(Items(*w)->viewport(), Qt::LeftButton,
                      Qt::ControlModifier,
                      TextPoint(*Items(*w), model.IndexFromNode(79)));
    QCOMPARE(CurrentItem(*w), 93u);

    // Shift+F12 lists the usages, Ctrl+Shift+U the unresolved references.
    Items(*w)->setCurrentIndex(model.IndexFromNode(70));
    QTest::keyClick(Items(*w), Qt::Key_F12, Qt::ShiftModifier);
    QCOMPARE(w->ResultsStore().Data(0).handle, 36u);
    QCOMPARE(w->ResultsStore().GetCount(), 1u);
    QCOMPARE(StatusMessage(*w), QStringLiteral("1 usage of rpm"));
    QCOMPARE(w->ResultsModel()
                 .data(w->ResultsModel().index(0, 0),
                       outline::OutlineModel::AnnotationRole)
                 .toString(),
             QStringLiteral("\u2192 rpm"));
    QTest::keyClick(w.get(), Qt::Key_U,
                    Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(w->ResultsStore().GetCount(), 2u);
    QCOMPARE(w->ResultsStore().Data(1).handle, 91u);
    QCOMPARE(StatusMessage(*w), QStringLiteral("2 unresolved references"));

    // Show Names switches the drawing off and is remembered.
    Trigger(*w, "actShowNames");
    QVERIFY(!note(1).isValid());
    auto again = NewWindow();
    QVERIFY(!Control<QAction>(*again, "actShowNames")->isChecked());
  }

  void servicesOnSomersault() {
    auto w = ShownWindow();
    Browse(*w, kCorpus + "/odxtools__somersault__somersault.odx-d");
    outline::OutlineModel &model = w->ItemsModel();
    constexpr NodeHandle kSessionStart = 395, kRequest = 498, kLazy = 835;
    auto note = [&](NodeHandle n) {
      return model.data(model.IndexFromNode(n),
                        outline::OutlineModel::AnnotationRole);
    };
    QCOMPARE(note(kSessionStart).toString(),
             QStringLiteral("session_start  10 00"));
    QCOMPARE(note(kRequest).toString(), QStringLiteral("start_session  10 00"));
    Items(*w)->setCurrentIndex(model.IndexFromNode(kSessionStart));
    QCOMPARE(Control<QLabel>(*w, "lblPrefix")->text(), QStringLiteral("10 00"));

    // The services the bytes start come first, then the text hits.
    Search(*w, QStringLiteral("10 00"));
    const outline::OutlineStore &hits = w->ResultsStore();
    QCOMPARE(hits.GetCount(), 1u);
    QCOMPARE(
        hits.GetText(0).toQString(),
        QStringLiteral(
            "10 00  session_start  (BASE-VARIANT somersault_base_variant)"));
    QCOMPARE(StatusMessage(*w),
             QStringLiteral("1 service and 0 hits for \"10 00\""));
    Search(*w, QStringLiteral("3e"));
    QVERIFY(hits.GetCount() > 1);
    QCOMPARE(hits.Data(0).handle, 429u);
    QVERIFY(!w->ResultsModel()
                 .data(w->ResultsModel().index(0, 0),
                       outline::OutlineModel::AnnotationRole)
                 .isValid());
    QCOMPARE(hits.Data(1), w->ItemsStore().Ref(129)); // "3e00", a text hit

    // Ctrl+L on a node inside a variant lists what it really has.
    Items(*w)->setFocus();
    Items(*w)->setCurrentIndex(model.IndexFromNode(kLazy + 1));
    QTest::keyClick(Items(*w), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(hits.GetCount(), 7u);
    QCOMPARE(
        hits.GetText(3).toQString(),
        QStringLiteral(
            "BA  do_forward_flips  (BASE-VARIANT somersault_base_variant)"));
    QCOMPARE(StatusMessage(*w),
             QStringLiteral("7 services of somersault_lazy"));
    w->ResultsModel().fetchMore(QModelIndex());
    Control<QTreeView>(*w, "treeResults")
        ->setCurrentIndex(w->ResultsModel().index(3, 0));
    w->treeResultsClick();
    QCOMPARE(CurrentItem(*w), 447u);
    Items(*w)->setCurrentIndex(model.IndexFromNode(0));
    QTest::keyClick(Items(*w), Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(StatusMessage(*w),
             QStringLiteral("ODX lies in no diagnostic layer."));
  }

  // A single file's references to documents not loaded: the window offers
  // its folder; references by name draw and jump like those by ID; the
  // problems say why.
  void shortNamesProblemsAndTheFolderOffer() {
    auto w = ShownWindow();
    Browse(*w, kCorpus + "/odxtools__somersault__somersault.odx-d");
    QLabel *offer = Control<QLabel>(*w, "lblNotLoaded");
    QVERIFY(offer->isVisible());
    QVERIFY2(StatusMessage(*w).endsWith(
                 "references point to documents that are not loaded"),
             qPrintable(StatusMessage(*w)));
    outline::OutlineStore &items = w->ItemsStore();
    NodeHandle snref = kNoNode;
    for (NodeHandle n = 0; n < items.GetCount() && snref == kNoNode; ++n)
      if (items.GetText(n).toQString().startsWith("TARGET-SNREF"))
        snref = n;
    QVERIFY(snref != kNoNode);
    outline::OutlineModel &model = w->ItemsModel();
    QVERIFY(model
                .data(model.IndexFromNode(snref),
                      outline::OutlineModel::AnnotationRole)
                .toString()
                .startsWith(QStringLiteral("\u2192 ")));
    Items(*w)->setFocus();
    Items(*w)->setCurrentIndex(model.IndexFromNode(snref));
    QTest::keyClick(Items(*w), Qt::Key_F12);
    const NodeHandle state = CurrentItem(*w);
    QVERIFY(items.GetText(state).toQString().startsWith("STATE"));
    QVERIFY(items.GetText(snref).toQString().contains(
        "\"" + w->Odx().Name(state).toQString() + "\""));
    // Find Usages counts references by name too.
    QTest::keyClick(Items(*w), Qt::Key_F12, Qt::ShiftModifier);
    bool listed = false;
    for (NodeHandle hit = 0; hit < w->ResultsStore().GetCount(); ++hit)
      listed |= w->ResultsStore().Data(hit).handle == snref;
    QVERIFY(listed);
    Items(*w)->setCurrentIndex(model.IndexFromNode(state));

    // One click opens the folder, and the same element stays selected.
    const QString path = outline::ElementPath(items, state);
    emit offer->linkActivated(QStringLiteral("folder"));
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), kCorpus);
    QVERIFY(!offer->isVisible());
    QCOMPARE(outline::ElementPath(items, CurrentItem(*w)),
             "odxtools__somersault__somersault.odx-d/" + path);

    QTest::keyClick(w.get(), Qt::Key_U,
                    Qt::ControlModifier | Qt::ShiftModifier);
    const auto problems = w->Odx().Problems();
    QCOMPARE(w->ResultsStore().GetCount(), uint32_t(problems.size()));
    QCOMPARE(w->ResultsModel()
                 .data(w->ResultsModel().index(0, 0),
                       outline::OutlineModel::AnnotationRole)
                 .toString(),
             "unresolved: " + w->Odx().Reason(problems[0]));
    // Following a problem says it in the status line too.
    QTest::keyClick(w.get(), Qt::Key_F3);
    QCOMPARE(StatusMessage(*w), "unresolved: " + w->Odx().Reason(problems[0]));
  }

  void ctrlFPutsTheFocusInTheFilterWithItsTextSelected() {
    auto w = ShownWindow();
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    filter->setText(QStringLiteral("short-name"));
    filter->deselect();
    Items(*w)->setFocus();
    QTRY_VERIFY(Items(*w)->hasFocus());
    QTest::keyClick(Items(*w), Qt::Key_F, Qt::ControlModifier);
    QTRY_VERIFY(filter->hasFocus());
    QCOMPARE(filter->selectedText(), QStringLiteral("short-name"));
    QTest::keyClicks(filter, QStringLiteral("x"));
    QCOMPARE(filter->text(), QStringLiteral("x"));
  }

  // F3 and Shift+F3 walk the hits, Enter on a focused hit jumps too.
  void keysWalkTheHitsAndJump() {
    auto w = ShownWindow();
    QTest::keyClick(w.get(), Qt::Key_F3); // nothing to walk yet
    QVERIFY(!Items(*w)->currentIndex().isValid());

    Browse(*w, kSmallFile);
    Search(*w, QStringLiteral("short-name"));
    const int hits = w->ResultsModel().rowCount();
    QCOMPARE(hits, 13);
    QTreeView *results = Control<QTreeView>(*w, "treeResults");
    auto expectJumpedTo = [&](int row) {
      const NodeHandle hit =
          w->ResultsModel().NodeFromIndex(w->ResultsModel().index(row, 0));
      QCOMPARE(CurrentItem(*w),
               outline::ResultTarget(w->ResultsStore(), hit, w->ItemsStore()));
      QVERIFY(
          Items(*w)->selectionModel()->isSelected(Items(*w)->currentIndex()));
      QTRY_VERIFY(Items(*w)->hasFocus());
    };
    // Rows visited by F3 (+1) and Shift+F3 (-1), wrapping at both ends.
    const QList<QPair<int, int>> steps{
        {+1, 0}, {+1, 1}, {-1, 0}, {-1, hits - 1}, {+1, 0}};
    for (const auto &[step, row] : steps) {
      QWidget *focus = QApplication::focusWidget();
      QTest::keyClick(focus ? focus : w.get(), Qt::Key_F3,
                      step > 0 ? Qt::NoModifier : Qt::ShiftModifier);
      QCOMPARE(results->currentIndex().row(), row);
      expectJumpedTo(row);
    }

    Items(*w)->setCurrentIndex(QModelIndex());
    results->setFocus();
    QTRY_VERIFY(results->hasFocus());
    results->setCurrentIndex(w->ResultsModel().index(4, 0));
    QVERIFY(!Items(*w)->currentIndex().isValid());
    QTest::keyClick(results, Qt::Key_Return);
    expectJumpedTo(4);
  }

  void ctrlCCopiesTheFullLabelOfTheFocusedTree() {
    auto w = ShownWindow();
    Browse(*w, kSmallFile);
    Search(*w, QStringLiteral("xmlns"));
    QClipboard *clipboard = QGuiApplication::clipboard();
    QVERIFY(w->ResultsStore().GetCount() >= 1);
    // The first outline label spans two lines: the copy keeps them.
    QVERIFY(w->ItemsStore().GetText(0).toQString().contains('\n'));
    for (const char *name : {"treeItems", "treeResults"}) {
      QTreeView *tree = Control<QTreeView>(*w, name);
      tree->setFocus();
      tree->setCurrentIndex(tree->model()->index(0, 0));
      clipboard->clear();
      QTest::keyClick(tree, Qt::Key_C, Qt::ControlModifier);
      QCOMPARE(clipboard->text(),
               (tree == Items(*w) ? w->ItemsStore() : w->ResultsStore())
                   .GetText(0)
                   .toQString());
    }
    // An edit box keeps its own Ctrl+C.
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    filter->setFocus();
    filter->setSelection(0, 3);
    QTest::keyClick(filter, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboard->text(), QStringLiteral("xml"));
  }

  // The window's own key handling leaves the trees' navigation keys alone.
  void navigationKeysMoveInBothTrees() {
    auto w = ShownWindow();
    Browse(*w, kSmallFile);
    Search(*w, QStringLiteral("e"));
    Items(*w)->expandAll();
    for (QTreeView *tree : {Items(*w), Control<QTreeView>(*w, "treeResults")}) {
      const QModelIndex first = tree->model()->index(0, 0);
      tree->setFocus();
      QTRY_VERIFY(tree->hasFocus());
      tree->setCurrentIndex(first);
      QTest::keyClick(tree, Qt::Key_End);
      QVERIFY(tree->currentIndex().isValid());
      QVERIFY(!tree->indexBelow(tree->currentIndex()).isValid());
      QTest::keyClick(tree, Qt::Key_Home);
      QCOMPARE(tree->currentIndex(), first);
      QTest::keyClick(tree, Qt::Key_PageDown);
      QVERIFY(tree->visualRect(tree->currentIndex()).top() >
              tree->viewport()->height() / 2);
      QTest::keyClick(tree, Qt::Key_PageUp);
      QCOMPARE(tree->currentIndex(), first);
    }
  }

  void statusLineShowsPathCountAndBuildTime() {
    auto w = ShownWindow();
    QLabel *path = Control<QLabel>(*w, "lblNodePath");
    QLabel *count = Control<QLabel>(*w, "lblNodeCount");
    QLabel *time = Control<QLabel>(*w, "lblBuildTime");
    QCOMPARE(count->text(), QStringLiteral("0 nodes"));
    QCOMPARE(time->text(), QString());

    Browse(*w, kSmallFile);
    QCOMPARE(count->text(),
             QString("%1 nodes").arg(w->ItemsStore().GetCount()));
    QVERIFY2(
        QRegularExpression("^built in \\d+ ms$").match(time->text()).hasMatch(),
        qPrintable(time->text()));
    QCOMPARE(path->text(), QString());

    Search(*w, QStringLiteral("cp_doiplogicaltesteraddress"));
    QTest::keyClick(w.get(), Qt::Key_F3);
    QVERIFY(CurrentItem(*w) != kNoNode);
    // The first words of the node's labels from the top down.
    QStringList names;
    for (QModelIndex i = Items(*w)->currentIndex(); i.isValid(); i = i.parent())
      names.prepend(i.data().toString().section(' ', 0, 0));
    QCOMPARE(path->text(), names.join('/'));
    QVERIFY(path->text().startsWith("ODX/"));

    // From the outline and from a hit: the path of the outline node.
    for (const char *action : {"actCopyItemPath", "actCopyHitPath"}) {
      QGuiApplication::clipboard()->clear();
      Trigger(*w, action);
      QCOMPARE(QGuiApplication::clipboard()->text(), path->text());
    }

    // A rebuild clears the selection and the path with it.
    Browse(*w, kOtherFile);
    QCOMPARE(path->text(), QString());
    QCOMPARE(count->text(),
             QString("%1 nodes").arg(w->ItemsStore().GetCount()));
    // The path box shows its whole text on hover.
    QVERIFY(Control<QLineEdit>(*w, "txtODXFilePath")
                ->toolTip()
                .contains(">" + kOtherFile + "<"));

    // A failed open times its build, not the message the user reads.
    messages.whileShown = [] { QThread::msleep(400); };
    Browse(*w, kCorpus + "/missing.odx");
    QCOMPARE(messages.shown.size(), 1);
    const int ms = time->text().section(' ', 2, 2).toInt();
    QVERIFY2(time->text().startsWith("built in ") && ms < 400,
             qPrintable(time->text()));
  }

  // Shift+F10 and the Menu key open the context menu at the current row.
  void keyboardContextMenuOpensAtTheCurrentRow_data() {
    QTest::addColumn<QString>("tree");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    for (const char *tree : {"treeItems", "treeResults"}) {
      QTest::addRow("%s Shift+F10", tree)
          << tree << int(Qt::Key_F10) << int(Qt::ShiftModifier);
      QTest::addRow("%s Menu", tree)
          << tree << int(Qt::Key_Menu) << int(Qt::NoModifier);
    }
  }
  void keyboardContextMenuOpensAtTheCurrentRow() {
    QFETCH(QString, tree);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    auto w = ShownWindow();
    Browse(*w, kSmallFile);
    Search(*w, QStringLiteral("short-name"));
    QTreeView *view = Control<QTreeView>(*w, tree.toLatin1().constData());
    view->setFocus();
    QTRY_VERIFY(view->hasFocus());
    const QModelIndex row = view->model()->index(3, 0);
    view->setCurrentIndex(row);
    QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QVERIFY(menu->actions().size() >= 5);
    const QRect at(
        view->viewport()->mapToGlobal(view->visualRect(row).topLeft()),
        view->visualRect(row).size());
    // Below the row, at its label's start unless the screen's edge is near.
    QVERIFY2(std::abs(menu->pos().y() - at.bottom()) <= 2 &&
                 menu->pos().x() <= std::max(at.left(), 0) + 40,
             qPrintable(QString("menu at %1,%2, row at %3,%4")
                            .arg(menu->pos().x())
                            .arg(menu->pos().y())
                            .arg(at.left())
                            .arg(at.bottom())));
    menu->close();
  }

  // A node deeper than the tree is wide is scrolled sideways into view.
  void aDeepNodeIsScrolledIntoViewSideways() {
    QTemporaryDir dir;
    const QString file = dir.filePath("deep.odx");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    for (int i = 0; i < 300; ++i)
      f.write("<LEVEL>");
    f.write("<LEAF>end</LEAF>");
    for (int i = 0; i < 300; ++i)
      f.write("</LEVEL>");
    f.close();
    auto w = ShownWindow();
    Browse(*w, file);
    QTreeView *items = Items(*w);
    items->setCurrentIndex(w->ItemsModel().index(0, 0));
    items->setFocus();
    Trigger(*w, "actExpandBelow");
    QTRY_VERIFY(!w->Expander().IsRunning());
    for (const Qt::Key key : {Qt::Key_End, Qt::Key_Home}) {
      QTest::keyClick(items, key);
      const QRect row = items->visualRect(items->currentIndex());
      QTRY_VERIFY2(row.left() >= 0 &&
                       row.left() < items->viewport()->width() / 2,
                   qPrintable(QString::number(
                       items->visualRect(items->currentIndex()).left())));
    }
    QCOMPARE(CurrentItem(*w), 0u);
  }

  void aDeepPathIsElidedInTheMiddleAndCopiesWhole() {
    auto w = ShownWindow();
    outline::OutlineStore &store = w->ItemsStore();
    {
      outline::StoreUpdate update(store);
      NodeHandle parent = kNoNode;
      for (int level = 0; level < 1'000; ++level)
        parent = store.AddChild(parent, u"LEVEL-NAME **** deep");
    }
    const NodeHandle deepest = store.GetCount() - 1;
    const QString full = outline::ElementPath(store, deepest);
    QCOMPARE(full.size(), 1'000 * 11 - 1);
    Items(*w)->setCurrentIndex(w->ItemsModel().IndexFromNode(deepest));
    const QString shown = Control<QLabel>(*w, "lblNodePath")->text();
    QVERIFY(shown.size() < full.size());
    const qsizetype cut = shown.indexOf(QChar(0x2026));
    QVERIFY(cut > 0 && cut < shown.size() - 1);
    QVERIFY(full.startsWith(shown.left(cut)));
    QVERIFY(full.endsWith(shown.mid(cut + 1)));
    QCOMPARE(w->width(), 935); // the window kept its width
    Trigger(*w, "actCopyItemPath");
    QCOMPARE(QGuiApplication::clipboard()->text(), full);
  }

  // Expanding a big subtree runs in slices: the event loop keeps running,
  // a new request or a rebuild stops it, and no stale slice comes back.
  void expandAndCollapseBelowStayResponsive() {
    auto w = ShownWindow();
    FillTree(w->ItemsStore(), 200'000, 24);
    QVERIFY(w->ItemsStore().GetCount() >= 200'000);
    QTreeView *items = Items(*w);
    const QModelIndex root = w->ItemsModel().index(0, 0);
    items->setCurrentIndex(root);

    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(0);
    Trigger(*w, "actExpandBelow");
    QVERIFY(w->Expander().IsRunning());
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTRY_VERIFY_WITH_TIMEOUT(!w->Expander().IsRunning(), 120'000);
    QVERIFY2(ticks > 0, "the event loop never ran during the expansion");
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(SubtreeState(*w, 0, true));
    QVERIFY(StatusMessage(*w).startsWith("Expanded "));
    // The deepest rows are shown.
    QTest::keyClick(items, Qt::Key_End);
    QCOMPARE(w->ItemsStore().Depth(CurrentItem(*w)), 5u);

    items->setCurrentIndex(root);
    Trigger(*w, "actCollapseBelow");
    QTRY_VERIFY_WITH_TIMEOUT(!w->Expander().IsRunning(), 120'000);
    QVERIFY(SubtreeState(*w, 0, false));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(items->indexBelow(root), QModelIndex());

    // A collapse requested while expanding wins.
    Trigger(*w, "actExpandBelow");
    QVERIFY(w->Expander().IsRunning());
    Trigger(*w, "actCollapseBelow");
    QTRY_VERIFY_WITH_TIMEOUT(!w->Expander().IsRunning(), 120'000);
    Settle(); // a stale slice would be queued by now
    QVERIFY(SubtreeState(*w, 0, false));

    Trigger(*w, "actExpandBelow");
    QVERIFY(w->Expander().IsRunning());
    Browse(*w, kSmallFile);
    QVERIFY(!w->Expander().IsRunning());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    Settle();
    QVERIFY(w->ItemsStore().GetCount() > 10);
  }

  // The last of a long hit list is one key, one drag or one step away,
  // while the view never holds more than a window of rows.
  void aLongHitListReachesItsEndAtOnce() {
    auto w = ShownWindow();
    FillTree(w->ItemsStore(), 200'000, 24);
    Search(*w, QStringLiteral("leaf"));
    const uint32_t hits = w->ResultsStore().GetCount();
    QVERIFY(hits > 150'000);
    QTreeView *results = Control<QTreeView>(*w, "treeResults");
    auto *bar = Control<QScrollBar>(*w, "hitListBar");
    QVERIFY(bar->isVisible());
    const NodeHandle last = w->ResultsStore().Child(kNoNode, hits - 1);
    auto currentHit = [&] {
      return w->ResultsModel().NodeFromIndex(results->currentIndex());
    };
    auto bottomHit = [&] { // the last row wholly in view
      const int row = results->sizeHintForRow(0);
      const QModelIndex i = results->indexAt(
          QPoint(5, results->viewport()->height() / row * row - 2));
      return w->ResultsModel().NodeFromIndex(i);
    };
    auto viewRows = [&] { return w->ResultsModel().rowCount(); };
    results->setFocus();
    QTRY_VERIFY(results->hasFocus());
    results->setCurrentIndex(w->ResultsModel().index(0, 0));

    // Keys: End, Ctrl+End, Home.
    for (const auto &[mods, target] : {std::pair{Qt::NoModifier, last},
                                       {Qt::ControlModifier, last},
                                       {Qt::ControlModifier, NodeHandle(0)}}) {
      QTest::keyClick(results, target == 0 ? Qt::Key_Home : Qt::Key_End, mods);
      QCOMPARE(currentHit(), target);
      QVERIFY(viewRows() <= int(app::HitListWindow::kRows));
      QCOMPARE(bar->value(), target == 0 ? 0 : bar->maximum());
    }
    // Shift+F3 from the first hit steps back to the last, F3 on to the
    // first, each jumping to its outline node.
    QTest::keyClick(results, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(currentHit(), last);
    QCOMPARE(CurrentItem(*w), w->ResultsStore().Data(last).handle);
    QTest::keyClick(w.get(), Qt::Key_F3);
    QCOMPARE(currentHit(), NodeHandle(0));
    // The thumb at the bottom shows the last hit; in the middle, the middle.
    bar->setValue(bar->maximum());
    QCOMPARE(bottomHit(), last);
    bar->setValue(bar->maximum() / 2);
    const NodeHandle middle = bottomHit();
    QVERIFY(middle > hits / 2 - 100 && middle < hits / 2 + 100);
    QVERIFY(viewRows() <= int(app::HitListWindow::kRows));
    // The current hit stayed the first, out of the window: F3 goes on.
    QTest::keyClick(w.get(), Qt::Key_F3);
    QCOMPARE(currentHit(), w->ResultsStore().Child(kNoNode, 1));
    // Page Down far past the window's first place keeps going.
    results->setFocus();
    QTRY_VERIFY(results->hasFocus());
    const int page = results->viewport()->height() / results->sizeHintForRow(0);
    for (int i = 0; i < 4'000 / page + 10; ++i)
      QTest::keyClick(results, Qt::Key_PageDown);
    QVERIFY(currentHit() > 4'000);
    QCOMPARE(bar->value(), int(w->ResultsModel().TopLevelBase()) +
                               results->indexAt(QPoint(1, 1)).row());

    // A short list is shown whole, with the view's own bar.
    Search(*w, QStringLiteral("root"));
    QVERIFY(!bar->isVisible());
    QCOMPARE(viewRows(), 1);
  }

  void collapseBelowAndAsteriskWorkOnTheCurrentSubtree() {
    auto w = ShownWindow();
    FillTree(w->ItemsStore(), 5'000, 6);
    QTreeView *items = Items(*w);
    items->expandAll();
    const NodeHandle second = w->ItemsStore().Child(0, 1);
    items->setCurrentIndex(w->ItemsModel().IndexFromNode(second));
    Trigger(*w, "actCollapseBelow");
    QTRY_VERIFY(!w->Expander().IsRunning());
    QVERIFY(SubtreeState(*w, second, false));
    QVERIFY(SubtreeState(*w, w->ItemsStore().Child(0, 0), true));
    QVERIFY(SubtreeState(*w, w->ItemsStore().Child(0, 2), true));
    QVERIFY(items->isExpanded(w->ItemsModel().index(0, 0)));

    // Keypad '*' goes through the same sliced expansion.
    items->setFocus();
    QTest::keyClick(items, Qt::Key_Asterisk, Qt::KeypadModifier);
    QTRY_VERIFY(!w->Expander().IsRunning());
    QVERIFY(SubtreeState(*w, second, true));
    uint32_t containers = 0;
    for (NodeHandle n = second;
         n < outline::SubtreeEnd(w->ItemsStore(), second); ++n)
      containers += w->ItemsStore().ChildCount(n) > 0;
    QCOMPARE(StatusMessage(*w), QString("Expanded %1 nodes").arg(containers));

    // Only what changed counts: nothing on a leaf or an open subtree.
    const NodeHandle leaf = w->ItemsStore().GetCount() - 1;
    for (const NodeHandle node : {leaf, second}) {
      items->setCurrentIndex(w->ItemsModel().IndexFromNode(node));
      QTest::keyClick(items, Qt::Key_Asterisk);
      QTRY_VERIFY(!w->Expander().IsRunning());
      QCOMPARE(StatusMessage(*w), QStringLiteral("Nothing to expand"));
    }
    items->setCurrentIndex(w->ItemsModel().IndexFromNode(leaf));
    Trigger(*w, "actCollapseBelow");
    QTRY_VERIFY(!w->Expander().IsRunning());
    QCOMPARE(StatusMessage(*w), QStringLiteral("Nothing to collapse"));
  }

  void expansionStopsAtTheRowLimit() {
    auto w = ShownWindow();
    FillTree(w->ItemsStore(), 50'000, 24);
    w->Expander().SetMaxShownRows(1'000);
    Items(*w)->setCurrentIndex(w->ItemsModel().index(0, 0));
    Trigger(*w, "actExpandBelow");
    QTRY_VERIFY(!w->Expander().IsRunning());
    QVERIFY(!SubtreeState(*w, 0, true));
    int shown = 0;
    for (QModelIndex i = w->ItemsModel().index(0, 0); i.isValid();
         i = Items(*w)->indexBelow(i))
      ++shown;
    // The root's row, and up to the limit below it: short of it by less
    // than the one fan-out that no longer fitted.
    QVERIFY2(shown > 1'000 - 24 && shown <= 1'000 + 1,
             qPrintable(QString::number(shown)));
    QVERIFY(StatusMessage(*w).contains("stopped at 1000"));
  }
};

int main(int argc, char *argv[]) {
  app::ViewerApplication app(argc, argv);
  ConvenienceTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "ConvenienceTests.moc"
