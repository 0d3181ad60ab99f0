#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "Comparing.h"
#include "WindowParts.h"
#include "app/BusyCursor.h"
#include "app/ViewerApplication.h"
#include "desktop/SettingsStore.h"
#include "outline/OutlineBuilder.h"
#include "outline/OutlineModel.h"
#include "outline/SubtreeExpander.h"
#include "platform/FileHandle.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QColor>
#include <QFileInfo>
#include <QHelpEvent>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QToolTip>

#include <array>

// Comparing the open outline (NEW) with another version (OLD): File ▸
// Compare With... builds the other outline and matches the two; the outline
// draws what changed after the labels, the hit list becomes the list of
// changes (F3 steps through it), Expand Changes opens the branches that
// hold them, Copy Changes copies them as `odx-outline --diff` prints them.
// Esc or File ▸ Stop Comparing ends it; opening another file does too.

namespace {

using compare::ChangeKind;
using compare::ChangeMarks;
using outline::kNoNode;
using outline::NodeHandle;

constexpr auto kIgnoreValue = u"ODXViewerCompareIgnore";
// Parts that change with every release and say nothing about the content.
constexpr auto kDefaultIgnore = u"ADMIN-DATA COMPANY-DATAS";
// Past this much text the copy says how many changes it left out: the
// clipboard is no place for a gigabyte.
constexpr std::size_t kCopyUnits = 64u << 20;
// Expanding more branches than this makes a tree no one can read.
constexpr uint32_t kExpandBranches = 100'000;
constexpr uint32_t kShownOldLabel = 200;

const QColor kAddedColour(0, 128, 0);
const QColor kChangedColour(190, 110, 0);
const QColor kRenamedColour(0, 90, 200);
const QColor kRemovedColour(170, 0, 0);

class BarProgress final : public outline::ProgressSink {
public:
  explicit BarProgress(QProgressBar &bar) : bar_(bar) {}
  ~BarProgress() override { bar_.setVisible(false); }
  void SetPosition(int percent) override { bar_.setValue(percent); }
  void SetVisible(bool visible) override { bar_.setVisible(visible); }

private:
  QProgressBar &bar_;
};

// Tool tips of the outline's rows: a changed node shows what it was.
class ToolTips final : public QObject {
public:
  ToolTips(QObject *owner, std::function<bool(QHelpEvent &)> show)
      : QObject(owner), show_(std::move(show)) {}

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::ToolTip &&
        show_(*static_cast<QHelpEvent *>(event)))
      return true;
    return QObject::eventFilter(watched, event);
  }

private:
  std::function<bool(QHelpEvent &)> show_;
};

QString FileNameOf(const QString &path) { return QFileInfo(path).fileName(); }

} // namespace

