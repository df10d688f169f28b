#include "portcheck/gui/server_pane.hpp"

#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "ui/artwork.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::portcheck {
namespace {

constexpr int kSecondLineRole = Qt::UserRole;
constexpr int kMarkSize = 32;

// Draws an item as the core places it: the mark, then the two lines.
class ServerItemDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QRect r = option.rect;
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    painter->save();
    painter->fillRect(r, selected ? option.palette.highlight() : option.palette.base());
    const int h = option.fontMetrics.height();
    const PaneItemPlaces at = PlacePaneItem(r.top(), h);
    const auto icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    icon.paint(painter, QRect(r.left() + at.mark_x, at.mark_y, kMarkSize, kMarkSize));
    painter->setPen(selected ? option.palette.highlightedText().color()
                             : option.palette.text().color());
    const int text_left = r.left() + at.text_x;
    const int text_width = std::max(0, r.right() - text_left);
    painter->drawText(QRect(text_left, at.first_line_y, text_width, h), Qt::AlignLeft | Qt::AlignVCenter,
                      index.data(Qt::DisplayRole).toString());
    painter->drawText(QRect(text_left, at.second_line_y, text_width, h),
                      Qt::AlignLeft | Qt::AlignVCenter, index.data(kSecondLineRole).toString());
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QFontMetrics& fm = option.fontMetrics;
    const int text = std::max(fm.horizontalAdvance(index.data(Qt::DisplayRole).toString()),
                              fm.horizontalAdvance(index.data(kSecondLineRole).toString()));
    return {kPaneTextLeft + text + 4, PaneItemHeight(fm.height())};
  }
};

}  // namespace

QIcon MarkIcon(ServerMark mark) {
  QColor colour(150, 150, 150);
  QString sign;
  switch (mark) {
    case ServerMark::kReachable: colour = QColor(0, 128, 0); break;
    case ServerMark::kOtherSerial: colour = QColor(200, 150, 0); sign = QStringLiteral("?"); break;
    case ServerMark::kTestPassed: colour = QColor(0, 128, 0); sign = QStringLiteral("OK"); break;
    case ServerMark::kTestFailed: colour = QColor(128, 0, 0); sign = QStringLiteral("X"); break;
    default: sign = QStringLiteral("-"); break;
  }
  QPixmap pm(kMarkSize, kMarkSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.drawPixmap(0, 0, ui::ServerIcon().pixmap(kMarkSize, kMarkSize));
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(colour);
  p.setPen(Qt::white);
  p.drawEllipse(QRectF(14, 14, 17, 17));
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(9);
  p.setFont(f);
  p.drawText(QRectF(14, 14, 17, 17), Qt::AlignCenter, sign);
  return QIcon(pm);
}

ServerPane::ServerPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ServerPane"));
  setMinimumWidth(kPaneMinWidth);
  setMouseTracking(true);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("ServerList"));
  list_->setItemDelegate(new ServerItemDelegate(list_));
  list_->setUniformItemSizes(true);
  list_->setMinimumWidth(0);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, kPaneEdgeWidth, 0);  // the drag edge
  layout->addWidget(list_);
}

void ServerPane::Show(const std::vector<MainWindowModel::ListItem>& items, bool highlight,
                      int current) {
  const QSignalBlocker block(list_);
  list_->clear();
  for (const auto& item : items) {
    auto* it = new QListWidgetItem(MarkIcon(item.mark), ui::ToQString(item.first), list_);
    it->setData(kSecondLineRole, ui::ToQString(item.second));
  }
  list_->setSelectionMode(highlight ? QAbstractItemView::SingleSelection
                                    : QAbstractItemView::NoSelection);
  if (highlight && current >= 0 && current < list_->count()) list_->setCurrentRow(current);
}

void ServerPane::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  // The edge: a raised strip the height of the pane.
  QPainter p(this);
  const QRect edge(width() - kPaneEdgeWidth, 0, kPaneEdgeWidth, height());
  p.fillRect(edge, palette().button());
  p.setPen(palette().light().color());
  p.drawLine(edge.topLeft(), edge.bottomLeft());
  p.setPen(palette().dark().color());
  p.drawLine(edge.topRight(), edge.bottomRight());
}

void ServerPane::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton &&
      drag_.Press(static_cast<int>(event->position().x()), width())) {
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void ServerPane::mouseMoveEvent(QMouseEvent* event) {
  const int x = static_cast<int>(event->position().x());
  if (const auto w = drag_.Move(x)) {
    emit widthDragged(*w);
    return;
  }
  setCursor(PaneEdgeDrag::OnEdge(x, width()) ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void ServerPane::mouseReleaseEvent(QMouseEvent* event) {
  drag_.Release();
  QWidget::mouseReleaseEvent(event);
}

}  // namespace zelin::portcheck
