#include "platform/SettingsStore.h"
#include "tests/gui/WindowFakes.h"
#include "viewer/OutlineModel.h"
#include "viewer/ViewerApplication.h"
#include "viewer/WindowServices.h"
#include "viewer/unitFrmODXMainForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace gui_test;

namespace {

const QString kCorpus = QStringLiteral(ODX_CORPUS_DIR);
const QString kSmallFile = kCorpus + QStringLiteral("/cda__ISO_13400_2.odx-cs");
const QString kOtherFile = kCorpus + QStringLiteral("/cda__DMC_DoIP.odx-d");

} // namespace

class MainWindowTests : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> config_;
  RecordingMessages messages_;
  ScriptedChooser chooser_;
  RecordingShell shell_;
  QStringList exceptions_;

  std::unique_ptr<TfrmODXViewer> NewWindow() {
    return std::make_unique<TfrmODXViewer>(
        viewer::WindowServices{&messages_, &chooser_, &shell_, nullptr});
  }

  // Shows the window as the program does; FormShow runs here.
  static void Show(TfrmODXViewer &w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
  }

  static QString Stored() {
    platform::UserSettingsStore store;
    std::array<char16_t, 1024> buffer{};
    int32_t length = 0;
    if (!store.ReadString(u"ODXViewerLastFile", buffer, length))
      return QStringLiteral("<nothing stored>");
    return QString::fromUtf16(buffer.data(), length);
  }

  static void Store(const QString &text) {
    platform::UserSettingsStore store;
    QVERIFY(store.WriteString(
        u"ODXViewerLastFile",
        std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()),
                            static_cast<std::size_t>(text.size()))));
  }

  static QStringList ResultLabels(TfrmODXViewer &w) {
    QStringList labels;
    viewer::OutlineStore &results = w.ResultsStore();
    for (uint32_t i = 0; i < results.GetCount(); ++i)
      labels << results.GetText(results.GetNodeFromIndex(i)).toQString();
    return labels;
  }

  // Builds the small corpus file through "Browse...".
  static void Browse(TfrmODXViewer &w, ScriptedChooser &chooser,
                     const QString &file) {
    chooser.answer = file;
    QTest::mouseClick(Control<QPushButton>(w, "cmdBrowse"), Qt::LeftButton);
  }

