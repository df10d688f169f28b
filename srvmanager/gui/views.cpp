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

ServerTreeView::ServerTreeView(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("ServerTreeView"));
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

int ServerTreeView::ItemIndex(const QTreeWidgetItem* item) {
  if (item == nullptr || item->parent() == nullptr) return -1;
  return item->data(0, kItemRole).toInt();
}

void ServerTreeView::Rebuild(const ManagerDocument& doc) {
  rebuilding_ = true;
  clear();
  auto* root = new QTreeWidgetItem(this);
  root->setText(0, ui::ToQString(ServerTree::RootLabel()));
  root->setIcon(0, StripIcon(kIconRoot));
  const auto& items = doc.server_tree().items();
  for (size_t i = 0; i < items.size(); ++i) {
    auto* child = new QTreeWidgetItem(root);
    child->setData(0, kItemRole, static_cast<int>(i));
    child->setText(0, ui::ToQString(items[i].label));
    child->setIcon(0, StripIcon(items[i].icon));
  }
  expandItem(root);
  const int selected = doc.server_tree().selected_item();
  if (selected >= 0 && selected < root->childCount()) {
    setCurrentItem(root->child(selected));
  } else {
    setCurrentItem(nullptr);
  }
  rebuilding_ = false;
}

void ServerTreeView::UpdateItem(const ManagerDocument& doc, int item) {
  QTreeWidgetItem* root = topLevelItem(0);
  if (root == nullptr || item < 0 || item >= root->childCount() ||
      item >= static_cast<int>(doc.server_tree().items().size()))
    return;
  const TreeItem& ti = doc.server_tree().items()[static_cast<size_t>(item)];
  root->child(item)->setText(0, ui::ToQString(ti.label));
  root->child(item)->setIcon(0, StripIcon(ti.icon));
}

void ServerTreeView::focusInEvent(QFocusEvent* e) {
  QTreeWidget::focusInEvent(e);
  emit activated();
}

void ServerTreeView::keyPressEvent(QKeyEvent* e) {
  emit actingOnSelection();
  if (e->key() == Qt::Key_Delete) {
    emit deletePressed();
    return;
  }
  QTreeWidget::keyPressEvent(e);
}

bool ServerTreeView::PassMouse(QMouseEvent* e, bool acting) {
  if (e->button() == Qt::RightButton) {
    e->accept();
    return false;
  }
  if (acting) emit actingOnSelection();
  return true;
}

void ServerTreeView::mousePressEvent(QMouseEvent* e) {
  if (PassMouse(e, /*acting=*/true)) QTreeWidget::mousePressEvent(e);
}

void ServerTreeView::mouseReleaseEvent(QMouseEvent* e) {
  if (PassMouse(e, /*acting=*/false)) QTreeWidget::mouseReleaseEvent(e);
}

void ServerTreeView::mouseDoubleClickEvent(QMouseEvent* e) {
  if (PassMouse(e, /*acting=*/true)) QTreeWidget::mouseDoubleClickEvent(e);
}

void ServerTreeView::contextMenuEvent(QContextMenuEvent* e) {
  QTreeWidgetItem* item = itemAt(e->pos());
  const int index = ItemIndex(item);
  emit contextMenuAt(index, item != nullptr && index >= 0, e->globalPos());
}

PortListView::PortListView(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("PortListView"));
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

void PortListView::Refill(const ManagerDocument& doc) {
  setUpdatesEnabled(false);
  const QSignalBlocker block(this);
  clear();
  if (doc.server_tree().selected_server() < 0) {
    // The root or nothing is selected: no rows and no columns.
    setColumnCount(0);
    setHeaderHidden(true);
    setUpdatesEnabled(true);
    return;
  }
  const auto columns = PortMapper::PortColumns();
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
  for (const PortRow& row : doc.ports().PortRows()) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(0, ui::ToQString(row.port));
    item->setText(1, ui::ToQString(row.com));
    item->setText(2, ui::ToQString(row.status));
    item->setIcon(0, row.mapped ? mapped : unmapped);
  }
  if (doc.server_tree().selected_port() >= 0 && doc.server_tree().selected_port() < topLevelItemCount())
    setCurrentItem(topLevelItem(doc.server_tree().selected_port()));
  setUpdatesEnabled(true);
}

void PortListView::focusInEvent(QFocusEvent* e) {
  QTreeWidget::focusInEvent(e);
  emit activated();
}

void PortListView::contextMenuEvent(QContextMenuEvent* e) {
  emit contextMenuAt(e->globalPos());
}

}  // namespace zelin::manager
