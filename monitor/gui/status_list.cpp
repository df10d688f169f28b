#include "monitor/gui/status_list.hpp"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QThread>

#include <utility>

namespace zelin::monitor {

namespace {

constexpr int kFirstColumnIndent = 2;
constexpr int kColumnIndent = 6;

QColor StateColour(ServerState state, const QPalette& palette) {
  if (state == kStateAnswered) return palette.color(QPalette::Text);
  if (state == kStateAddressConflict) return QColor(255, 0, 255);
  return QColor(255, 0, 0);
}

}  // namespace

StatusListView::StatusListView(std::function<ServerState(int row)> state_of_row, QWidget* parent)
    : QTreeWidget(parent), state_of_row_(std::move(state_of_row)) {
  setObjectName(QStringLiteral("StatusList"));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSortingEnabled(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAllColumnsShowFocus(true);
  header()->setSectionsClickable(false);
  header()->setSectionsMovable(false);
  header()->setStretchLastSection(false);
  setColumnCount(0);
  setHeaderLabels({});
  connect(this, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { emit rowActivated(indexOfTopLevelItem(item)); });
}

void StatusListView::ShowColumns(const std::vector<DisplayItem>& columns) {
  ++run_;
  clear();
  QStringList headers;
  for (DisplayItem item : columns) headers << QString::fromUtf8(kItemHeaders[item].data(),
                                                                 static_cast<int>(kItemHeaders[item].size()));
  setColumnCount(static_cast<int>(headers.size()));
  setHeaderLabels(headers);
  const QFontMetrics metrics(font());
  for (int c = 0; c < headers.size(); ++c)
    setColumnWidth(c, metrics.horizontalAdvance(headers[c]) + 15);
}

void StatusListView::AddRow() { addTopLevelItem(new QTreeWidgetItem()); }

void StatusListView::SetCell(size_t row, size_t column, const std::string& text) {
  const QString value = QString::fromStdString(text);
  const uint64_t run = run_.load();
  const auto write = [this, row, column, value, run] {
    if (run != run_.load()) return;  // made for rows that are gone
    if (QTreeWidgetItem* item = topLevelItem(static_cast<int>(row)))
      item->setText(static_cast<int>(column), value);
  };
  if (QThread::currentThread() == thread())
    write();
  else
    QMetaObject::invokeMethod(this, write, Qt::QueuedConnection);
}

void StatusListView::RedrawRows(size_t, size_t) {
  // Rows are drawn from the live states; a repaint of the visible rows is enough.
  QMetaObject::invokeMethod(viewport(), qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

int StatusListView::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? -1 : indexOfTopLevelItem(selected.front());
}

QString StatusListView::Hint() const {
  return topLevelItemCount() == 0 ? QString::fromUtf8(kEmptyListHint) : QString();
}

void StatusListView::paintEvent(QPaintEvent* event) {
  QTreeWidget::paintEvent(event);
  const QString hint = Hint();
  if (hint.isEmpty()) return;
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
  painter.drawText(viewport()->rect().adjusted(12, 12, -12, -12),
                   Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, hint);
}

void StatusListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  const int row = index.row();
  const bool selected = selectionModel()->isRowSelected(row, index.parent());
  const bool focused = hasFocus();
  const QPalette& pal = option.palette;
  QColor text_colour;
  if (selected && focused) {
    painter->fillRect(option.rect, pal.color(QPalette::Highlight));
    text_colour = pal.color(QPalette::HighlightedText);
  } else {
    painter->fillRect(option.rect, pal.color(QPalette::Base));
    text_colour = StateColour(state_of_row_ ? state_of_row_(row) : kStateAnswered, pal);
  }
  painter->save();
  painter->setPen(text_colour);
  const QFontMetrics metrics(font());
  const auto measure = [&metrics](std::string_view s) {
    return metrics.horizontalAdvance(QString::fromUtf8(s.data(), static_cast<int>(s.size())));
  };
  QTreeWidgetItem* item = topLevelItem(row);
  for (int c = 0; c < columnCount(); ++c) {
    const int indent = c == 0 ? kFirstColumnIndent : kColumnIndent;
    const QRect cell(columnViewportPosition(c) + indent, option.rect.top(),
                     columnWidth(c) - indent - 1, option.rect.height());
    if (cell.width() <= 0 || item == nullptr) continue;
    const std::string shown = ShortenToFit(item->text(c).toStdString(), cell.width(), measure);
    painter->drawText(cell, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(shown));
  }
  painter->restore();
  if (focused && currentIndex().row() == row) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = option.rect;
    focus.backgroundColor = selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, this);
  }
}

void StatusListView::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && SelectedRow() >= 0) {
    emit rowActivated(SelectedRow());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

}  // namespace zelin::monitor
