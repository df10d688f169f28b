#pragma once
// StatusDisplay: the status list as the monitoring writes to it, so that the core runs
// without a widget (the program's list implements it; tests record it).
//
// ShowColumns and AddRow are called on the user-interface thread while monitoring is
// stopped; SetCell and RedrawRows may also come from the receiving thread, and an
// implementation hands them over to its own thread.

#include <cstddef>
#include <string>
#include <vector>

#include "monitor/core/display_items.hpp"
#include "monitor/core/monitor_state.hpp"

namespace zelin::monitor {

// What the list shows while it has no row: how to begin.
inline constexpr char kEmptyListHint[] =
    "No port is watched yet. Choose Monitor > Configure to search for servers and pick "
    "their ports, or File > Load Configuration to open a monitor file.";

class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;
  // Drops every row and column and shows one column per item, in order.
  virtual void ShowColumns(const std::vector<DisplayItem>& columns) = 0;
  // Appends an empty row (the row of the RowTable with the same index).
  virtual void AddRow() = 0;
  // Writes one cell.
  virtual void SetCell(size_t row, size_t column, const std::string& text) = 0;
  // Redraws rows first..last in the colour of their server's state.
  virtual void RedrawRows(size_t first, size_t last) = 0;
};

// Fills `display` from the configuration in use without polling: the columns of the
// column mask, one row per watched port, every cell formatted once (through the cell
// cache, which it empties first). What starting monitoring shows before any reply.
void ShowConfiguration(MonitorState& state, StatusDisplay& display);

// The monitoring of a program without a polling engine: it shows the configuration in
// use and polls nothing.
class ListOnlyMonitoring final : public Monitoring {
 public:
  ListOnlyMonitoring(MonitorState& state, StatusDisplay& display)
      : state_(state), display_(display) {}
  void StartMonitoring() override { ShowConfiguration(state_, display_); }
  void StopMonitoring() override {}
  void Suspend() override {}
  void Resume() override {}
  void ShowColumnsOnly() override {
    state_.rows.Clear();
    state_.cells.BuildColumns(state_.in_use->column_mask);
    display_.ShowColumns(state_.cells.columns());
  }

 private:
  MonitorState& state_;
  StatusDisplay& display_;
};

}  // namespace zelin::monitor
