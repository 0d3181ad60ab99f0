#include "app/unitFrmODXMainForm.h"
#include "ui_unitFrmODXMainForm.h"

#include "WindowParts.h"
#include "outline/OutlineModel.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QToolTip>

// How the window looks: pictures, fonts, panel colours and how a row of
// either tree is drawn.

// The pictures live in this static library: its resource object is linked
// only when someone names it.
static void InitViewerResources() { Q_INIT_RESOURCE(viewer); }

namespace {

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
// row shows them as visible marks so that every row keeps one line's height
// and no gap hides what is there.  After the label comes its annotation (a
// name, where a reference leads), dimmed, or red when it reports a fault;
// the label itself is untouched.  Tool tips show the label as it is.
class SingleLineDelegate final : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QString displayText(const QVariant &value, const QLocale &) const override {
    return app::VisibleControls(value.toString());
  }

  bool helpEvent(QHelpEvent *event, QAbstractItemView *view,
                 const QStyleOptionViewItem &option,
                 const QModelIndex &index) override {
    if (!event || !view || event->type() != QEvent::ToolTip)
      return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString tip = index.data(Qt::ToolTipRole).toString();
    if (tip.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(event->globalPos(), app::PlainToolTip(tip), view,
                         option.rect);
    return true;
  }

  void paint(QPainter *painter, const QStyleOptionViewItem &option,
             const QModelIndex &index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const QString note =
        index.data(outline::OutlineModel::AnnotationRole).toString();
    if (note.isEmpty())
      return;
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const QRect textRect =
        style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    // Where the label's text ends, by the same font the row is drawn in.
    const int gap = opt.fontMetrics.horizontalAdvance(QLatin1Char(' ')) * 2;
    const int left =
        textRect.left() + 3 + opt.fontMetrics.horizontalAdvance(opt.text) + gap;
    if (left >= opt.rect.right())
      return;
    const bool alert =
        index.data(outline::OutlineModel::AnnotationAlertRole).toBool();
    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    QColor colour = alert
                        ? QColor(200, 0, 0)
                        : opt.palette.color(QPalette::Disabled, QPalette::Text);
    const QVariant own = index.data(outline::OutlineModel::AnnotationColorRole);
    if (!alert && own.canConvert<QColor>())
      colour = own.value<QColor>();
    if (selected && !alert)
      colour = opt.palette.color(QPalette::HighlightedText);
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(colour);
    painter->drawText(
        QRect(left, opt.rect.top(), opt.rect.right() - left, opt.rect.height()),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, note);
    painter->restore();
  }
};

// Designed for Tahoma; with a wider fallback font a label grows to the
// right rather than cutting its text.
void FitLabelWidth(QLabel &label) {
  const int needed = label.sizeHint().width();
  if (needed > label.width())
    label.resize(needed, label.height());
}

} // namespace

