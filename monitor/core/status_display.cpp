#include "monitor/core/status_display.hpp"

namespace zelin::monitor {

void ShowConfiguration(MonitorState& state, StatusDisplay& display) {
  state.cells.ClearCache();
  state.cells.BuildColumns(state.in_use->column_mask);
  display.ShowColumns(state.cells.columns());
  state.rows.Build(*state.in_use);
  const CellSources sources = state.Sources();
  for (size_t row = 0; row < state.rows.size(); ++row) {
    display.AddRow();
    const Row& r = state.rows[row];
    for (auto& [column, text] :
         state.cells.FormatRow(row, state.in_use->servers[r.server], r.port, sources))
      display.SetCell(row, column, text);
  }
}

}  // namespace zelin::monitor
