#include "viewer/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "filesys/cvexDir.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"
#include "viewer/BusyCursor.h"
#include "viewer/FilterSearch.h"
#include "viewer/Handoffs.h"
#include "viewer/OutlineBuilder.h"
#include "viewer/OutlineModel.h"
#include "viewer/OutlinePaths.h"
#include "viewer/SubtreeExpander.h"
#include "viewer/ViewerApplication.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QTimer>
#include <QUrl>

#include <span>

// The pictures live in this static library: its resource object is linked
// only when someone names it.
static void InitViewerResources() { Q_INIT_RESOURCE(viewer); }

namespace {

using viewer::kNoNode;
using viewer::NodeHandle;

constexpr auto kLastFileValue = u"ODXViewerLastFile";
// Entries as "Description|patterns": the first is the one the dialog opens
// with; the others reach the rest of the ODX family and everything.
constexpr auto kOpenFilter =
    "ODX Files(*.odx,*.xml)|*.odx;*.xml"
    "|All ODX files|*.odx;*.odx-d;*.odx-c;*.odx-cs;*.odx-v;*.odx-f;*.odx-e;"
    "*.odx-m;*.odx-fd"
    "|All files (*)|*";
// The read buffer of the last-file memory, terminator included.
constexpr int32_t kReadCapacity = 1024;

void ToCvex(const QString &text, cvexString &out) {
  out.AssignWide(reinterpret_cast<const char16_t *>(text.utf16()));
}

QPixmap RenderSvg(const QString &resource, QSize size, qreal scale) {
  QPixmap pixmap(size * scale);
  pixmap.setDevicePixelRatio(scale);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(resource);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

// Sharp at 1x and 2x, whatever icon engines the system has.
QIcon IconFromSvg(const QString &resource, QSize size = QSize(16, 16)) {
  QIcon icon;
  icon.addPixmap(RenderSvg(resource, size, 1.0));
  icon.addPixmap(RenderSvg(resource, size, 2.0));
  return icon;
}

// Tahoma where installed, else the platform's sans font.
QFont FormFont(int pixelSize, bool bold) {
  QFont font;
  QStringList families;
  if (QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
    families << QStringLiteral("Tahoma");
  families << QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  font.setFamilies(families);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

void MakeWhite(QWidget &panel) {
  QPalette palette = panel.palette();
  palette.setColor(QPalette::Window, Qt::white);
  panel.setPalette(palette);
  panel.setAutoFillBackground(true);
}

// Labels may hold line breaks and tabs (attribute text, descriptions); a
// row shows them as spaces so that every row keeps one line's height.
class SingleLineDelegate final : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

protected:
  void initStyleOption(QStyleOptionViewItem *option,
                       const QModelIndex &index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    // Qt has already turned '\n' into a line separator by now.
    for (QChar &c : option->text)
      if (c.unicode() < 0x20 || c == QChar::LineSeparator)
        c = QLatin1Char(' ');
  }
};

// Designed for Tahoma; with a wider fallback font a label grows to the
// right rather than cutting its text.
void FitLabelWidth(QLabel &label) {
  const int needed = label.sizeHint().width();
  if (needed > label.width())
    label.resize(needed, label.height());
}

class ProgressBarSink final : public viewer::ProgressSink {
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

NodeHandle SelectedNode(const QTreeView &tree, viewer::OutlineModel &model) {
  const QModelIndexList selected = tree.selectionModel()->selectedIndexes();
  if (selected.isEmpty())
    return kNoNode;
  return model.NodeFromIndex(selected.first());
}

// The first local file among dropped URLs; empty when there is none.
QString DroppedFile(const QMimeData *mime) {
  if (!mime || !mime->hasUrls())
    return QString();
  for (const QUrl &url : mime->urls()) {
    if (!url.isLocalFile())
      continue;
    QString path = url.toLocalFile();
    if (!path.isEmpty() && !QFileInfo(path).isDir())
      return path;
  }
  return QString();
}

// A deep outline makes a long path; the label shows its tail.
constexpr qsizetype kShownPathUnits = 2000;

} // namespace

TfrmODXViewer::TfrmODXViewer(viewer::WindowServices services, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::TfrmODXViewer>()),
      services_(services) {
  InitViewerResources();
  ui->setupUi(this);

  if (!services_.messages) {
    ownMessages_ = std::make_unique<viewer::BoxMessageSink>(this);
    services_.messages = ownMessages_.get();
  }
  if (!services_.files) {
    ownFiles_ = std::make_unique<viewer::DialogFileChooser>();
    services_.files = ownFiles_.get();
  }
  if (!services_.shell) {
    ownShell_ = std::make_unique<platform::DesktopShell>();
    services_.shell = ownShell_.get();
  }
  if (!services_.settings) {
    ownSettings_ = std::make_unique<platform::UserSettingsStore>();
    services_.settings = ownSettings_.get();
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(100);
  Timer1->setSingleShot(true);

  // ImageList1: outline pictures by image index.
  images_ = {IconFromSvg(QStringLiteral(":/images/outline0.svg")),
             IconFromSvg(QStringLiteral(":/images/outline1.svg")),
             IconFromSvg(QStringLiteral(":/images/outline2.svg"))};

  itemsModel_ = std::make_unique<viewer::OutlineModel>(items_);
  resultsModel_ = std::make_unique<viewer::OutlineModel>(results_);
  SetUpTree(*ui->treeItems, *itemsModel_);
  SetUpTree(*ui->treeResults, *resultsModel_);
  expander_ = std::make_unique<viewer::SubtreeExpander>(*ui->treeItems,
                                                        *itemsModel_, items_);
  SetUpLook();
  CreateStatusLine();
  createActions();

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
          [this] { UpdateStatusLine(); });
  ui->txtFilter->installEventFilter(this);
  ui->txtSearchSpec->installEventFilter(this);
  ui->txtODXFilePath->installEventFilter(this);
  ui->treeItems->installEventFilter(this);
  setAcceptDrops(true);
}

TfrmODXViewer::~TfrmODXViewer() {
  expander_.reset();
  // The views outlive the models otherwise (child widgets go last).
  ui->treeItems->setModel(nullptr);
  ui->treeResults->setModel(nullptr);
}

void TfrmODXViewer::SetUpTree(QTreeView &tree, viewer::OutlineModel &model) {
  // Both trees draw their node pictures from the window's one image list.
  model.SetIconProvider([this](int image) -> QVariant {
    if (image < 0 || image >= images_.size())
      return {};
    return images_[image];
  });
  tree.setModel(&model);
  tree.setItemDelegate(new SingleLineDelegate(&tree));
  tree.setIconSize(QSize(16, 16));
  tree.setUniformRowHeights(true);
  tree.setIndentation(19);
  tree.setHeaderHidden(true);
  tree.setSelectionMode(QAbstractItemView::SingleSelection);
  // The selection stays as visible as with the focus.
  QPalette palette = tree.palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role,
                     palette.color(QPalette::Active, role));
  tree.setPalette(palette);
}

void TfrmODXViewer::SetUpLook() {
  setFont(FormFont(13, false));
  ui->TntLabel3->setFont(FormFont(16, true));
  for (QLabel *label :
       {ui->TntLabel1, ui->TntLabel2, ui->TntLabel3, ui->TntLabel4})
    FitLabelWidth(*label);
  MakeWhite(*ui->TntPanel2);
  MakeWhite(*ui->TntPanel1);
  ui->TntImage1->setPixmap(RenderSvg(QStringLiteral(":/images/logo.svg"),
                                     QSize(32, 33), devicePixelRatioF()));
  ui->cmdBrowse->setIcon(IconFromSvg(QStringLiteral(":/images/browse.svg")));
  ui->cmdSearch->setIcon(IconFromSvg(QStringLiteral(":/images/search.svg")));
  ui->cmdSearchSpec->setIcon(IconFromSvg(QStringLiteral(":/images/pdf.svg")));
  ui->cmdViewInXML->setIcon(
      IconFromSvg(QStringLiteral(":/images/webpage.svg")));
  ui->progComplete->setVisible(false);
  ui->progComplete->raise();
  ui->TntButton1->setVisible(false);

  // treeItems keeps its width when the window grows; the splitter moves it.
  ui->TntSplitter1->setStretchFactor(0, 0);
  ui->TntSplitter1->setStretchFactor(1, 1);
  ui->TntSplitter1->setSizes({577, 350});
  ui->TntSplitter1->handle(1)->setCursor(Qt::SplitHCursor);
}

void TfrmODXViewer::Run(void (TfrmODXViewer::*handler)()) {
  viewer::ViewerApplication::Guard([this, handler] { (this->*handler)(); });
}

void TfrmODXViewer::SetStartupFile(const QString &path) { startupFile_ = path; }

void TfrmODXViewer::showEvent(QShowEvent *event) {
  QWidget::showEvent(event);
  if (shownOnce_)
    return;
  shownOnce_ = true;
  const int statusHeight = statusLine_->sizeHint().height();
  resize(width(), height() - statusHeight_ + statusHeight);
  statusHeight_ = statusHeight;
  if (const QScreen *s = screen())
    move(s->availableGeometry().center() - frameGeometry().center() + pos());
  if (startupFile_.isEmpty()) {
    Run(&TfrmODXViewer::FormShow);
  } else {
    // After the window is up, so the build shows its progress in it.
    QTimer::singleShot(0, this, [this] {
      viewer::ViewerApplication::Guard(
          [this] { OpenPickedFile(startupFile_); });
    });
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
  if (!services_.files->ChooseFileToOpen(this, QString::fromLatin1(kOpenFilter),
                                         fileName))
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
  // Hits of the old outline would lead into the new one: they go with it.
  results_.BeginUpdate();
  results_.Clear();
  results_.EndUpdate();

  cvexString path;
  ToCvex(ui->txtODXFilePath->text(), path);
  // The status line shows the outcome also when the build throws.
  struct StatusAfter {
    TfrmODXViewer &window;
    QElapsedTimer clock;
    ~StatusAfter() {
      window.lastBuildMs_ = clock.elapsed();
      window.UpdateStatusLine();
    }
  } status{*this, {}};
  status.clock.start();
  ProgressBarSink progress(*ui->progComplete);
  viewer::BusyCursor busy;
  viewer::BuildOutline(path, items_, progress, busy, *services_.messages);
}

void TfrmODXViewer::cmdSearchClick() {
  cvexString term;
  ToCvex(ui->txtFilter->text(), term);
  viewer::BusyCursor busy;
  viewer::FilterSearch(term, items_, results_, busy);
}

void TfrmODXViewer::treeResultsClick() {
  const NodeHandle hit = SelectedNode(*ui->treeResults, *resultsModel_);
  const NodeHandle target = viewer::ResultTarget(results_, hit, items_);
  if (target == kNoNode)
    return;
  const QModelIndex index = itemsModel_->IndexFromNode(target);
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
    ui->treeItems->expand(p);
  ui->treeItems->setCurrentIndex(index);
  ui->treeItems->scrollTo(index);
  ui->treeItems->setFocus();
}

void TfrmODXViewer::treeItemsClick() {
  const NodeHandle node = SelectedNode(*ui->treeItems, *itemsModel_);
  if (node == kNoNode)
    return;
  cvexString name;
  viewer::PickElementName(items_.GetText(node), name);
  ui->txtSearchSpec->setText(name.AsWide());
}

void TfrmODXViewer::cmdSearchSpecClick() {
  cvexString appDir;
  cvexDir().GetApplicationDirectory(appDir);
  cvexString text;
  ToCvex(ui->txtSearchSpec->text(), text);
  viewer::SearchSpec(text, appDir, *services_.messages, *services_.shell, this);
}

void TfrmODXViewer::cmdViewInXMLClick() {
  cvexString path;
  ToCvex(ui->txtODXFilePath->text(), path);
  cvexString appDir;
  cvexDir().GetApplicationDirectory(appDir);
  viewer::ViewInXml(path, appDir, *services_.messages, *services_.shell, this);
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

bool TfrmODXViewer::RouteKey(QObject *box, QKeyEvent &event) {
  // Qt delivers key down and the typed character as one event: the key
  // handler runs first, then the character handler decides whether the box
  // sees the event at all.  Enter types "\r", or nothing on some platforms.
  int key = event.key();
  const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
  QChar typed = enter ? QChar(u'\r')
                      : (event.text().isEmpty() ? QChar() : event.text()[0]);
  if (box == ui->txtFilter) {
    txtFilterKeyDown(key, event.modifiers());
    txtFilterKeyPress(typed);
  } else {
    txtSearchSpecKeyDown(key, event.modifiers());
    txtSearchSpecKeyPress(typed);
  }
  return enter && typed.isNull();
}

bool TfrmODXViewer::eventFilter(QObject *watched, QEvent *event) {
  switch (event->type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove:
  case QEvent::Drop:
    // A file dropped on an edit box opens like one dropped anywhere else,
    // instead of typing its URL into the box.
    if (TakeFileDrag(*event))
      return true;
    break;
  case QEvent::KeyPress:
    // Qt's own "expand everything below" blocks on a big outline.
    if (watched == ui->treeItems &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Asterisk) {
      viewer::ViewerApplication::Guard(
          [this] { expander_->ExpandBelow(SelectedItem()); });
      return true;
    }
    break;
  default:
    break;
  }
  if (watched == ui->txtFilter || watched == ui->txtSearchSpec) {
    if (event->type() == QEvent::KeyPress) {
      auto &key = *static_cast<QKeyEvent *>(event);
      // An Enter whose handler failed is still not typed into the box.
      bool eaten = key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
      viewer::ViewerApplication::Guard([&] { eaten = RouteKey(watched, key); });
      return eaten;
    }
    if (watched == ui->txtSearchSpec && event->type() == QEvent::FocusIn)
      Run(&TfrmODXViewer::txtSearchSpecEnter);
  }
  return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Conveniences: actions with standard shortcuts, context menus, the status
// line and dropped files.

void TfrmODXViewer::createActions() {
  auto make = [this](QWidget *owner, const char *name, const QString &text,
                     const char *iconName, auto handler) {
    auto *action = new QAction(text, owner);
    action->setObjectName(QLatin1String(name));
    if (iconName)
      action->setIcon(QIcon::fromTheme(QLatin1String(iconName)));
    connect(action, &QAction::triggered, this,
            [handler] { viewer::ViewerApplication::Guard(handler); });
    owner->addAction(action);
    return action;
  };
  QTreeView *items = ui->treeItems;
  QTreeView *results = ui->treeResults;

  // Window-wide.
  make(this, "actOpen", tr("&Open..."), "document-open", [this] {
    cmdBrowseClick();
  })->setShortcuts(QKeySequence::Open);
  make(this, "actFind", tr("&Find"), "edit-find", [this] {
    FocusFilter();
  })->setShortcuts(QKeySequence::Find);
  make(this, "actFindNext", tr("Find &Next"), "go-down", [this] {
    StepHit(+1);
  })->setShortcuts(QKeySequence::FindNext);
  make(this, "actFindPrevious", tr("Find &Previous"), "go-up", [this] {
    StepHit(-1);
  })->setShortcuts(QKeySequence::FindPrevious);

  // The trees: their context menus list their actions; the shortcuts count
  // only while the tree has the focus.
  QAction *copy = make(items, "actCopyItem", tr("&Copy"), "edit-copy", [this] {
    const NodeHandle node = SelectedItem();
    if (node != kNoNode)
      CopyText(items_.GetText(node).toQString());
  });
  copy->setShortcuts(QKeySequence::Copy);
  make(items, "actCopyItemPath", tr("Copy &Path"), nullptr, [this] {
    const NodeHandle node = SelectedItem();
    if (node != kNoNode)
      CopyText(viewer::ElementPath(items_, node));
  });
  make(items, "actExpandBelow", tr("&Expand All Below"), "list-add", [this] {
    expander_->ExpandBelow(SelectedItem());
  })->setShortcut(QKeySequence(Qt::Key_Asterisk));
  make(items, "actCollapseBelow", tr("C&ollapse All Below"), "list-remove",
       [this] { expander_->CollapseBelow(SelectedItem()); });

  QAction *copyHit =
      make(results, "actCopyHit", tr("&Copy"), "edit-copy", [this] {
        const NodeHandle hit = SelectedNode(*ui->treeResults, *resultsModel_);
        if (hit != kNoNode)
          CopyText(results_.GetText(hit).toQString());
      });
  copyHit->setShortcuts(QKeySequence::Copy);
  make(results, "actCopyHitPath", tr("Copy &Path"), nullptr, [this] {
    const NodeHandle target = SelectedHitTarget();
    if (target != kNoNode)
      CopyText(viewer::ElementPath(items_, target));
  });

  for (QTreeView *tree : {items, results}) {
    tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (QAction *action : tree->actions())
      action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  }

  expander_->SetFinishedHandler(
      [this](const viewer::SubtreeExpander::Outcome &outcome) {
        ShowExpanderOutcome(outcome);
      });
}

void TfrmODXViewer::CreateStatusLine() {
  statusLine_ = new QStatusBar(this);
  statusLine_->setObjectName(QStringLiteral("statusLine"));
  // The window frame resizes; a grip would only repeat it.
  statusLine_->setSizeGripEnabled(false);
  statusLine_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  lblNodePath_ = new QLabel(statusLine_);
  lblNodePath_->setObjectName(QStringLiteral("lblNodePath"));
  // A long path must not widen the window: the label takes what is left.
  lblNodePath_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lblNodePath_->setTextFormat(Qt::PlainText);
  lblNodeCount_ = new QLabel(statusLine_);
  lblNodeCount_->setObjectName(QStringLiteral("lblNodeCount"));
  lblBuildTime_ = new QLabel(statusLine_);
  lblBuildTime_->setObjectName(QStringLiteral("lblBuildTime"));
  statusLine_->addWidget(lblNodePath_, 1);
  statusLine_->addPermanentWidget(lblNodeCount_);
  statusLine_->addPermanentWidget(lblBuildTime_);
  ui->formLayout->addWidget(statusLine_);
  // The form's own controls keep their designed client area; the status
  // line adds below it.  Its height is settled again at the first show,
  // once it is styled for the screen.
  statusHeight_ = statusLine_->sizeHint().height();
  resize(width(), height() + statusHeight_);
  UpdateStatusLine();
}

void TfrmODXViewer::UpdateStatusLine() {
  const QString path = viewer::ElementPath(items_, SelectedItem());
  lblNodePath_->setText(path.size() > kShownPathUnits
                            ? QStringLiteral("\u2026") +
                                  path.right(kShownPathUnits)
                            : path);
  lblNodeCount_->setText(tr("%1 nodes").arg(items_.GetCount()));
  lblBuildTime_->setText(
      lastBuildMs_ < 0 ? QString() : tr("built in %1 ms").arg(lastBuildMs_));
}

void TfrmODXViewer::ShowExpanderOutcome(
    const viewer::SubtreeExpander::Outcome &outcome) {
  const bool expand = outcome.kind == viewer::SubtreeExpander::Kind::Expand;
  QString text = (expand ? tr("Expanded %1 nodes") : tr("Collapsed %1 nodes"))
                     .arg(outcome.nodes);
  if (outcome.cancelled)
    text += tr(" (stopped)");
  else if (outcome.capped)
    text += tr(" (stopped at %1 shown rows)").arg(expander_->MaxShownRows());
  statusLine_->showMessage(text, 5000);
}

NodeHandle TfrmODXViewer::SelectedItem() const {
  return SelectedNode(*ui->treeItems, *itemsModel_);
}

NodeHandle TfrmODXViewer::SelectedHitTarget() const {
  return viewer::ResultTarget(
      results_, SelectedNode(*ui->treeResults, *resultsModel_), items_);
}

void TfrmODXViewer::CopyText(const QString &text) {
  QGuiApplication::clipboard()->setText(text);
}

void TfrmODXViewer::FocusFilter() {
  ui->txtFilter->setFocus(Qt::ShortcutFocusReason);
  ui->txtFilter->selectAll();
}

void TfrmODXViewer::StepHit(int step) {
  const int count = resultsModel_->rowCount();
  if (count == 0)
    return;
  const QModelIndex current = ui->treeResults->currentIndex();
  int row = 0;
  if (!current.isValid())
    row = step > 0 ? 0 : count - 1;
  else
    row = ((current.row() + step) % count + count) % count;
  const QModelIndex hit = resultsModel_->index(row, 0);
  ui->treeResults->setCurrentIndex(hit);
  ui->treeResults->scrollTo(hit);
  treeResultsClick();
}

bool TfrmODXViewer::TakeFileDrag(QEvent &event) {
  switch (event.type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove: {
    auto &drag = static_cast<QDragMoveEvent &>(event);
    if (DroppedFile(drag.mimeData()).isEmpty())
      return false;
    drag.acceptProposedAction();
    return true;
  }
  case QEvent::Drop: {
    auto &drop = static_cast<QDropEvent &>(event);
    const QString path = DroppedFile(drop.mimeData());
    if (path.isEmpty())
      return false;
    drop.acceptProposedAction();
    viewer::ViewerApplication::Guard([this, &path] { OpenPickedFile(path); });
    return true;
  }
  default:
    return false;
  }
}

void TfrmODXViewer::dragEnterEvent(QDragEnterEvent *event) {
  if (!TakeFileDrag(*event))
    event->ignore();
}

void TfrmODXViewer::dragMoveEvent(QDragMoveEvent *event) {
  if (!TakeFileDrag(*event))
    event->ignore();
}

void TfrmODXViewer::dropEvent(QDropEvent *event) {
  if (!TakeFileDrag(*event))
    event->ignore();
}