namespace app {

QString PlainToolTip(const QString &text) {
  // A run this long without a place to break would make one wide line.
  constexpr int kLongestRun = 60;
  QString tip = QStringLiteral("<p style=\"white-space:pre-wrap\">");
  tip.reserve(text.size() * 11 / 10 + 40);
  int run = 0;
  for (const QChar c : text) {
    run = c.isSpace() ? 0 : run + 1;
    if (run > kLongestRun) {
      tip += QChar(0x200B); // zero width space: a line may break here
      run = 1;
    }
    if (c == u'<')
      tip += QLatin1String("&lt;");
    else if (c == u'>')
      tip += QLatin1String("&gt;");
    else if (c == u'&')
      tip += QLatin1String("&amp;");
    else
      tip += c;
  }
  tip += QLatin1String("</p>");
  return tip;
}

QString VisibleControls(const QString &label) {
  QString shown;
  shown.reserve(label.size());
  for (qsizetype i = 0; i < label.size(); ++i) {
    const char16_t c = label[i].unicode();
    if (c == u'\r' || c == u'\n' || c == QChar::LineSeparator ||
        c == QChar::ParagraphSeparator) {
      shown += QChar(0x23CE);
      if (c == u'\r' && i + 1 < label.size() && label[i + 1] == u'\n')
        ++i;
    } else if (c == u'\t') {
      shown += QChar(0x2192);
    } else if (c < 0x20) {
      shown += QChar(0x2400 + c); // the control pictures block
    } else if (c == 0x7F) {
      shown += QChar(0x2421);
    } else {
      shown += QChar(c);
    }
  }
  return shown;
}

ColumnFitter::ColumnFitter(QTreeView &tree, const outline::OutlineStore &store)
    : QObject(&tree), tree_(tree), viewport_(tree.viewport()), store_(store) {
  tree_.header()->setStretchLastSection(false);
  tree_.header()->setSectionResizeMode(QHeaderView::Fixed);
  tree_.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  tree_.viewport()->installEventFilter(this);
  connect(tree_.model(), &QAbstractItemModel::modelReset, this,
          [this] { Fit(); });
  connect(tree_.model(), &QAbstractItemModel::rowsInserted, this,
          [this] { Fit(); });
}

void ColumnFitter::Fit() {
  // Upper-case letters dominate ODX labels; the advance of 'N' errs on the
  // wide side, so a label rather scrolls further than gets cut.
  // Room for a short annotation (a name, a target) after the longest label.
  const uint32_t units =
      std::min(store_.LongestLabel(), outline::OutlineModel::kShownUnits) + 40;
  const qint64 estimate =
      qint64(tree_.indentation()) * store_.DeepestNode() +
      tree_.iconSize().width() + 16 +
      qint64(units) * tree_.fontMetrics().horizontalAdvance(QLatin1Char('N'));
  const int width = int(std::min<qint64>(estimate, 1 << 20));
  tree_.setColumnWidth(0, std::max(width, tree_.viewport()->width()));
}

bool ColumnFitter::eventFilter(QObject *watched, QEvent *event) {
  // The type first: while the tree is being destroyed its viewport still
  // sends events, and the tree may no longer be asked for anything.
  if (event->type() == QEvent::Resize && watched == viewport_)
    Fit();
  return QObject::eventFilter(watched, event);
}

} // namespace app

void TfrmODXViewer::SetUpTree(QTreeView &tree, outline::OutlineModel &model) {
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
  new app::ColumnFitter(tree, &model == itemsModel_.get() ? items_ : results_);
  // The selection stays as visible as with the focus.
  QPalette palette = tree.palette();
  for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role,
                     palette.color(QPalette::Active, role));
  tree.setPalette(palette);
}

void TfrmODXViewer::SetUpLook() {
  InitViewerResources();
  // ImageList1: outline pictures by image index.
  images_ = {IconFromSvg(QStringLiteral(":/images/outline0.svg")),
             IconFromSvg(QStringLiteral(":/images/outline1.svg")),
             IconFromSvg(QStringLiteral(":/images/outline2.svg"))};
  SetUpTree(*ui->treeItems, *itemsModel_);
  SetUpTree(*ui->treeResults, *resultsModel_);

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

void TfrmODXViewer::FitMinimumSize() {
  // Narrow enough for a small screen, wide and tall enough that every
  // button of the two panels stays whole and the trees keep a few rows.
  int width = 0;
  for (QWidget *panel : {ui->TntPanel1, ui->TntPanel2})
    for (const QPushButton *button : panel->findChildren<QPushButton *>())
      if (!button->isHidden())
        width = std::max(width, button->geometry().right() + 1);
  const QMargins margins = layout()->contentsMargins();
  setMinimumSize(width + 8 + margins.left() + margins.right(),
                 ui->TntPanel1->height() + ui->TntPanel2->height() +
                     statusHeight_ + menuHeight_ + 120 + margins.top() +
                     margins.bottom());
}
