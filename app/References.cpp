#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "WindowParts.h"
#include "app/ViewerApplication.h"
#include "desktop/SettingsStore.h"
#include "odx/OdxIndex.h"
#include "outline/FilterSearch.h"
#include "outline/OutlineModel.h"
#include "outline/OutlinePaths.h"

#include <QAction>
#include <QMouseEvent>
#include <QStatusBar>
#include <QStringList>

#include <array>

// What makes the outline ODX in the window: the names of containers and
// where references lead, drawn after the labels; Go to Definition, with Back
// and Forward over the selections visited by jumps; Find Usages and the
// unresolved references, listed in the hit list.  The index behind them is
// built on the first request and describes one outline: every answer is
// checked against the outline shown now.

namespace {

using outline::kNoNode;
using outline::NodeHandle;
using outline::NodeRef;

constexpr auto kShowNamesValue = u"ODXViewerShowNames";

} // namespace

void TfrmODXViewer::SetUpReferences() {
  odx_ = std::make_unique<odx::OdxIndex>(items_);
  // On unless the user switched it off.
  std::array<char16_t, 8> stored{};
  int32_t length = 0;
  const bool read =
      services_.settings->ReadString(kShowNamesValue, stored, length);
  showNames_->setChecked(!(read && length == 1 && stored[0] == u'0'));
  itemsModel_->SetAnnotationProvider(
      [this](NodeHandle node, int role) { return Annotate(node, role); });
  resultsModel_->SetAnnotationProvider(
      [this](NodeHandle hit, int role) { return AnnotateHit(hit, role); });
  for (QTreeView *tree : {ui->treeItems, ui->treeResults})
    tree->viewport()->installEventFilter(this);
}

// Per row, as it is drawn: a few lookups in the index, no scan.
QVariant TfrmODXViewer::Annotate(NodeHandle node, int role) const {
  if (!showNames_->isChecked() || node >= items_.GetCount())
    return {};
  const odx::OdxIndex::Reference *reference = odx_->FindReference(node);
  if (role == outline::OutlineModel::AnnotationAlertRole)
    return reference && reference->target == kNoNode;
  QString text = odx_->Name(node).toQString();
  if (reference) {
    if (!text.isEmpty())
      text += QLatin1Char(' ');
    text += reference->target == kNoNode
                ? tr("unresolved")
                : QStringLiteral("\u2192 ") + DisplayName(reference->target);
    if (reference->ambiguous)
      text += tr(" (1 of %1)").arg(reference->candidates);
  }
  AppendPrefixNote(node, text);
  return text;
}

// A hit says what its node says; in the list of problems, what is wrong.
QVariant TfrmODXViewer::AnnotateHit(NodeHandle hit, int role) const {
  // A service row says all in its own text.
  if (IsServiceRow(hit))
    return {};
  if (results_.Generation() != problemsGeneration_ || hit >= problems_.size()) {
    const QVariant conflict =
        results_.Generation() == problemsGeneration_
            ? ConflictNote(hit - static_cast<NodeHandle>(problems_.size()),
                           role)
            : QVariant();
    return conflict.isValid()
               ? conflict
               : Annotate(outline::ResultTarget(results_, hit, items_), role);
  }
  // Why is the point of this list: shown whatever Show Names says.
  const odx::OdxIndex::Problem &problem = problems_[hit];
  using Kind = odx::OdxIndex::ProblemKind;
  if (role == outline::OutlineModel::AnnotationAlertRole)
    return problem.kind == Kind::Unresolved;
  const QString kind = problem.kind == Kind::Unresolved  ? tr("unresolved")
                       : problem.kind == Kind::Ambiguous ? tr("ambiguous")
                                                         : tr("duplicate ID");
  return kind + QStringLiteral(": ") + odx_->Reason(problem);
}

// A node as a user knows it: its name, else its element name.
QString TfrmODXViewer::DisplayName(NodeHandle node) const {
  const QString name = odx_->Name(node).toQString();
  return name.isEmpty() ? outline::ElementName(items_, node) : name;
}

void TfrmODXViewer::ShowNames(bool on) {
  const std::u16string_view value = on ? u"1" : u"0";
  services_.settings->WriteString(kShowNamesValue, value);
  ui->treeItems->viewport()->update();
  ui->treeResults->viewport()->update();
}

void TfrmODXViewer::ShowItem(NodeHandle node) {
  const QModelIndex index = itemsModel_->IndexFromNode(node);
  for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
    ui->treeItems->expand(p);
  ui->treeItems->setCurrentIndex(index);
  ui->treeItems->scrollTo(index);
  RevealLabel(*ui->treeItems, index);
  ui->treeItems->setFocus();
}