void TfrmODXViewer::SetUpComparison() {
  auto make = [this](const char *name, const QString &text, auto handler) {
    auto *action = new QAction(text, this);
    action->setObjectName(QLatin1String(name));
    connect(action, &QAction::triggered, this,
            [handler] { app::ViewerApplication::Guard(handler); });
    addAction(action);
    return action;
  };
  QAction *compareWith = make("actCompareWith", tr("&Compare With..."),
                              [this] { cmdCompareWithClick(); });
  compareWith->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  stopComparing_ = make("actStopComparing", tr("&Stop Comparing"),
                        [this] { StopComparing(); });
  stopComparing_->setShortcut(QKeySequence(Qt::Key_Escape));
  expandChanges_ = make("actExpandChanges", tr("&Expand Changes"),
                        [this] { ExpandChanges(); });
  copyChanges_ =
      make("actCopyChanges", tr("Copy C&hanges"), [this] { CopyChanges(); });
  QAction *ignored = make("actIgnoredTags", tr("&Ignored Tags..."),
                          [this] { EditIgnoredTags(); });
  for (QAction *a : {stopComparing_, expandChanges_, copyChanges_})
    a->setEnabled(false);

  QAction *quit = findChild<QAction *>(QStringLiteral("actQuit"));
  for (QAction *a : {compareWith, stopComparing_, ignored})
    fileMenu_->insertAction(quit, a);
  fileMenu_->insertSeparator(quit);
  if (QMenu *view = findChild<QMenu *>(QStringLiteral("menuView"))) {
    view->addSeparator();
    view->addAction(expandChanges_);
    view->addAction(copyChanges_);
  }
  ui->treeItems->addAction(expandChanges_);

  lblComparing_ = new QLabel(statusLine_);
  lblComparing_->setObjectName(QStringLiteral("lblComparing"));
  lblComparing_->setVisible(false);
  statusLine_->insertPermanentWidget(1, lblComparing_);

  // The marks come after what the names and references say.
  itemsModel_->SetAnnotationProvider([this](NodeHandle node, int role) {
    return AnnotateCompared(node, role);
  });
  resultsModel_->SetAnnotationProvider([this](NodeHandle hit, int role) {
    return AnnotateChangeHit(hit, role);
  });
  ui->treeItems->viewport()->installEventFilter(
      new ToolTips(this, [this](QHelpEvent &e) { return ShowOldLabel(e); }));
}

const app::Comparing *TfrmODXViewer::ActiveComparison() const {
  // Another outline opened since makes the comparison describe nothing.
  return comparing_ && comparing_->itemsGeneration == items_.Generation()
             ? comparing_.get()
             : nullptr;
}

void TfrmODXViewer::cmdCompareWithClick() {
  if (items_.GetCount() == 0) {
    statusLine_->showMessage(tr("Open the newer version first, then compare "
                                "it with the older one."));
    return;
  }
  const QFileInfo current(ui->txtODXFilePath->text());
  QString fileName;
  if (!services_.files->ChooseFileToOpen(
          this,
          QStringLiteral("All ODX files|*.odx;*.odx-d;*.odx-c;*.odx-cs;*.odx-v;"
                         "*.odx-f;*.odx-e;*.odx-m;*.odx-fd;*.pdx;*.xml"
                         "|All files (*)|*"),
          current.absolutePath(), 0, fileName))
    return;
  CompareWith(fileName);
}

std::vector<std::u16string> TfrmODXViewer::IgnoredTags() const {
  std::array<char16_t, 1024> stored{};
  int32_t length = 0;
  const QString text =
      services_.settings->ReadString(kIgnoreValue, stored, length)
          ? QString::fromUtf16(stored.data(), length)
          : QString::fromUtf16(kDefaultIgnore);
  std::vector<std::u16string> tags;
  for (const QString &tag : text.split(
           QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts))
    tags.push_back(tag.toStdU16String());
  return tags;
}

void TfrmODXViewer::EditIgnoredTags() {
  QString text;
  for (const std::u16string &tag : IgnoredTags())
    text += (text.isEmpty() ? QString() : QStringLiteral(" ")) +
            QString::fromStdU16String(tag);
  bool ok = false;
  text = QInputDialog::getText(
      this, tr("Ignored Tags"),
      tr("Elements with these tags are left out of comparisons:"),
      QLineEdit::Normal, text, &ok);
  if (ok)
    services_.settings->WriteString(kIgnoreValue, text.toStdU16String());
}

