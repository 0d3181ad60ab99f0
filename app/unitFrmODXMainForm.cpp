#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "Comparing.h"
#include "WindowParts.h"
#include "app/BusyCursor.h"
#include "app/ProductInfo.h"
#include "app/ViewerApplication.h"
#include "desktop/Handoffs.h"
#include "desktop/SettingsStore.h"
#include "desktop/Shell.h"
#include "desktop/ViewCopies.h"
#include "desktop/cvexDir.h"
#include "odx/OdxIndex.h"
#include "odx/Services.h"
#include "outline/FilterSearch.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlineModel.h"
#include "outline/SubtreeExpander.h"
#include "package/Package.h"
#include "platform/FileHandle.h"
#include "platform/Folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <span>

// The window's own work: building it from the form description, wiring
// its events, and the handlers that answer them.  Its look, key routing and
// conveniences live in the files beside this one.

namespace {

using app::SelectedNode;
using app::ToCvex;
using outline::kNoNode;
using outline::NodeHandle;

constexpr auto kLastFileValue = u"ODXViewerLastFile";
// Entries as "Description|patterns": the first is the one the dialog opens
// with; the others reach the rest of the ODX family and everything.
constexpr auto kOpenFilter =
    "ODX Files(*.odx,*.xml)|*.odx;*.xml"
    "|All ODX files|*.odx;*.xml;*.odx-d;*.odx-c;*.odx-cs;*.odx-v;*.odx-f;"
    "*.odx-e;*.odx-m;*.odx-fd;*.pdx"
    "|PDX packages (*.pdx)|*.pdx"
    "|All files (*)|*";
constexpr int kAllOdxFilesEntry = 1;
// The read buffer of the last-file memory, terminator included.
constexpr int32_t kReadCapacity = 1024;

class ProgressBarSink final : public outline::ProgressSink {
public:
  explicit ProgressBarSink(QProgressBar &bar) : bar_(bar) {}
  ~ProgressBarSink() override { bar_.setVisible(false); }
  void SetPosition(int percent) override { bar_.setValue(percent); }
  void SetVisible(bool visible) override {
    bar_.setVisible(visible);
    if (visible)
      bar_.raise();
  }

private:
  QProgressBar &bar_;
};

} // namespace

TfrmODXViewer::TfrmODXViewer(app::WindowServices services, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TfrmODXViewer>()),
      services_(services) {
  ui->setupUi(this);
  setWindowTitle(QString::fromUtf8(app::kWindowTitle));

  if (!services_.messages) {
    ownMessages_ = std::make_unique<app::BoxMessageSink>(this);
    services_.messages = ownMessages_.get();
  }
  if (!services_.files) {
    ownFiles_ = std::make_unique<app::DialogFileChooser>();
    services_.files = ownFiles_.get();
  }
  if (!services_.shell) {
    ownShell_ = std::make_unique<desktop::DesktopShell>(
        QString::fromUtf8(app::kDesktopEntryId));
    services_.shell = ownShell_.get();
  }
  if (!services_.settings) {
    ownSettings_ = std::make_unique<desktop::UserSettingsStore>();
    services_.settings = ownSettings_.get();
  }
  // A viewer that ends at once has most likely shown nothing.
  services_.shell->SetFailureHandler(
      [this](const QString &program, const QString &why) {
        app::ViewerApplication::Guard([&] {
          services_.messages->ShowMessage(
              tr("%1 ended at once (%2): the file may not have been shown.")
                  .arg(program, why),
              QStringLiteral("Wren ODX"), desktop::MessageIcon::Information);
        });
      });
  copies_ = std::make_unique<desktop::ViewCopies>();
  copies_->RemoveLeftovers();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(100);
  Timer1->setSingleShot(true);

  itemsModel_ = std::make_unique<outline::OutlineModel>(items_);
  resultsModel_ = std::make_unique<outline::OutlineModel>(results_);
  SetUpHitList();
  SetUpLook();
  // A search may hit millions of nodes: the list shows a window of them.
  hitList_ = new app::HitListWindow(*ui->treeResults, *resultsModel_, results_,
                                    *hitListBar_);
  CreateStatusLine();
  FitMinimumSize();
  createActions();
  SetUpReferences();
  SetUpServices();
  CreateMenuBar();
  SetUpComparison();

  connect(Timer1, &QTimer::timeout, this,
          [this] { Run(&TfrmODXViewer::Timer1Timer); });
  connect(ui->cmdBrowse, &QPushButton::clicked, this,
          [this] { Run(&TfrmODXViewer::cmdBrowseClick); });
  connect(ui->TntButton1, &QPushButton::clicked, this,
          [this] { Run(&TfrmODXViewer::TntButton1Click); });
  connect(ui->txtODXFilePath, &QLineEdit::textChanged, this,
          [this] { Run(&TfrmODXViewer::txtODXFilePathChange); });
  connect(ui->cmdSearch, &QPushButton::clicked, this,
          [this] { Run(&TfrmODXViewer::cmdSearchClick); });
  connect(ui->cmdSearchSpec, &QPushButton::clicked, this,
          [this] { Run(&TfrmODXViewer::cmdSearchSpecClick); });
  connect(ui->cmdViewInXML, &QPushButton::clicked, this,
          [this] { Run(&TfrmODXViewer::cmdViewInXMLClick); });
  connect(ui->treeItems, &QTreeView::clicked, this,
          [this] { Run(&TfrmODXViewer::treeItemsClick); });
  connect(ui->treeResults, &QTreeView::clicked, this,
          [this] { Run(&TfrmODXViewer::treeResultsClick); });
  // Enter on a focused hit jumps like a click.
  connect(ui->treeResults, &QTreeView::activated, this,
          [this] { Run(&TfrmODXViewer::treeResultsClick); });
  connect(ui->treeItems->selectionModel(),
          &QItemSelectionModel::selectionChanged, this,
          [this] { Run(&TfrmODXViewer::OutlineSelectionMoved); });
  ui->txtFilter->installEventFilter(this);
  ui->txtSearchSpec->installEventFilter(this);
  ui->txtODXFilePath->installEventFilter(this);
  ui->treeItems->installEventFilter(this);
  ui->treeResults->installEventFilter(this);
  setAcceptDrops(true);
}

