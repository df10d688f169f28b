#include "portcheck/core/server_pane.hpp"

#include <algorithm>

namespace zelin::portcheck {

int PaneItemHeight(int text_height) {
  return std::max(2 * text_height + 2, kPaneMinItemHeight);
}

PaneItemPlaces PlacePaneItem(int top, int text_height) {
  PaneItemPlaces p;
  p.mark_x = kPaneMarkLeft;
  p.mark_y = top + kPaneMarkTop;
  p.text_x = kPaneTextLeft;
  p.first_line_y = top;
  p.second_line_y = top + text_height;
  return p;
}

bool PaneEdgeDrag::Press(int x, int width) {
  dragging_ = OnEdge(x, width);
  press_x_ = x;
  press_width_ = width;
  return dragging_;
}

std::optional<int> PaneEdgeDrag::Move(int x) const {
  if (!dragging_) return std::nullopt;
  return std::max(kPaneMinWidth, press_width_ + (x - press_x_));
}

}  // namespace zelin::portcheck
