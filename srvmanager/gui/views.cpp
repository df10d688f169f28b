#include "srvmanager/gui/views.hpp"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

#include "srvmanager/gui/icons.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {
namespace {
constexpr int kItemRole = Qt::UserRole + 1;
constexpr int kColumnPadding = 15;
}  // namespace

CDaoTreeView::CDaoTreeView(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("CDaoTreeView"));
  setHeaderHidden(true);
  setColumnCount(1);
  setIconSize(QSize(16, 16));
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
            if (rebuilding_ || current == nullptr) return;
            emit itemSelected(ItemIndex(current));
          });
  connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    const int index = ItemIndex(item);
    if (index >= 0) emit itemDoubleClicked(index);
  });
}

int CDaoTreeView::ItemIndex(const QTreeWidgetItem* item) {
  if (item == nullptr || item->parent() == nullptr) return -1;
  return item->data(0, kItemRole).toInt();
}

void CDaoTreeView::Rebuild(const CDaoViewDoc& doc) {
  rebuilding_ = true;
  clear();
  auto* root = new QTreeWidgetItem(this);
  root->setText(0, ui::ToQString(CDaoViewDoc::RootLabel()));
  root->setIcon(0, StripIcon(kIconRoot));
  const auto& items = doc.tree();
  for (size_t i = 0; i < items.size(); ++i) {
    auto* child = new QTreeWidgetItem(root);
    child->setData(0, kItemRole, static_cast<int>(i));
    child->setText(0, ui::ToQString(items[i].label));
    child->setIcon(0, StripIcon(items[i].icon));
  }
  expandItem(root);
  const int selected = doc.selected_item();
  if (selected >= 0 && selected < root->childCount()) {
    setCurrentItem(root->child(selected));
  } else {
    setCurrentItem(nullptr);
  }
  rebuilding_ = false;
}

void CDaoTreeView::UpdateItem(const CDaoViewDoc& doc, int item) {
  QTreeWidgetItem* root = topLevelItem(0);
  if (root == nullptr || item < 0 || item >= root->childCount() ||
      item >= static_cast<int>(doc.tree().size()))
    return;
  const TreeItem& ti = doc.tree()[static_cast<size_t>(item)];
  root->child(item)->setText(0, ui::ToQString(ti.label));
  root->child(item)->setIcon(0, StripIcon(ti.icon));
}

void CDaoTreeView::focusInEvent(QFocusEvent* e) {
  QTreeWidget::focusInEvent(e);
  emit activated();
}

void CDaoTreeView::keyPressEvent(QKeyEvent* e) {
  emit actingOnSelection();
  if (e->key() == Qt::Key_Delete) {
    emit deletePressed();
    return;
  }
  QTreeWidget::keyPressEvent(e);
}

void CDaoTreeView::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) {
    e->accept();
    return;
  }
  emit actingOnSelection();
  QTreeWidget::mousePressEvent(e);
}

void CDaoTreeView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) {
    e->accept();
    return;
  }
  QTreeWidget::mouseReleaseEvent(e);
}

void CDaoTreeView::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) {
    e->accept();
    return;
  }
  emit actingOnSelection();
  QTreeWidget::mouseDoubleClickEvent(e);
}

void CDaoTreeView::contextMenuEvent(QContextMenuEvent* e) {
  QTreeWidgetItem* item = itemAt(e->pos());
  const int index = ItemIndex(item);
  emit contextMenuAt(index, item != nullptr && index >= 0, e->globalPos());
}

CDaoListView::CDaoListView(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("CDaoListView"));
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setTextElideMode(Qt::ElideRight);
  setIconSize(QSize(16, 16));
  setUniformRowHeights(true);
  header()->setStretchLastSection(false);
  setColumnCount(0);
  setHeaderHidden(true);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
            emit rowSelected(current == nullptr ? -1 : indexOfTopLevelItem(current));
          });
  connect(this, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { emit rowDoubleClicked(indexOfTopLevelItem(item)); });
}

void CDaoListView::Refill(const CDaoViewDoc& doc) {
  setUpdatesEnabled(false);
  const QSignalBlocker block(this);
  clear();
  if (doc.selected_server() < 0) {
    // The root or nothing is selected: no rows and no columns.
    setColumnCount(0);
    setHeaderHidden(true);
    setUpdatesEnabled(true);
    return;
  }
  const auto columns = CDaoViewDoc::PortColumns();
  QStringList labels;
  for (const auto& c : columns) labels << ui::ToQString(c);
  setColumnCount(labels.size());
  setHeaderLabels(labels);
  setHeaderHidden(false);
  const QFontMetrics fm(header()->font());
  for (int c = 0; c < labels.size(); ++c)
    setColumnWidth(c, fm.horizontalAdvance(labels[c]) + kColumnPadding);
  const QIcon mapped = StripIcon(kIconMappedPort);
  // Unmapped rows get an empty picture of the same size, so that the port numbers of
  // all rows stay in one column.
  const QIcon unmapped = StripIcon(-1);
  for (const PortRow& row : doc.PortRows()) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, ui::ToQString(row.port));
    item->setText(1, ui::ToQString(row.com));
    item->setText(2, ui::ToQString(row.status));
    item->setIcon(0, row.mapped ? mapped : unmapped);
  }
  if (doc.selected_port() >= 0 && doc.selected_port() < topLevelItemCount())
    setCurrentItem(topLevelItem(doc.selected_port()));
  setUpdatesEnabled(true);
}

void CDaoListView::focusInEvent(QFocusEvent* e) {
  QTreeWidget::focusInEvent(e);
  emit activated();
}

void CDaoListView::contextMenuEvent(QContextMenuEvent* e) {
  emit contextMenuAt(e->globalPos());
}

}  // namespace zelin::manager