TfrmODXViewer::~TfrmODXViewer() {
  services_.shell->SetFailureHandler({});
  expander_.reset();
  // The views outlive the models otherwise (child widgets go last).
  ui->treeItems->setModel(nullptr);
  ui->treeResults->setModel(nullptr);
}

void TfrmODXViewer::Run(void (TfrmODXViewer::*handler)()) {
  app::ViewerApplication::Guard([this, handler] { (this->*handler)(); });
}

void TfrmODXViewer::SetStartupFile(const QString &path) { startupFile_ = path; }

void TfrmODXViewer::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (shownOnce_)
    return;
  shownOnce_ = true;
  const int statusHeight = statusLine_->sizeHint().height();
  const int menuHeight = layout()->menuBar()->sizeHint().height();
  resize(width(),
         height() - statusHeight_ + statusHeight - menuHeight_ + menuHeight);
  statusHeight_ = statusHeight;
  menuHeight_ = menuHeight;
  FitMinimumSize();
  if (const QScreen *s = screen())
    move(s->availableGeometry().center() - frameGeometry().center() + pos());
  if (startupFile_.isEmpty()) {
    Run(&TfrmODXViewer::FormShow);
  } else {
    // Taken as if picked, but built from the start-up timer as a remembered
    // file is: the window paints first, then shows the build's progress.
    ui->txtODXFilePath->setText(startupFile_);
    Timer1->start();
  }
}

bool TfrmODXViewer::ReadRegistryString(QStringView valueName,
                                       cvexString &text) {
  text.SetCapacity(kReadCapacity, false);
  int32_t length = 0;
  const bool read = services_.settings->ReadString(
      valueName,
      std::span<char16_t>(text.buffer, static_cast<std::size_t>(text.capacity)),
      length);
  // Only what the store handed over counts, and the text always ends.
  text.Terminate(read ? length : 0);
  return read;
}

bool TfrmODXViewer::WriteRegistryString(QStringView valueName,
                                        cvexString &text) {
  return services_.settings->WriteString(
      valueName, std::u16string_view(text.buffer,
                                     static_cast<std::size_t>(text.Length())));
}

void TfrmODXViewer::FormShow() {
  cvexString lastFile;
  if (!ReadRegistryString(kLastFileValue, lastFile))
    return;
  ui->txtODXFilePath->setText(lastFile.AsWide());
  Timer1->start();
}

void TfrmODXViewer::Timer1Timer() {
  // Stopped first: the build may show a message box, whose loop would let
  // the timer fire again.
  Timer1->stop();
  TntButton1Click();
}

