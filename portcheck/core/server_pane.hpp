#pragma once
// The "To be tested..." pane as the program draws it: the height of a list item and the
// places of its mark and two text lines, and the drag of the pane's inner edge. The
// items' texts and marks are MainWindowModel::server_list(); this file holds only the
// geometry, in pixels, so that the Qt pane draws and resizes by these rules alone.
//
// Thread safety: the user-interface thread only.

#include <optional>

namespace zelin::portcheck {

inline constexpr int kPaneDefaultWidth = 200;
inline constexpr int kPaneMinWidth = 32;
inline constexpr int kPaneEdgeWidth = 6;  // the inner edge that the user drags
inline constexpr int kPaneMinItemHeight = 34;
inline constexpr int kPaneMarkLeft = 4;
inline constexpr int kPaneMarkTop = 2;
inline constexpr int kPaneTextLeft = 52;

// An item is twice the text height plus 2 pixels high, and never below 34.
int PaneItemHeight(int text_height);

// Where the parts of an item whose top is at `top` go: the mark's top-left corner and
// the tops of the two text lines (the second one text height below the first).
struct PaneItemPlaces {
  int mark_x = 0;
  int mark_y = 0;
  int text_x = 0;
  int first_line_y = 0;
  int second_line_y = 0;
};
PaneItemPlaces PlacePaneItem(int top, int text_height);

// The drag of the inner (right) edge of a pane `width` pixels wide, in the pane's own
// x coordinates. A press on the edge starts a drag; each move gives the pane's new
// width, never below kPaneMinWidth; the release ends it.
class PaneEdgeDrag {
 public:
  static bool OnEdge(int x, int width) { return x >= width - kPaneEdgeWidth && x < width; }
  // True when the press is on the edge (the drag has started).
  bool Press(int x, int width);
  // The width for the pointer at `x`; nothing when no drag is under way.
  std::optional<int> Move(int x) const;
  void Release() { dragging_ = false; }
  bool dragging() const { return dragging_; }

 private:
  bool dragging_ = false;
  int press_x_ = 0;
  int press_width_ = 0;
};

}  // namespace zelin::portcheck