void TfrmODXViewer::GoToDefinition(NodeHandle reference) {
  if (reference == kNoNode)
    return;
  const NodeRef target = odx_->Definition(items_.Ref(reference));
  if (!items_.IsLive(target)) {
    const odx::OdxIndex::Reference *r = odx_->FindReference(reference);
    statusLine_->showMessage(
        r ? tr("The reference leads nowhere: %1.").arg(odx_->Reason(*r))
          : tr("%1 is no reference.").arg(DisplayName(reference)));
    return;
  }
  // The history keeps where the jump started and where it led; a jump
  // after steps back forgets the steps ahead.
  const NodeRef from = items_.Ref(SelectedItem());
  if (historyAt_ + 1 < history_.size())
    history_.resize(historyAt_ + 1);
  if (!items_.IsLive(from))
    history_.clear();
  else if (history_.empty() || history_.back() != from)
    history_.push_back(from);
  history_.push_back(target);
  historyAt_ = history_.size() - 1;
  ShowItem(target.handle);
}

void TfrmODXViewer::StepHistory(int step) {
  // Selections of an earlier outline lead nowhere in this one.
  if (!history_.empty() && !items_.IsLive(history_.front())) {
    history_.clear();
    historyAt_ = 0;
  }
  const std::size_t next = historyAt_ + static_cast<std::size_t>(step);
  if (history_.empty() || next >= history_.size())
    return;
  historyAt_ = next;
  ShowItem(history_[historyAt_].handle);
}

void TfrmODXViewer::ListInHits(const std::vector<NodeRef> &nodes) {
  outline::StoreUpdate bracket(results_);
  results_.Clear();
  for (const NodeRef &ref : nodes)
    if (items_.IsLive(ref))
      results_.AddBorrowed(kNoNode, items_, ref.handle,
                           items_.ImageIndex(ref.handle));
}

void TfrmODXViewer::FindUsages(NodeHandle target) {
  if (target == kNoNode)
    return;
  // Elements are referred to by ID, or by name.
  if (!odx_->IsTarget(target) && odx_->Name(target).length == 0) {
    statusLine_->showMessage(
        tr("%1 has no ID and no name: nothing refers to it.")
            .arg(DisplayName(target)));
    return;
  }
  ListInHits(odx_->Usages(items_.Ref(target)));
  const uint32_t found = results_.GetCount();
  statusLine_->showMessage(
      found == 1 ? tr("1 usage of %1").arg(DisplayName(target))
                 : tr("%1 usages of %2").arg(found).arg(DisplayName(target)));
}

void TfrmODXViewer::SayWhy(NodeHandle hit) {
  if (results_.Generation() == problemsGeneration_ && hit < problems_.size())
    statusLine_->showMessage(
        AnnotateHit(hit, outline::OutlineModel::AnnotationRole).toString());
}

// Every problem, grouped by kind; each hit says why.
void TfrmODXViewer::ListProblems() {
  std::vector<odx::OdxIndex::Problem> problems = odx_->Problems();
  std::vector<NodeRef> nodes;
  nodes.reserve(problems.size());
  std::array<uint32_t, 3> counts{};
  for (const odx::OdxIndex::Problem &p : problems) {
    nodes.push_back(items_.Ref(p.node));
    ++counts[static_cast<std::size_t>(p.kind)];
  }
  const std::size_t conflicts = AddConflicts(nodes);
  ListInHits(nodes);
  problems_ = std::move(problems);
  problemsGeneration_ = results_.Generation();
  QStringList parts;
  if (counts[0])
    parts << (counts[0] == 1 ? tr("1 unresolved reference")
                             : tr("%1 unresolved references").arg(counts[0]));
  if (counts[1])
    parts << (counts[1] == 1 ? tr("1 ambiguous reference")
                             : tr("%1 ambiguous references").arg(counts[1]));
  if (counts[2])
    parts << (counts[2] == 1 ? tr("1 duplicate ID")
                             : tr("%1 duplicate IDs").arg(counts[2]));
  if (conflicts)
    parts << (conflicts == 1 ? tr("1 inheritance conflict")
                             : tr("%1 inheritance conflicts").arg(conflicts));
  statusLine_->showMessage(parts.isEmpty() ? tr("No problems")
                                           : parts.join(QStringLiteral(", ")));
}

bool TfrmODXViewer::ReferenceMouse(QObject *watched, QEvent &event) {
  if (event.type() != QEvent::MouseButtonPress)
    return false;
  const auto &mouse = static_cast<QMouseEvent &>(event);
  if (mouse.button() == Qt::BackButton || mouse.button() == Qt::ForwardButton) {
    app::ViewerApplication::Guard(
        [&] { StepHistory(mouse.button() == Qt::BackButton ? -1 : +1); });
    return true;
  }
  if (watched != ui->treeItems->viewport() ||
      mouse.button() != Qt::LeftButton ||
      !mouse.modifiers().testFlag(Qt::ControlModifier))
    return false;
  const NodeHandle node = itemsModel_->NodeFromIndex(
      ui->treeItems->indexAt(mouse.position().toPoint()));
  if (node == kNoNode || !odx_->FindReference(node))
    return false;
  app::ViewerApplication::Guard([&] { GoToDefinition(node); });
  return true;
}