void TfrmODXViewer::cmdBrowseClick() {
  QString fileName;
  // The dialog opens where the current file lies, showing every ODX file;
  // the first entry stays the plain .odx/.xml one.
  const QFileInfo current(ui->txtODXFilePath->text());
  const QString folder =
      current.absoluteDir().exists() ? current.absolutePath() : QString();
  if (!services_.files->ChooseFileToOpen(this, QString::fromLatin1(kOpenFilter),
                                         folder, kAllOdxFilesEntry, fileName))
    return;
  OpenPickedFile(fileName);
}

void TfrmODXViewer::OpenPickedFile(const QString &path) {
  ui->txtODXFilePath->setText(path);
  TntButton1Click();
}

void TfrmODXViewer::txtODXFilePathChange() {
  cvexString text;
  ToCvex(ui->txtODXFilePath->text(), text);
  WriteRegistryString(kLastFileValue, text);
}

void TfrmODXViewer::TntButton1Click() {
  // Hits of the old outline would lead into the new one: they go with it,
  // and so do a comparison of it and what the status line and the standard
  // search box said about it, also when this file cannot be opened.
  StopComparing();
  results_.Clear();
  statusLine_->clearMessage();
  ui->txtSearchSpec->clear();
  lblNotLoaded_->setVisible(false);

  cvexString path;
  ToCvex(ui->txtODXFilePath->text(), path);
  // The status line shows the outcome also when the build throws.  Only
  // the build is timed, not a message about it.
  struct StatusAfter {
    TfrmODXViewer &window;
    QElapsedTimer clock;
    qint64 took = -1;
    ~StatusAfter() {
      window.lastBuildMs_ = took < 0 ? clock.elapsed() : took;
      window.UpdateStatusLine();
    }
  } status{*this, {}};
  status.clock.start();
  outline::BuildStatus built;
  {
    ProgressBarSink progress(*ui->progComplete);
    app::BusyCursor busy;
    built = outline::BuildOutline(path, items_, progress, busy);
  }
  status.took = status.clock.elapsed();
  switch (built) {
  case outline::BuildStatus::Built:
    OfferFolder();
    break;
  case outline::BuildStatus::Empty:
    statusLine_->showMessage(
        tr("%1 is empty.").arg(ui->txtODXFilePath->text()));
    break;
  case outline::BuildStatus::CouldNotOpen:
  case outline::BuildStatus::TooLarge:
    // The message is the one users know; what went wrong, and with which
    // file, goes below it.
    services_.messages->ShowDetailedMessage(
        QStringLiteral("Could not open file."),
        QStringLiteral("Kestrane ODX Parser"), desktop::MessageIcon::None,
        ui->txtODXFilePath->text() + QLatin1Char('\n') +
            QString::fromUtf8(platform::DescribeOpenFailure(
                path.buffer, built == outline::BuildStatus::TooLarge)));
    break;
  }
}

void TfrmODXViewer::cmdSearchClick() {
  cvexString term;
  ToCvex(ui->txtFilter->text(), term);
  {
    app::BusyCursor busy;
    SearchHits(term, busy);
  }
  ShowSearchOutcome(ui->txtFilter->text());
}

void TfrmODXViewer::treeResultsClick() {
  const NodeHandle hit = SelectedNode(*ui->treeResults, *resultsModel_);
  const NodeHandle target = outline::ResultTarget(results_, hit, items_);
  if (target == kNoNode)
    return;
  ShowItem(target);
  SayWhy(hit);
}

void TfrmODXViewer::treeItemsClick() {
  const NodeHandle node = SelectedNode(*ui->treeItems, *itemsModel_);
  if (node == kNoNode)
    return;
  cvexString name;
  outline::PickElementName(items_.GetText(node), name);
  ui->txtSearchSpec->setText(name.AsWide());
}

void TfrmODXViewer::cmdSearchSpecClick() {
  cvexString appDir;
  cvexDir().GetApplicationDirectory(appDir);
  cvexString text;
  ToCvex(ui->txtSearchSpec->text(), text);
  desktop::SearchSpec(text, appDir, *services_.messages, *services_.shell,
                      this);
}

void TfrmODXViewer::cmdViewInXMLClick() {
  cvexString path;
  ToCvex(ui->txtODXFilePath->text(), path);
  cvexString appDir;
  cvexDir().GetApplicationDirectory(appDir);
  if (platform::IsFolder(path.buffer)) {
    ViewFolderFileInXml(ui->txtODXFilePath->text(), appDir);
    return;
  }
  if (!ViewPackageMemberInXml(path, appDir, kNoNode))
    desktop::ViewInXml(path, appDir, *services_.messages, *services_.shell,
                       this);
}

