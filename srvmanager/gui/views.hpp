#pragma once
// The two views of the manager's splitter. ServerTreeView shows the root and one item
// per configured server; PortListView shows the ports of the selected server. Both
// draw what the document computes and report user actions to the main window through
// signals; they decide nothing. GUI thread only.

#include <QTreeWidget>

#include "srvmanager/core/manager_document.hpp"

namespace zelin::manager {

class ServerTreeView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit ServerTreeView(QWidget* parent = nullptr);
  // Clears and refills the tree from the document; selects the document's selection.
  void Rebuild(const ManagerDocument& doc);
  // Relabels and re-icons one server item.
  void UpdateItem(const ManagerDocument& doc, int item);
  // The server item index of a tree item (-1 for the root).
  static int ItemIndex(const QTreeWidgetItem* item);
  bool rebuilding() const { return rebuilding_; }

 signals:
  void activated();             // got the focus
  void itemSelected(int item);  // -1 root
  void itemDoubleClicked(int item);
  // The user is about to act on the tree's own selection (left button, key): the
  // document's current server, which a context menu may have moved, follows it again.
  void actingOnSelection();
  void contextMenuAt(int item, bool on_server, QPoint global);  // item -1: root/empty
  void deletePressed();

 protected:
  void focusInEvent(QFocusEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  // The right button only opens the context menu: it neither moves the selection nor
  // double-clicks an item.
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

 private:
  // False, with the event taken, for the right button; else true, after announcing the
  // action on the selection when `acting` (a press or a double click).
  bool PassMouse(QMouseEvent* e, bool acting);
  bool rebuilding_ = false;
};

class PortListView : public QTreeWidget {
  Q_OBJECT
 public:
  explicit PortListView(QWidget* parent = nullptr);
  // Refills the rows (and columns) from the document.
  void Refill(const ManagerDocument& doc);

 signals:
  void activated();
  void rowSelected(int row);
  void rowDoubleClicked(int row);
  void contextMenuAt(QPoint global);

 protected:
  void focusInEvent(QFocusEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
};

}  // namespace zelin::manager