private slots:
  void init() {
    config_ = std::make_unique<QTemporaryDir>();
    QVERIFY(config_->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
    messages_.shown.clear();
    messages_.failWith = nullptr;
    chooser_ = ScriptedChooser();
    shell_.calls.clear();
    exceptions_.clear();
    viewer::ViewerApplication::SetExceptionReporter(
        [this](const QString &m) { exceptions_ << m; });
  }
  void cleanup() { viewer::ViewerApplication::SetExceptionReporter({}); }

  void firstStartWithNothingStored() {
    auto w = NewWindow();
    Show(*w);
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(),
             QStringLiteral("<Click Browse>"));
    QVERIFY(!w->Timer1->isActive());
    QTest::qWait(250);
    QCOMPARE(w->ItemsStore().GetCount(), 0u);
    QVERIFY(messages_.shown.isEmpty());
    // Reading made the store's folder, but stored nothing.
    QVERIFY(QDir(config_->path() + QStringLiteral("/kestrane")).exists());
    QCOMPARE(Stored(), QStringLiteral("<nothing stored>"));
  }

  void browseShowsStoresAndBuildsOnce() {
    auto w = NewWindow();
    Show(*w);
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);
    Browse(*w, chooser_, kSmallFile);
    QCOMPARE(chooser_.calls, 1);
    // The entry the dialog opens with; more entries follow.
    QVERIFY2(chooser_.filter.startsWith(
                 QStringLiteral("ODX Files(*.odx,*.xml)|*.odx;*.xml|")),
             qPrintable(chooser_.filter));
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), kSmallFile);
    QCOMPARE(Stored(), kSmallFile);
    QCOMPARE(builds.count(), 1);
    QVERIFY(w->ItemsStore().GetCount() > 10);
    QCOMPARE(w->ItemsStore().GetText(0).toQString(),
             QStringLiteral("ODX **** MODEL-VERSION=\"2.2.0\" "
                            "xmlns:xsi=\"http://www.w3.org/2001/"
                            "XMLSchema-instance\"\n     "
                            "xsi:noNamespaceSchemaLocation=\"odx_2_2_0.xsd\""));
    QVERIFY(messages_.shown.isEmpty());
    QVERIFY(!Control<QProgressBar>(*w, "progComplete")->isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // The first label spans two lines in the file; rows stay one line high.
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    QVERIFY(items->visualRect(w->ItemsModel().index(0, 0)).height() <
            2 * items->fontMetrics().lineSpacing());
  }

  void cancelledBrowseChangesNothing() {
    auto w = NewWindow();
    Show(*w);
    Browse(*w, chooser_, kSmallFile);
    const uint32_t nodes = w->ItemsStore().GetCount();
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);
    Browse(*w, chooser_, QString());
    QCOMPARE(chooser_.calls, 2);
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), kSmallFile);
    QCOMPARE(Stored(), kSmallFile);
    QCOMPARE(builds.count(), 0);
    QCOMPARE(w->ItemsStore().GetCount(), nodes);
  }

  void typedPathIsStoredPerKeystrokeAndBuiltAtNextStart() {
    {
      auto w = NewWindow();
      Show(*w);
      QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);
      QLineEdit *path = Control<QLineEdit>(*w, "txtODXFilePath");
      path->clear();
      QCOMPARE(Stored(), QString());
      for (const QChar c : kOtherFile.left(6)) {
        QTest::keyClicks(path, QString(c));
        QCOMPARE(Stored(), path->text());
      }
      QTest::keyClicks(path, kOtherFile.mid(6));
      QCOMPARE(Stored(), kOtherFile);
      QTest::qWait(200);
      QCOMPARE(builds.count(), 0);
    }
    auto next = NewWindow();
    QSignalSpy builds(&next->ItemsModel(), &QAbstractItemModel::modelReset);
    Show(*next);
    QCOMPARE(Control<QLineEdit>(*next, "txtODXFilePath")->text(), kOtherFile);
    QVERIFY(next->Timer1->isActive());
    QTRY_COMPARE(builds.count(), 1);
    QVERIFY(!next->Timer1->isActive());
    QVERIFY(next->ItemsStore().GetCount() > 0);
    QTest::qWait(250);
    QCOMPARE(builds.count(), 1);
  }

  void unusableRememberedFileGivesOneMessage_data() {
    QTest::addColumn<bool>("empty");
    QTest::newRow("empty path") << true;
    QTest::newRow("deleted file") << false;
  }
  void unusableRememberedFileGivesOneMessage() {
    QFETCH(bool, empty);
    QString remembered;
    if (!empty) {
      remembered = config_->path() + QStringLiteral("/gone.odx");
      QVERIFY(QFile::copy(kSmallFile, remembered));
      Store(remembered);
      QVERIFY(QFile::remove(remembered));
    }
    Store(remembered);
    auto w = NewWindow();
    Show(*w);
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), remembered);
    QTRY_COMPARE(messages_.shown.size(), 1);
    QCOMPARE(messages_.shown[0].text, QStringLiteral("Could not open file."));
    QCOMPARE(messages_.shown[0].caption, QStringLiteral("Kestrane ODX Parser"));
    QCOMPARE(messages_.shown[0].icon, viewer::MessageIcon::None);
    QTest::qWait(300);
    QCOMPARE(messages_.shown.size(), 1);
    QCOMPARE(w->ItemsStore().GetCount(), 0u);
    QVERIFY(!Control<QProgressBar>(*w, "progComplete")->isVisible());
  }

  void startupFileIsTakenAsIfBrowsed() {
    Store(kOtherFile);
    auto w = NewWindow();
    w->SetStartupFile(kSmallFile);
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);
    Show(*w);
    QTRY_COMPARE(builds.count(), 1);
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), kSmallFile);
    QCOMPARE(Stored(), kSmallFile);
    QVERIFY(!w->Timer1->isActive());
    QTest::qWait(250);
    QCOMPARE(builds.count(), 1);
  }

  void enterInFilterSearchesOnceAndTypesNothing_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("Shift+Enter")
        << int(Qt::Key_Return) << int(Qt::ShiftModifier);
    QTest::newRow("Ctrl+Enter")
        << int(Qt::Key_Return) << int(Qt::ControlModifier);
    QTest::newRow("keypad Enter")
        << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
  }
  void enterInFilterSearchesOnceAndTypesNothing() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    auto w = NewWindow();
    Show(*w);
    Browse(*w, chooser_, kSmallFile);
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    QTest::keyClicks(filter, QStringLiteral("short-NAME"));
    QSignalSpy searches(&w->ResultsModel(), &QAbstractItemModel::modelReset);
    QTest::keyClick(filter, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(searches.count(), 1);
    QCOMPARE(filter->text(), QStringLiteral("short-NAME"));
    const QStringList hits = ResultLabels(*w);
    QCOMPARE(hits.size(), 13);
    for (const QString &hit : hits)
      QVERIFY2(hit.startsWith(QStringLiteral("SHORT-NAME = ")),
               qPrintable(hit));
  }

  void otherKeysStillType() {
    auto w = NewWindow();
    Show(*w);
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    QSignalSpy searches(&w->ResultsModel(), &QAbstractItemModel::modelReset);
    QTest::keyClicks(filter, QStringLiteral("ab c"));
    QTest::keyClick(filter, Qt::Key_Backspace);
    QCOMPARE(filter->text(), QStringLiteral("ab "));
    QCOMPARE(searches.count(), 0);
  }

  void enterInSearchSpecRunsTheSpecSearch() {
    auto w = NewWindow();
    Show(*w);
    QLineEdit *spec = Control<QLineEdit>(*w, "txtSearchSpec");
    spec->setText(QStringLiteral("COMPARAM"));
    QTest::keyClick(spec, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(messages_.Texts(),
             QStringList{QStringLiteral("Close Acrobat Reader")});
    QCOMPARE(shell_.calls.size(), 1);
    QCOMPARE(shell_.calls[0][0], QByteArray("open"));
    QCOMPARE(shell_.calls[0][1], QByteArray("acrord32.exe"));
    QVERIFY2(shell_.calls[0][2].startsWith("/a \"search=COMPARAM\" "),
             shell_.calls[0][2].constData());
    QVERIFY(shell_.calls[0][2].endsWith("odx.pdf"));
    QCOMPARE(spec->text(), QStringLiteral("COMPARAM"));
  }

  void viewInXmlOfTheInitialTextSaysTheFileIsMissing() {
    auto w = NewWindow();
    Show(*w);
    QTest::mouseClick(Control<QPushButton>(*w, "cmdViewInXML"), Qt::LeftButton);
    QCOMPARE(messages_.Texts(),
             QStringList{QStringLiteral("The file does not exist.")});
    QCOMPARE(messages_.shown[0].icon, viewer::MessageIcon::Information);
    QVERIFY(shell_.calls.isEmpty());
  }

  void focusIntoSearchSpecSelectsAll() {
    auto w = NewWindow();
    Show(*w);
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QLineEdit *spec = Control<QLineEdit>(*w, "txtSearchSpec");
    spec->setText(QStringLiteral("DIAG-LAYER"));

    Control<QLineEdit>(*w, "txtFilter")->setFocus(Qt::OtherFocusReason);
    spec->deselect();
    spec->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(spec->selectedText(), QStringLiteral("DIAG-LAYER"));

    Control<QLineEdit>(*w, "txtFilter")->setFocus(Qt::OtherFocusReason);
    spec->deselect();
    QTest::mouseClick(spec, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTRY_COMPARE(spec->selectedText(), QStringLiteral("DIAG-LAYER"));
    // Typing now replaces the whole text.
    QTest::keyClicks(spec, QStringLiteral("X"));
    QCOMPARE(spec->text(), QStringLiteral("X"));
  }

  void clicksMoveBetweenTheTrees() {
    auto w = NewWindow();
    Show(*w);
    QApplication::setActiveWindow(w.get());
    Browse(*w, chooser_, kSmallFile);
    Control<QLineEdit>(*w, "txtFilter")
        ->setText(QStringLiteral("cp_doiplogicaltesteraddress"));
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSearch"), Qt::LeftButton);
    QTreeView *results = Control<QTreeView>(*w, "treeResults");
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    QVERIFY(w->ResultsStore().GetCount() >= 1);

    const QModelIndex hit = w->ResultsModel().index(0, 0);
    QTest::mouseClick(results->viewport(), Qt::LeftButton, Qt::NoModifier,
                      results->visualRect(hit).center());
    const QModelIndex target = items->currentIndex();
    QVERIFY(target.isValid());
    QCOMPARE(target.data().toString(), hit.data().toString());
    QVERIFY(items->selectionModel()->isSelected(target));
    QVERIFY(items->isExpanded(target.parent()));
    QTRY_VERIFY(items->hasFocus());

    // A click on the outline node picks its element name.
    items->scrollTo(target);
    QTest::mouseClick(items->viewport(), Qt::LeftButton, Qt::NoModifier,
                      items->visualRect(target).center());
    const QString label = target.data().toString();
    QCOMPARE(Control<QLineEdit>(*w, "txtSearchSpec")->text(),
             label.left(label.indexOf(QLatin1Char(' '))));
  }

  void resultClickAfterARebuildDoesNothingHarmful() {
    auto w = NewWindow();
    Show(*w);
    Browse(*w, chooser_, kSmallFile);
    Control<QLineEdit>(*w, "txtFilter")->setText(QStringLiteral("short-name"));
    w->cmdSearchClick();
    QTreeView *results = Control<QTreeView>(*w, "treeResults");
    results->setCurrentIndex(w->ResultsModel().index(3, 0));

    Browse(*w, chooser_, kOtherFile);
    // The old hits went with the outline they pointed into.
    QCOMPARE(w->ResultsStore().GetCount(), 0u);
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->setCurrentIndex(QModelIndex());
    w->treeResultsClick();
    QVERIFY(!items->currentIndex().isValid());
  }

  // Thrown from a click, a key and the start-up timer: the exception is
  // shown and the next event is handled as usual.
  void exceptionFromAHandlerIsShownAndTheProgramGoesOn() {
    auto w = NewWindow();
    Show(*w);
    chooser_.failWith = "chooser broke";
    QTest::mouseClick(Control<QPushButton>(*w, "cmdBrowse"), Qt::LeftButton);
    QCOMPARE(exceptions_, QStringList{QStringLiteral("chooser broke")});
    chooser_.failWith = nullptr;

    messages_.failWith = "box broke";
    QLineEdit *spec = Control<QLineEdit>(*w, "txtSearchSpec");
    QTest::keyClick(spec, Qt::Key_Return);
    QCOMPARE(exceptions_.size(), 2);
    QCOMPARE(exceptions_.last(), QStringLiteral("box broke"));
    QVERIFY(shell_.calls.isEmpty());
    QVERIFY(QApplication::overrideCursor() == nullptr);

    messages_.failWith = nullptr;
    QTest::keyClick(spec, Qt::Key_Return);
    QCOMPARE(shell_.calls.size(), 1);
    Browse(*w, chooser_, kSmallFile);
    QVERIFY(w->ItemsStore().GetCount() > 0);
    QCOMPARE(exceptions_.size(), 2);
  }

  // The application's own catch, for whatever event a handler outside the
  // window throws from; a foreign exception shows an empty text.
  void notifyCatchesWhatAnEventThrows() {
    struct Thrower : QObject {
      bool foreign = false;
      bool event(QEvent *e) override {
        if (e->type() != QEvent::User)
          return QObject::event(e);
        if (foreign)
          throw 42;
        throw std::runtime_error("event broke");
      }
    } thrower;
    QEvent first(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&thrower, &first));
    thrower.foreign = true;
    QEvent second(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&thrower, &second));
    QCOMPARE(exceptions_,
             (QStringList{QStringLiteral("event broke"), QString()}));
  }

  void exceptionFromTheStartupBuildIsShown() {
    Store(QString());
    messages_.failWith = "build broke";
    auto w = NewWindow();
    Show(*w);
    QTRY_COMPARE(exceptions_, QStringList{QStringLiteral("build broke")});
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(!Control<QProgressBar>(*w, "progComplete")->isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    messages_.failWith = nullptr;
    Browse(*w, chooser_, kSmallFile);
    QVERIFY(w->ItemsStore().GetCount() > 0);
  }

  void formMatchesItsDescription() {
    auto w = NewWindow();
    QCOMPARE(w->objectName(), QStringLiteral("frmODXViewer"));
    QCOMPARE(w->windowTitle(),
             QStringLiteral("Kestrane Wren ODX Viewer - 0.1"));
    QCOMPARE(w->font().pixelSize(), 13);
    QLabel *title = Control<QLabel>(*w, "TntLabel3");
    QCOMPARE(title->text(), QStringLiteral("Wren ODX Viewer"));
    QCOMPARE(title->font().pixelSize(), 16);
    QVERIFY(title->font().bold());
    QCOMPARE(w->ImageList1().size(), 3);
    for (const QIcon &icon : w->ImageList1())
      QVERIFY(!icon.pixmap(16, 16).toImage().isNull());
    QVERIFY(!Control<QLabel>(*w, "TntImage1")->pixmap().isNull());
    QCOMPARE(w->Timer1->interval(), 100);
    QVERIFY(w->Timer1->isSingleShot());
    Show(*w);
    QVERIFY(!Control<QPushButton>(*w, "TntButton1")->isVisible());
    QVERIFY(!Control<QProgressBar>(*w, "progComplete")->isVisible());
    for (const char *name : {"treeItems", "treeResults"}) {
      QTreeView *tree = Control<QTreeView>(*w, name);
      QCOMPARE(tree->indentation(), 19);
      QVERIFY(tree->isHeaderHidden());
      QVERIFY(tree->uniformRowHeights());
      QCOMPARE(tree->palette().color(QPalette::Inactive, QPalette::Highlight),
               tree->palette().color(QPalette::Active, QPalette::Highlight));
    }
    QCOMPARE(
        Control<QWidget>(*w, "TntPanel2")->palette().color(QPalette::Window),
        QColor(Qt::white));

    // Bottom panel first, then the top panel, then the two trees.
    QStringList chain;
    QWidget *start = Control<QWidget>(*w, "txtSearchSpec");
    QWidget *at = start;
    do {
      if (at->focusPolicy() & Qt::TabFocus && at->isVisibleTo(w.get()))
        chain << at->objectName();
      at = at->nextInFocusChain();
    } while (at != start);
    QCOMPARE(chain,
             (QStringList{"txtSearchSpec", "cmdSearchSpec", "cmdViewInXML",
                          "txtODXFilePath", "txtFilter", "cmdBrowse",
                          "cmdSearch", "treeItems", "treeResults"}));
  }

  // The form's controls fill 935 x 479; the status line adds below them.
  void geometryAtDesignSizeAndAfterResize() {
    auto w = NewWindow();
    Show(*w);
    auto at = [&w](const char *name) {
      QWidget *c = Control<QWidget>(*w, name);
      return QRect(c->mapTo(w.get(), QPoint(0, 0)), c->size());
    };
    const int status = at("statusLine").height();
    QVERIFY(status > 0);
    QCOMPARE(w->size(), QSize(935, 479 + status));
    QCOMPARE(at("statusLine"), QRect(0, 479, 935, status));
    QCOMPARE(at("TntPanel2"), QRect(0, 0, 935, 57));
    QCOMPARE(at("txtODXFilePath"), QRect(56, 6, 321, 24));
    QCOMPARE(at("cmdSearch"), QRect(384, 32, 109, 22));
    QCOMPARE(at("txtFilter"), QRect(7, 30, 370, 24));
    QCOMPARE(at("treeItems"), QRect(0, 57, 577, 391));
    QCOMPARE(at("treeResults"), QRect(585, 57, 350, 391));
    QCOMPARE(at("TntPanel1"), QRect(0, 448, 935, 31));
    QCOMPARE(at("cmdViewInXML"), QRect(439, 448 + 4, 157, 22));
    QCOMPARE(Control<QSplitter>(*w, "TntSplitter1")->handleWidth(), 8);

    w->resize(1200, 640 + status);
    QTRY_COMPARE(at("TntPanel1"), QRect(0, 640 - 31, 1200, 31));
    QCOMPARE(at("statusLine"), QRect(0, 640, 1200, status));
    QCOMPARE(at("TntPanel2"), QRect(0, 0, 1200, 57));
    QCOMPARE(at("treeItems"), QRect(0, 57, 577, 640 - 57 - 31));
    QCOMPARE(at("treeResults"), QRect(585, 57, 1200 - 585, 640 - 57 - 31));
    QCOMPARE(at("txtSearchSpec"), QRect(8, 640 - 31 + 2, 289, 24));
  }

  void nameFilterForQt() {
    QCOMPARE(viewer::QtNameFilter(
                 QStringLiteral("ODX Files(*.odx,*.xml)|*.odx;*.xml")),
             QStringLiteral("ODX Files(*.odx,*.xml) (*.odx *.xml)"));
    QCOMPARE(viewer::QtNameFilter(QStringLiteral("All|*")),
             QStringLiteral("All (*)"));
    QCOMPARE(viewer::QtNameFilter(QStringLiteral("plain")),
             QStringLiteral("plain"));
    QCOMPARE(viewer::QtNameFilter(QStringLiteral("A|*.a; *.b|All files (*)|*")),
             QStringLiteral("A (*.a *.b);;All files (*) (*)"));
  }
};

int main(int argc, char *argv[]) {
  viewer::ViewerApplication app(argc, argv);
  MainWindowTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "MainWindowTests.moc"
