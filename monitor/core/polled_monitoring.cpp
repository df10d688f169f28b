#include "monitor/core/polled_monitoring.hpp"

namespace zelin::monitor {

PolledMonitoring::PolledMonitoring(MonitorState& state, Transport& transport,
                                   StatusDisplay& display, Prompter& prompter)
    : state_(state),
      display_(display),
      prompter_(prompter),
      poller_(transport, *state.in_use, *state.found, *this) {
  poller_.UseThroughputGate(state_.throughput_gate);
  state_.records_mutex = &poller_.records_mutex();
}

PolledMonitoring::~PolledMonitoring() {
  poller_.StopMonitoring();
  state_.records_mutex = nullptr;
}

void PolledMonitoring::StartMonitoring() {
  if (!poller_.StartMonitoring()) prompter_.Message("Create Thread Fail");
}

void PolledMonitoring::StopMonitoring() {
  poller_.StopMonitoring();
}

void PolledMonitoring::Suspend() {
  poller_.StopTimers();
  poller_.Suspend();
}

void PolledMonitoring::Resume() {
  poller_.Resume();
  if (poller_.running()) poller_.StartTimers();
}

void PolledMonitoring::ShowColumnsOnly() {
  poller_.StopMonitoring();
  state_.rows.Clear();
  state_.cells.BuildColumns(state_.in_use->column_mask);
  display_.ShowColumns(state_.cells.columns());
}

void PolledMonitoring::RowsBuilt() {
  // The servers are located and the worker has not started: the list shows every row.
  ShowConfiguration(state_, display_);
}

void PolledMonitoring::RowUpdated(int row, size_t server, size_t port) {
  // Worker thread, under the records lock; the start-up formatting is over.
  MonitoredServer& s = state_.in_use->servers[server];
  const CellSources sources = state_.Sources();
  for (auto& [column, text] : state_.cells.FormatRow(static_cast<size_t>(row), s, port, sources))
    display_.SetCell(static_cast<size_t>(row), column, text);
}

void PolledMonitoring::ServerStateChanged(size_t, ServerState, int first_row, int last_row) {
  if (last_row >= first_row)
    display_.RedrawRows(static_cast<size_t>(first_row), static_cast<size_t>(last_row));
}

}  // namespace zelin::monitor