// In a folder, the file that holds the selected node, else the first one;
// in a package among them, its member as in a package opened alone.
void TfrmODXViewer::ViewFolderFileInXml(const QString &folder,
                                        const cvexString &appDir) {
  NodeHandle file = SelectedItem();
  while (file != kNoNode && items_.Parent(file) != kNoNode)
    file = items_.Parent(file);
  if (file == kNoNode)
    file = items_.Child(kNoNode, 0);
  if (file == kNoNode || !items_.IsMember(file)) {
    services_.messages->ShowMessage(tr("The folder holds no ODX file."),
                                    QStringLiteral("Wren ODX"),
                                    desktop::MessageIcon::Information);
    return;
  }
  QString name = items_.GetText(file).toQString();
  // An unreadable file is a leaf that says so after its name.
  const QString unreadable = QStringLiteral(" (unreadable)");
  if (items_.ImageIndex(file) == 0 && name.endsWith(unreadable)) {
    name.chop(unreadable.size());
    services_.messages->ShowMessage(tr("%1 cannot be read.").arg(name),
                                    QStringLiteral("Wren ODX"),
                                    desktop::MessageIcon::Information);
    return;
  }
  cvexString path;
  ToCvex(folder + QLatin1Char('/') + name, path);
  if (!ViewPackageMemberInXml(path, appDir, file))
    desktop::ViewInXml(path, appDir, *services_.messages, *services_.shell,
                       this);
}

bool TfrmODXViewer::ViewPackageMemberInXml(const cvexString &path,
                                           const cvexString &appDir,
                                           NodeHandle holder) {
  package::Package pkg;
  if (pkg.Open(path) != package::Package::OpenStatus::Opened)
    return false;
  // The member that holds the selected node, when the outline shows this
  // package (below `holder`: kNoNode for the top level); with nothing
  // selected, the first document that can be read.
  const std::vector<package::Member> &members = pkg.Members();
  std::size_t member = members.size();
  NodeHandle top = SelectedItem();
  while (top != kNoNode && items_.Parent(top) != holder)
    top = items_.Parent(top);
  if (items_.IsPackage() && top != kNoNode && items_.IsMember(top) &&
      items_.ChildCount(holder) == members.size())
    member = items_.Row(top);
  for (std::size_t i = 0; i < members.size() && member == members.size(); ++i)
    if (members[i].kind == package::MemberKind::Document && members[i].readable)
      member = i;
  if (member == members.size()) {
    services_.messages->ShowMessage(
        QStringLiteral("The package holds no ODX document that can be read."),
        QStringLiteral("Wren ODX"), desktop::MessageIcon::Information);
    return true;
  }
  const package::Member &chosen = members[member];
  const QString name = QString::fromStdU16String(chosen.name);
  cvexDynamicArrayTemplate<unsigned char> bytes;
  if (!chosen.readable || !pkg.Read(member, bytes)) {
    services_.messages->ShowMessage(
        tr("%1 cannot be read from the package.").arg(name),
        QStringLiteral("Wren ODX"), desktop::MessageIcon::Information);
    return true;
  }
  // One private copy per member of this package for the session.
  const QString key = QString::fromUtf16(path.buffer, path.Length()) +
                      QLatin1Char('\n') + QString::number(member);
  const std::span<const unsigned char> content(
      bytes.data, static_cast<std::size_t>(bytes.count));
  if (chosen.kind == package::MemberKind::Document)
    desktop::ViewBytesInXml(content, name, key, appDir, *copies_,
                            *services_.messages, *services_.shell, this);
  else
    desktop::ViewBytes(content, name, key, *copies_, *services_.messages,
                       *services_.shell, this);
  return true;
}

void TfrmODXViewer::txtFilterKeyDown(int &key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter)
    cmdSearchClick();
}

void TfrmODXViewer::txtFilterKeyPress(QChar &key) {
  if (key == QLatin1Char('\r'))
    key = QChar();
}

void TfrmODXViewer::txtSearchSpecKeyDown(int &key, Qt::KeyboardModifiers) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter)
    cmdSearchSpecClick();
}

void TfrmODXViewer::txtSearchSpecKeyPress(QChar &key) {
  if (key == QLatin1Char('\r'))
    key = QChar();
}

void TfrmODXViewer::txtSearchSpecEnter() {
  // Deferred: a mouse click that brought the focus would otherwise put the
  // cursor down and undo the selection right after.
  QTimer::singleShot(0, ui->txtSearchSpec, &QLineEdit::selectAll);
}
