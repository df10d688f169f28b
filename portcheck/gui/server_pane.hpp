#pragma once
// The "To be tested..." pane: the configured servers as a list that the pane draws
// itself (two text lines beside each server's mark, items as high as the core's
// PaneItemHeight says) and a 6-pixel inner edge that the user drags to resize the pane.
// Texts and marks come from MainWindowModel::server_list(); the geometry from
// portcheck/core/server_pane.hpp. GUI thread only.

#include <QIcon>
#include <QWidget>

#include <vector>

#include "portcheck/core/main_window_model.hpp"
#include "portcheck/core/server_pane.hpp"

class QListWidget;

namespace zelin::portcheck {

// The picture of a server's mark, 32 pixels square.
QIcon MarkIcon(ServerMark mark);

class ServerPane final : public QWidget {
  Q_OBJECT
 public:
  explicit ServerPane(QWidget* parent = nullptr);

  QListWidget* list() const { return list_; }
  // Shows `items`; the list can be selected, and shows its selection highlighted, only
  // when `highlight`; `current` is then made the current item.
  void Show(const std::vector<MainWindowModel::ListItem>& items, bool highlight, int current);

 signals:
  // The user dragged the inner edge: the pane asks to be `width` pixels wide.
  void widthDragged(int width);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QListWidget* list_;
  PaneEdgeDrag drag_;
};

}  // namespace zelin::portcheck