void TfrmODXViewer::CompareWith(const QString &oldPath) {
  StopComparing();
  auto c = std::make_unique<app::Comparing>();
  c->oldPath = oldPath;
  cvexString path;
  app::ToCvex(oldPath, path);
  app::BusyCursor busy;
  outline::BuildStatus built;
  {
    BarProgress progress(*ui->progComplete);
    built = outline::BuildOutline(path, c->olds, progress, busy);
  }
  if (built == outline::BuildStatus::CouldNotOpen ||
      built == outline::BuildStatus::TooLarge) {
    busy.SetBusy(false);
    services_.messages->ShowDetailedMessage(
        QStringLiteral("Could not open file."),
        QStringLiteral("Kestrane ODX Parser"), desktop::MessageIcon::None,
        oldPath + QLatin1Char('\n') +
            QString::fromUtf8(platform::DescribeOpenFailure(
                path.buffer, built == outline::BuildStatus::TooLarge)));
    return;
  }
  compare::Options options;
  options.ignoredTags = IgnoredTags();
  const std::u16string oldName = FileNameOf(oldPath).toStdU16String();
  const std::u16string newName =
      FileNameOf(ui->txtODXFilePath->text()).toStdU16String();
  c->diff = std::make_unique<compare::Comparison>(
      compare::Version{c->olds, c->oldIndex, oldName},
      compare::Version{items_, *odx_, newName}, std::move(options));
  c->diff->ForEachChange(
      [&c](const compare::Change &change) { c->changes.push_back(change); });
  c->counts = c->diff->Count();
  c->marks = ChangeMarks(items_, c->changes);
  c->itemsGeneration = items_.Generation();
  comparing_ = std::move(c);
  ListChanges();
  for (QAction *a : {stopComparing_, expandChanges_, copyChanges_})
    a->setEnabled(true);
  const compare::Counts &n = comparing_->counts;
  lblComparing_->setText(tr("%1 added, %2 removed, %3 changed, %4 renamed "
                            "against %5")
                             .arg(n.added)
                             .arg(n.removed)
                             .arg(n.changed)
                             .arg(n.renamed)
                             .arg(FileNameOf(oldPath)));
  lblComparing_->setVisible(true);
  ui->treeItems->viewport()->update();
}

// The hit list holds the changes, a row each: the NEW node for what is
// there, the OLD path for what was removed (leading to where it was).
void TfrmODXViewer::ListChanges() {
  const app::Comparing &c = *comparing_;
  {
    outline::StoreUpdate bracket(results_);
    results_.Clear();
    for (const compare::Change &change : c.changes) {
      if (change.kind != ChangeKind::Removed &&
          change.newNode < items_.GetCount()) {
        results_.AddBorrowed(kNoNode, items_, change.newNode,
                             items_.ImageIndex(change.newNode));
        continue;
      }
      const bool removed = change.kind == ChangeKind::Removed;
      const NodeHandle row = results_.AddChild(
          kNoNode, removed ? c.diff->Path(compare::Side::Old, change.oldNode)
                           : c.diff->Path(compare::Side::New, change.newNode));
      if (change.where < items_.GetCount())
        results_.SetData(row, items_.Ref(change.where));
    }
  }
  comparing_->resultsGeneration = results_.Generation();
}

void TfrmODXViewer::StopComparing() {
  if (!comparing_)
    return;
  if (results_.Generation() == comparing_->resultsGeneration)
    results_.Clear();
  comparing_.reset();
  for (QAction *a : {stopComparing_, expandChanges_, copyChanges_})
    a->setEnabled(false);
  lblComparing_->setVisible(false);
  ui->treeItems->viewport()->update();
}

QVariant TfrmODXViewer::AnnotateCompared(NodeHandle node, int role) const {
  const QVariant base = Annotate(node, role);
  const app::Comparing *c = ActiveComparison();
  const uint8_t mark = c ? c->marks.At(node) : 0;
  if (!mark)
    return base;
  if (role == outline::OutlineModel::AnnotationColorRole)
    return mark & ChangeMarks::kAdded     ? kAddedColour
           : mark & ChangeMarks::kChanged ? kChangedColour
           : mark & ChangeMarks::kRenamed ? kRenamedColour
                                          : QVariant();
  if (role != outline::OutlineModel::AnnotationRole)
    return base;
  QStringList says;
  if (mark & ChangeMarks::kAdded)
    says << tr("added");
  if (mark & ChangeMarks::kRenamed)
    says << tr("was %1").arg(
        QString::fromStdU16String(c->diff->OldName(c->diff->PartnerOf(node))));
  if (mark & ChangeMarks::kChanged)
    says << tr("changed");
  // A quiet mark for where changes lie below.
  if (says.isEmpty())
    says << QStringLiteral("\u2022");
  const QString text = base.toString();
  return text.isEmpty()
             ? says.join(QStringLiteral(", "))
             : text + QStringLiteral("  ") + says.join(QStringLiteral(", "));
}

