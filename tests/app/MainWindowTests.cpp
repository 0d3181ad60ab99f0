#include "outline/OutlineModel.h"
#include "tests/app/WindowFakes.h"

#include "package/Package.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>

using namespace gui_test;
using outline::kNoNode;
using outline::NodeHandle;

class MainWindowTests : public QObject, WindowHarness {
  Q_OBJECT

  QStringList ResultLabels(TfrmODXViewer &w) {
    QStringList labels;
    for (uint32_t i = 0; i < w.ResultsStore().GetCount(); ++i)
      labels << w.ResultsStore().GetText(i).toQString();
    return labels;
  }

private slots:
  void init() { Reset(); }
  void cleanup() { app::ViewerApplication::SetExceptionReporter({}); }

  void firstStartWithNothingStored() {
    auto w = ShownWindow();
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(),
             QStringLiteral("<Click Browse>"));
    QVERIFY(!w->Timer1->isActive());
    Settle();
    QCOMPARE(w->ItemsStore().GetCount(), 0u);
    QVERIFY(messages.shown.isEmpty());
    // Reading made the store's folder, but stored nothing.
    QVERIFY(QDir(config->path() + "/kestrane").exists());
    QCOMPARE(Stored(), QStringLiteral("<nothing stored>"));
  }

  void browseShowsStoresAndBuildsOnce() {
    auto w = ShownWindow();
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);
    Browse(*w, kSmallFile);
    QCOMPARE(chooser.calls, 1);
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), kSmallFile);
    QCOMPARE(Stored(), kSmallFile);
    QCOMPARE(builds.count(), 1);
    QVERIFY(w->ItemsStore().GetCount() > 10);
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(!Control<QProgressBar>(*w, "progComplete")->isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // The first label spans two lines in the file; rows stay one line high.
    QVERIFY(w->ItemsStore().GetText(0).toQString().contains('\n'));
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    QVERIFY(items->visualRect(w->ItemsModel().index(0, 0)).height() <
            2 * items->fontMetrics().lineSpacing());

    // Cancelling changes nothing.
    const uint32_t nodes = w->ItemsStore().GetCount();
    Browse(*w, QString());
    QCOMPARE(chooser.calls, 2);
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), kSmallFile);
    QCOMPARE(Stored(), kSmallFile);
    QCOMPARE(builds.count(), 1);
    QCOMPARE(w->ItemsStore().GetCount(), nodes);
  }

  void typedPathIsStoredPerKeystrokeAndBuiltAtNextStart() {
    {
      auto w = ShownWindow();
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
      // Typing starts no build, now or later.
      QVERIFY(!w->Timer1->isActive());
      Settle();
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
    Settle();
    QCOMPARE(builds.count(), 1);
  }

  void unusableRememberedFileGivesOneMessage_data() {
    QTest::addColumn<QString>("remembered");
    QTest::newRow("empty path") << QString();
    QTest::newRow("deleted file") << kCorpus + "/deleted.odx";
  }
  void unusableRememberedFileGivesOneMessage() {
    QFETCH(QString, remembered);
    Store(remembered);
    auto w = ShownWindow();
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), remembered);
    QTRY_COMPARE(messages.shown.size(), 1);
    QCOMPARE(messages.shown[0].text, QStringLiteral("Could not open file."));
    QCOMPARE(messages.shown[0].caption, QStringLiteral("Kestrane ODX Parser"));
    QCOMPARE(messages.shown[0].icon, desktop::MessageIcon::None);
    // Below the message: which file, and why.
    QVERIFY(messages.shown[0].details.startsWith(remembered + "\n"));
    QVERIFY(messages.shown[0].details.size() > remembered.size() + 10);
    QVERIFY(!w->Timer1->isActive());
    Settle();
    QCOMPARE(messages.shown.size(), 1);
    QCOMPARE(w->ItemsStore().GetCount(), 0u);
    QVERIFY(!Control<QProgressBar>(*w, "progComplete")->isVisible());
  }

  void startupFileIsTakenAsIfBrowsed() {
    Store(kOtherFile);
    auto w = NewWindow();
    w->SetStartupFile(kSmallFile);
    QSignalSpy builds(&w->ItemsModel(), &QAbstractItemModel::modelReset);
    Show(*w);
    // Built from the start-up timer, after the window has painted.
    QCOMPARE(builds.count(), 0);
    QVERIFY(w->Timer1->isActive());
    QTRY_COMPARE(builds.count(), 1);
    QCOMPARE(Control<QLineEdit>(*w, "txtODXFilePath")->text(), kSmallFile);
    QCOMPARE(Stored(), kSmallFile);
    QVERIFY(!w->Timer1->isActive());
    Settle();
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
    auto w = ShownWindow();
    Browse(*w, kSmallFile);
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    QTest::keyClicks(filter, QStringLiteral("short-NAME"));
    QSignalSpy searches(&w->ResultsModel(), &QAbstractItemModel::modelReset);
    QTest::keyClick(filter, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(searches.count(), 1);
    QCOMPARE(filter->text(), QStringLiteral("short-NAME"));
    const QStringList hits = ResultLabels(*w);
    QCOMPARE(hits.size(), 13);
    for (const QString &hit : hits)
      QVERIFY2(hit.startsWith("SHORT-NAME = "), qPrintable(hit));

    // Other keys still type and search nothing.
    QTest::keyClicks(filter, QStringLiteral(" c"));
    QTest::keyClick(filter, Qt::Key_Backspace);
    QCOMPARE(filter->text(), QStringLiteral("short-NAME "));
    QCOMPARE(searches.count(), 1);
  }

  // Enter in the search box runs the search of the document, which is not
  // beside the test program; the initial path names no file for the XML
  // view.
  void handOffsFromTheWindow() {
    auto w = ShownWindow();
    QLineEdit *spec = Control<QLineEdit>(*w, "txtSearchSpec");
    spec->setText(QStringLiteral("COMPARAM"));
    QTest::keyClick(spec, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(messages.Texts(),
             QStringList{"The ODX standard was not found: copy odx.pdf to " +
                         QCoreApplication::applicationDirPath() + "/."});
    QCOMPARE(spec->text(), QStringLiteral("COMPARAM"));

    messages.shown.clear();
    QTest::mouseClick(Control<QPushButton>(*w, "cmdViewInXML"), Qt::LeftButton);
    QCOMPARE(messages.Texts(), QStringList{"The file does not exist."});
    QCOMPARE(shell.CallCount(), 0u);

    // A viewer that ended at once is reported.
    messages.shown.clear();
    shell.Fail("Editor", "exit status 1");
    QCOMPARE(messages.Texts(),
             QStringList{"Editor ended at once (exit status 1): the file may "
                         "not have been shown."});
  }

  // A package's XML view shows the member that holds the selection (without
  // one, the first document): a document as junk.xml beside the program,
  // another member from a private copy named like it in the application for
  // its type, and an unreadable member not at all.
  void xmlViewOfAPackageShowsTheSelectedMember_data() {
    QTest::addColumn<QString>("package");
    QTest::addColumn<int>("row"); // the member selected, -1: none
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("how"); // xml, file or the message
    const QString somersault = QStringLiteral(ODX_SOURCE_DIR) +
                               "/tests/data/packages/odxtools__somersault.pdx";
    const QString members = QStringLiteral(ODX_TEST_PACKAGES) + "/members.pdx";
    QTest::newRow("nothing selected") << somersault << -1 << 1 << "xml";
    QTest::newRow("in a document") << somersault << 5 << 5 << "xml";
    QTest::newRow("a script") << somersault << 0 << 0 << "file";
    QTest::newRow("a readable one among unreadable ones")
        << members << 11 << 11 << "xml";
    QTest::newRow("an encrypted one")
        << members << 4 << 4
        << "encrypted.xml cannot be read from the package.";
    QTest::newRow("one whose data is damaged")
        << members << 2 << 2 << "crc.xml cannot be read from the package.";
  }
  void xmlViewOfAPackageShowsTheSelectedMember() {
    QFETCH(QString, package);
    QFETCH(int, row);
    QFETCH(int, shown);
    QFETCH(QString, how);
    auto w = ShownWindow();
    Browse(*w, package);
    if (row >= 0)
      Control<QTreeView>(*w, "treeItems")
          ->setCurrentIndex(w->ItemsModel().index(row, 0));
    QTest::mouseClick(Control<QPushButton>(*w, "cmdViewInXML"), Qt::LeftButton);
    package::Package pkg;
    QVERIFY(pkg.Open(cvexString(package.toLocal8Bit().constData())) ==
            package::Package::OpenStatus::Opened);
    const QString name = QString::fromStdU16String(pkg.Members()[shown].name);
    cvexDynamicArrayTemplate<unsigned char> member;
    auto contents = [](const QString &path) {
      QFile f(path);
      return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    if (how == "xml" || how == "file") {
      QVERIFY(messages.shown.isEmpty());
      QVERIFY(pkg.Read(shown, member));
      const QByteArray bytes(reinterpret_cast<char *>(member.data),
                             member.count);
      const auto &views = how == "xml" ? shell.xmlViews : shell.fileViews;
      QCOMPARE(shell.CallCount(), 1u);
      QCOMPARE(contents(views.back().path), bytes);
      if (how == "xml")
        QCOMPARE(views.back().path,
                 QCoreApplication::applicationDirPath() + "/junk.xml");
      else
        QCOMPARE(QFileInfo(views.back().path).fileName(), name);
    } else {
      QCOMPARE(shell.CallCount(), 0u);
      QCOMPARE(messages.Texts(), QStringList{how});
    }
  }

  // In a folder, the XML view shows the file that holds the selection; in a
  // package there, the member; an unreadable file not at all.
  void xmlViewOfAFolderShowsTheSelectedFile() {
    QTemporaryDir dir;
    const QString somersault = QStringLiteral(ODX_SOURCE_DIR) +
                               "/tests/data/packages/odxtools__somersault.pdx";
    QVERIFY(QFile::copy(somersault, dir.filePath("p.pdx")));
    for (const auto &[name, body] :
         {std::pair{"a.odx", QByteArray("<A><B/></A>")},
          std::pair{"k.pdx", QByteArray("PK\x03\x04 damaged")}}) {
      QFile f(dir.filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(body);
    }
    auto w = ShownWindow();
    Browse(*w, dir.path());
    auto view = [&](NodeHandle node) {
      messages.shown.clear();
      Control<QTreeView>(*w, "treeItems")
          ->setCurrentIndex(w->ItemsModel().IndexFromNode(node));
      QTest::mouseClick(Control<QPushButton>(*w, "cmdViewInXML"),
                        Qt::LeftButton);
    };
    auto contents = [](const QString &path) {
      QFile f(path);
      return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const outline::OutlineStore &items = w->ItemsStore();
    view(2); // B in a.odx
    QCOMPARE(contents(shell.xmlViews.back().path), QByteArray("<A><B/></A>"));
    view(items.Child(kNoNode, 1)); // k.pdx
    QCOMPARE(messages.Texts(), QStringList{"k.pdx cannot be read."});
    const NodeHandle member = items.Child(items.Child(kNoNode, 2), 5);
    view(items.Child(member, 0));
    package::Package pkg;
    QVERIFY(pkg.Open(cvexString(somersault.toLocal8Bit().constData())) ==
            package::Package::OpenStatus::Opened);
    cvexDynamicArrayTemplate<unsigned char> bytes;
    QVERIFY(pkg.Read(5, bytes));
    QCOMPARE(contents(shell.xmlViews.back().path),
             QByteArray(reinterpret_cast<char *>(bytes.data), bytes.count));
  }

  void focusIntoSearchSpecSelectsAll() {
    auto w = ShownWindow();
    QLineEdit *spec = Control<QLineEdit>(*w, "txtSearchSpec");
    QLineEdit *filter = Control<QLineEdit>(*w, "txtFilter");
    spec->setText(QStringLiteral("DIAG-LAYER"));
    for (const bool byMouse : {false, true}) {
      filter->setFocus(Qt::OtherFocusReason);
      spec->deselect();
      if (byMouse)
        QTest::mouseClick(spec, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
      else
        spec->setFocus(Qt::TabFocusReason);
      QTRY_COMPARE(spec->selectedText(), QStringLiteral("DIAG-LAYER"));
    }
    // Typing now replaces the whole text.
    QTest::keyClicks(spec, QStringLiteral("X"));
    QCOMPARE(spec->text(), QStringLiteral("X"));
  }

  void clicksMoveBetweenTheTrees() {
    auto w = ShownWindow();
    Browse(*w, kSmallFile);
    Control<QLineEdit>(*w, "txtFilter")
        ->setText(QStringLiteral("cp_doiplogicaltesteraddress"));
    QTest::mouseClick(Control<QPushButton>(*w, "cmdSearch"), Qt::LeftButton);
    QTreeView *results = Control<QTreeView>(*w, "treeResults");
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    QVERIFY(w->ResultsStore().GetCount() >= 1);

    const QModelIndex hit = w->ResultsModel().index(0, 0);
    QTest::mouseClick(results->viewport(), Qt::LeftButton, Qt::NoModifier,
                      TextPoint(*results, hit));
    const QModelIndex target = items->currentIndex();
    QVERIFY(target.isValid());
    QCOMPARE(target.data().toString(), hit.data().toString());
    QVERIFY(items->selectionModel()->isSelected(target));
    QVERIFY(items->isExpanded(target.parent()));
    QTRY_VERIFY(items->hasFocus());

    // A click on the outline node picks its element name.
    items->scrollTo(target);
    QTest::mouseClick(items->viewport(), Qt::LeftButton, Qt::NoModifier,
                      TextPoint(*items, target));
    const QString label = target.data().toString();
    QCOMPARE(Control<QLineEdit>(*w, "txtSearchSpec")->text(),
             label.left(label.indexOf(' ')));
  }

  void resultClickAfterARebuildDoesNothingHarmful() {
    auto w = ShownWindow();
    Browse(*w, kSmallFile);
    Search(*w, QStringLiteral("short-name"));
    Control<QTreeView>(*w, "treeResults")
        ->setCurrentIndex(w->ResultsModel().index(3, 0));
    Browse(*w, kOtherFile);
    // The old hits went with the outline they pointed into.
    QCOMPARE(w->ResultsStore().GetCount(), 0u);
    QTreeView *items = Control<QTreeView>(*w, "treeItems");
    items->setCurrentIndex(QModelIndex());
    w->treeResultsClick();
    QVERIFY(!items->currentIndex().isValid());
  }

  // Thrown from a click and a key: the exception is shown and the next
  // event is handled as usual.
  void exceptionFromAHandlerIsShownAndTheProgramGoesOn() {
    auto w = ShownWindow();
    chooser.failWith = "chooser broke";
    QTest::mouseClick(Control<QPushButton>(*w, "cmdBrowse"), Qt::LeftButton);
    QCOMPARE(exceptions, QStringList{"chooser broke"});
    chooser.failWith = nullptr;

    messages.failWith = "box broke";
    QLineEdit *spec = Control<QLineEdit>(*w, "txtSearchSpec");
    QTest::keyClick(spec, Qt::Key_Return);
    QCOMPARE(exceptions, (QStringList{"chooser broke", "box broke"}));
    QVERIFY(messages.shown.empty());
    QVERIFY(QApplication::overrideCursor() == nullptr);

    messages.failWith = nullptr;
    QTest::keyClick(spec, Qt::Key_Return);
    QCOMPARE(messages.shown.size(), 1);
    Browse(*w, kSmallFile);
    QVERIFY(w->ItemsStore().GetCount() > 0);
    QCOMPARE(exceptions.size(), 2);
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
    QCOMPARE(exceptions, (QStringList{"event broke", QString()}));
  }

  void exceptionFromTheStartupBuildIsShown() {
    Store(QString());
    messages.failWith = "build broke";
    auto w = ShownWindow();
    QTRY_COMPARE(exceptions, QStringList{"build broke"});
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(!Control<QProgressBar>(*w, "progComplete")->isVisible());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    messages.failWith = nullptr;
    Browse(*w, kSmallFile);
    QVERIFY(w->ItemsStore().GetCount() > 0);
  }

  void imagesTreesAndTabOrder() {
    auto w = ShownWindow();
    QCOMPARE(w->ImageList1().size(), 3);
    for (const QIcon &icon : w->ImageList1())
      QVERIFY(!icon.pixmap(16, 16).toImage().isNull());
    QVERIFY(!Control<QLabel>(*w, "TntImage1")->pixmap().isNull());
    QVERIFY(!Control<QPushButton>(*w, "TntButton1")->isVisible());
    for (const char *name : {"treeItems", "treeResults"}) {
      QTreeView *tree = Control<QTreeView>(*w, name);
      QVERIFY(tree->uniformRowHeights());
      // The selection stays visible while the focus is elsewhere.
      QCOMPARE(tree->palette().color(QPalette::Inactive, QPalette::Highlight),
               tree->palette().color(QPalette::Active, QPalette::Highlight));
    }
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

  // The form's controls fill 935 x 479; the menu bar adds above them, the
  // status line below.
  void geometryAtDesignSizeAndAfterResize() {
    auto w = ShownWindow();
    auto at = [&w](const char *name) {
      QWidget *c = Control<QWidget>(*w, name);
      return QRect(c->mapTo(w.get(), QPoint(0, 0)), c->size());
    };
    const int status = at("statusLine").height();
    const int menu = at("menuBar").height();
    QVERIFY(status > 0 && menu > 0);
    QCOMPARE(w->size(), QSize(935, menu + 479 + status));
    QCOMPARE(at("menuBar"), QRect(0, 0, 935, menu));
    QCOMPARE(at("statusLine"), QRect(0, menu + 479, 935, status));
    QCOMPARE(at("TntPanel2"), QRect(0, menu, 935, 57));
    QCOMPARE(at("txtODXFilePath"), QRect(56, menu + 6, 321, 24));
    QCOMPARE(at("cmdSearch"), QRect(384, menu + 32, 109, 22));
    QCOMPARE(at("txtFilter"), QRect(7, menu + 30, 370, 24));
    QCOMPARE(at("treeItems"), QRect(0, menu + 57, 577, 391));
    QCOMPARE(at("treeResults"), QRect(585, menu + 57, 350, 391));
    QCOMPARE(at("TntPanel1"), QRect(0, menu + 448, 935, 31));
    QCOMPARE(at("cmdViewInXML"), QRect(439, menu + 448 + 4, 157, 22));
    QCOMPARE(Control<QSplitter>(*w, "TntSplitter1")->handleWidth(), 8);

    w->resize(1200, menu + 640 + status);
    QTRY_COMPARE(at("TntPanel1"), QRect(0, menu + 640 - 31, 1200, 31));
    QCOMPARE(at("statusLine"), QRect(0, menu + 640, 1200, status));
    QCOMPARE(at("TntPanel2"), QRect(0, menu, 1200, 57));
    QCOMPARE(at("treeItems"), QRect(0, menu + 57, 577, 640 - 57 - 31));
    QCOMPARE(at("treeResults"),
             QRect(585, menu + 57, 1200 - 585, 640 - 57 - 31));
    QCOMPARE(at("txtSearchSpec"), QRect(8, menu + 640 - 31 + 2, 289, 24));
  }
};

int main(int argc, char *argv[]) {
  app::ViewerApplication app(argc, argv);
  MainWindowTests tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "MainWindowTests.moc"
