#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "WindowParts.h"
#include "app/ViewerApplication.h"
#include "odx/OdxIndex.h"
#include "odx/Services.h"
#include "outline/FilterSearch.h"
#include "outline/OutlineModel.h"

#include <QAction>
#include <QLabel>
#include <QStatusBar>

// Services in the window: the coded prefix of a service, a request or a
// response drawn after its label and shown for the selection; a search text
// that reads as bytes finds the services it starts, listed ahead of the
// text hits; "List Services" puts a layer's effective services in the hit
// list.  Service rows carry their own text and lead to the defining
// element.

namespace {

using outline::kNoNode;
using outline::NodeHandle;

QString PrefixString(std::span<const uint8_t> bytes) {
  return QString::fromLatin1(odx::PrefixText(bytes));
}

} // namespace

void TfrmODXViewer::SetUpServices() {
  odxServices_ = std::make_unique<odx::Services>(items_, *odx_);
  lblPrefix_ = new QLabel(statusLine_);
  lblPrefix_->setObjectName(QStringLiteral("lblPrefix"));
  // Before the node count: after the path, the first of the permanent ones.
  statusLine_->insertPermanentWidget(1, lblPrefix_);

  for (QTreeView *tree : {ui->treeItems, ui->treeResults}) {
    const bool hits = tree == ui->treeResults;
    auto *action = new QAction(tr("List &Services"), tree);
    action->setObjectName(
        QLatin1String(hits ? "actHitListServices" : "actListServices"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(action, &QAction::triggered, this, [this, hits] {
      app::ViewerApplication::Guard([this, hits] {
        ListServices(hits ? SelectedHitTarget() : SelectedItem());
      });
    });
    tree->insertAction(unresolved_, action);
    if (!hits)
      listServices_ = action;
  }
}

void TfrmODXViewer::AppendPrefixNote(NodeHandle node, QString &note) const {
  std::vector<uint8_t> prefix;
  if (!odxServices_->PrefixOf(node, prefix) || prefix.empty())
    return;
  if (!note.isEmpty())
    note += QStringLiteral("  ");
  note += PrefixString(prefix);
}

void TfrmODXViewer::ShowSelectionPrefix() {
  if (!lblPrefix_)
    return;
  QString prefix;
  const NodeHandle node = SelectedItem();
  if (node != kNoNode)
    AppendPrefixNote(node, prefix);
  lblPrefix_->setText(prefix);
}

bool TfrmODXViewer::IsServiceRow(NodeHandle hit) const {
  return results_.Generation() == serviceRowsGeneration_ && hit < serviceRows_;
}

// "22 F1 90  Read_VIN  (BASE-VARIANT Door)": its prefix, its name and the
// layer named.
NodeHandle TfrmODXViewer::AddServiceRow(NodeHandle service, NodeHandle layer) {
  std::vector<uint8_t> prefix;
  odxServices_->PrefixOf(service, prefix);
  QString text = PrefixString(prefix);
  if (!text.isEmpty())
    text += QStringLiteral("  ");
  text += DisplayName(service);
  if (layer != kNoNode) {
    cvexString element;
    outline::PickElementName(items_.GetText(layer), element);
    text += QStringLiteral("  (%1 %2)")
                .arg(element.AsWide(), odx_->Name(layer).toQString());
  }
  const NodeHandle row = results_.AddChild(kNoNode, text.toStdU16String());
  results_.SetImageIndex(row, items_.ImageIndex(service));
  results_.SetSelectedIndex(row, items_.SelectedIndex(service));
  results_.SetData(row, items_.Ref(service));
  return row;
}

void TfrmODXViewer::SearchHits(const cvexString &term,
                               outline::BusyIndicator &busy) {
  outline::StoreUpdate bracket(results_);
  results_.Clear();
  serviceRows_ = 0;
  serviceRowsGeneration_ = results_.Generation();
  const std::u16string_view text(term.buffer,
                                 static_cast<std::size_t>(term.Length()));
  if (const auto bytes = odx::ParseSearchBytes(text))
    for (const NodeHandle service : odxServices_->FindByBytes(*bytes)) {
      AddServiceRow(service, odxServices_->LayerOf(service));
      ++serviceRows_;
    }
  outline::AppendFilterHits(term, items_, results_, busy);
}

bool TfrmODXViewer::ShowServiceSearchOutcome(const QString &term) {
  if (!IsServiceRow(0))
    return false;
  const uint32_t hits = results_.GetCount() - serviceRows_;
  const QString services =
      serviceRows_ == 1 ? tr("1 service") : tr("%1 services").arg(serviceRows_);
  statusLine_->showMessage(
      hits == 1
          ? tr("%1 and 1 hit for \"%2\"").arg(services, term)
          : tr("%1 and %2 hits for \"%3\"").arg(services).arg(hits).arg(term));
  return true;
}

std::size_t
TfrmODXViewer::AddConflicts(std::vector<outline::NodeRef> &nodes) const {
  const auto conflicts = odxServices_->Conflicts();
  for (const odx::Services::Conflict &c : conflicts)
    nodes.push_back(items_.Ref(c.layer));
  return conflicts.size();
}

QVariant TfrmODXViewer::ConflictNote(NodeHandle row, int role) const {
  const auto conflicts = odxServices_->Conflicts();
  if (row >= conflicts.size())
    return {};
  if (role == outline::OutlineModel::AnnotationAlertRole)
    return false;
  return tr("inheritance conflict: ") + conflicts[row].reason;
}

void TfrmODXViewer::ListServices(NodeHandle node) {
  if (node == kNoNode)
    return;
  const NodeHandle layer = odxServices_->LayerOf(node);
  if (layer == kNoNode) {
    statusLine_->showMessage(
        tr("%1 lies in no diagnostic layer.").arg(DisplayName(node)));
    return;
  }
  const NodeHandle incomplete = odxServices_->Incomplete();
  if (incomplete != kNoNode && layer >= incomplete) {
    statusLine_->showMessage(
        tr("The services of %1 were not worked out: inheritance makes too "
           "many in all.")
            .arg(DisplayName(layer)));
    return;
  }
  {
    outline::StoreUpdate bracket(results_);
    results_.Clear();
    serviceRowsGeneration_ = results_.Generation();
    serviceRows_ = 0;
    for (const odx::Services::Offer &offer : odxServices_->Effective(layer)) {
      AddServiceRow(offer.service, offer.from);
      ++serviceRows_;
    }
  }
  statusLine_->showMessage(
      serviceRows_ == 1
          ? tr("1 service of %1").arg(DisplayName(layer))
          : tr("%1 services of %2").arg(serviceRows_).arg(DisplayName(layer)));
}