QVariant TfrmODXViewer::AnnotateChangeHit(NodeHandle hit, int role) const {
  const app::Comparing *c = ActiveComparison();
  if (!c || results_.Generation() != c->resultsGeneration ||
      hit >= c->changes.size())
    return AnnotateHit(hit, role);
  const compare::Change &change = c->changes[hit];
  if (role == outline::OutlineModel::AnnotationColorRole) {
    switch (change.kind) {
    case ChangeKind::Added:
      return kAddedColour;
    case ChangeKind::Removed:
      return kRemovedColour;
    case ChangeKind::Changed:
      return kChangedColour;
    case ChangeKind::Renamed:
      return kRenamedColour;
    }
  }
  if (role != outline::OutlineModel::AnnotationRole)
    return QVariant();
  switch (change.kind) {
  case ChangeKind::Added:
    return tr("added");
  case ChangeKind::Removed:
    return tr("removed");
  case ChangeKind::Renamed:
    return tr("was %1").arg(
        QString::fromStdU16String(c->diff->OldName(change.oldNode)));
  case ChangeKind::Changed:
    break;
  }
  if (change.oldNode >= c->olds.GetCount())
    return tr("changed");
  return tr("changed from %1")
      .arg(c->olds.GetText(change.oldNode).Prefix(kShownOldLabel).toQString());
}

bool TfrmODXViewer::ShowOldLabel(QHelpEvent &event) {
  const app::Comparing *c = ActiveComparison();
  if (!c)
    return false;
  const NodeHandle node =
      itemsModel_->NodeFromIndex(ui->treeItems->indexAt(event.pos()));
  if (!(c->marks.At(node) & ChangeMarks::kChanged))
    return false;
  const NodeHandle old = c->diff->PartnerOf(node);
  if (old >= c->olds.GetCount())
    return false;
  QToolTip::showText(
      event.globalPos(),
      tr("was: %1").arg(c->olds.GetText(old)
                            .Prefix(outline::OutlineModel::kShownUnits)
                            .toQString()),
      ui->treeItems->viewport());
  return true;
}

void TfrmODXViewer::ExpandChanges() {
  const app::Comparing *c = ActiveComparison();
  if (!c)
    return;
  app::BusyCursor busy;
  busy.SetBusy(true);
  // Every branch that holds changes, in one relayout of the view.
  expansionView_->BeginSlice();
  uint32_t opened = 0;
  for (NodeHandle n = 0; n < items_.GetCount() && opened < kExpandBranches; ++n)
    if (c->marks.At(n) & ChangeMarks::kHolds) {
      expansionView_->SetExpanded(n, true);
      ++opened;
    }
  statusLine_->showMessage(
      opened == kExpandBranches
          ? tr("Expanded the first %1 branches that hold changes").arg(opened)
          : tr("Expanded %1 branches that hold changes").arg(opened),
      5000);
}

void TfrmODXViewer::CopyChanges() {
  const app::Comparing *c = ActiveComparison();
  if (!c)
    return;
  std::u16string text;
  std::size_t copied = 0;
  for (const compare::Change &change : c->changes) {
    if (text.size() > kCopyUnits)
      break;
    text += compare::ChangeLine(*c->diff, c->olds, items_, change);
    text += u'\n';
    ++copied;
  }
  if (copied < c->changes.size())
    text += tr("... %1 more changes: odx-outline --diff lists them all\n")
                .arg(c->changes.size() - copied)
                .toStdU16String();
  CopyText(QString::fromStdU16String(text));
}
