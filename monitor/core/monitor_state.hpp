#pragma once
// MonitorState: the tables of one monitor run, owned by the program and lent to the
// document, the configuration sheet, the polling and the status list:
//
//   in_use     the configuration being watched (read by the polling, the receiving
//              thread and the display)
//   baseline   what was last loaded from or saved to a file (the modified test)
//   working    the copy that the configuration sheet edits
//   found      the monitor's own list of found servers: sockets, sequence numbers,
//              nonces, port kinds and passwords of the watched servers
//   page_search, page_searched   the "Select Port" page's search results, kept for the
//              life of the program, and whether its first search has run
//   mappings   the product lines' stores, for the "Port Mapping" texts
//   throughput_gate   set by every sampling tick; cleared at start, on loading and by
//              Refresh Monitor. The throughput columns show "0" while it is clear.
//   rows, cells   the status list's rows (rebuilt when monitoring starts) and its
//              columns with the cell cache
//
// Threads: the receiving thread reads and writes `in_use` (run-time fields) and
// `found` (nonces, sequence numbers) while monitoring runs; everything else is used on
// the user-interface thread, and the configuration is replaced only while monitoring
// is stopped.

#include <atomic>
#include <memory>
#include <mutex>

#include "monitor/core/port_mapping.hpp"
#include "monitor/core/records.hpp"
#include "monitor/core/row_table.hpp"
#include "monitor/core/status_cells.hpp"
#include "protocol/types.hpp"

namespace zelin::monitor {

struct MonitorState {
  std::unique_ptr<MonitorConfig> in_use = MonitorConfig::New();
  std::unique_ptr<MonitorConfig> baseline = MonitorConfig::New();
  std::unique_ptr<MonitorConfig> working = MonitorConfig::New();
  std::unique_ptr<ServerList> found = std::make_unique<ServerList>();
  std::unique_ptr<ServerList> page_search = std::make_unique<ServerList>();
  bool page_searched = false;
  PortMappings mappings;
  std::atomic<bool> throughput_gate{false};
  RowTable rows;
  StatusCells cells;
  // The polling engine's lock over the run-time fields of `in_use` and `found` (null
  // without an engine): readers on the user-interface thread take it while monitoring
  // runs.
  std::mutex* records_mutex = nullptr;

  // The sources of the cells' texts at this moment.
  CellSources Sources() const { return {*found, mappings, throughput_gate.load()}; }
  // The server of list row `row`, or nullptr.
  MonitoredServer* ServerOfRow(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows.size()) return nullptr;
    return &in_use->servers[rows[static_cast<size_t>(row)].server];
  }
};

// The polling engine as the document and the configuration sheet drive it. The
// program connects the real engine; without one, NoMonitoring keeps the list empty.
class Monitoring {
 public:
  virtual ~Monitoring() = default;
  // Builds the rows and columns from the configuration in use and starts polling
  // (stops first when running).
  virtual void StartMonitoring() = 0;
  // Stops the timers and the receiving thread (also a held one); nothing runs
  // afterwards.
  virtual void StopMonitoring() = 0;
  // While the configuration sheet is open: holds the receiving thread and stops the
  // timers.
  virtual void Suspend() = 0;
  // After the sheet: lets a held thread go on and starts the timers again where
  // monitoring runs. Harmless after StopMonitoring or StartMonitoring.
  virtual void Resume() = 0;
  // No server is watched: the list keeps only its columns.
  virtual void ShowColumnsOnly() = 0;
};

class NoMonitoring final : public Monitoring {
 public:
  void StartMonitoring() override {}
  void StopMonitoring() override {}
  void Suspend() override {}
  void Resume() override {}
  void ShowColumnsOnly() override {}
};

// Forwards to the engine connected to it, or to nothing: the program builds its
// document and windows first and connects the engine (or a list-only stand-in) when
// its display exists.
class ConnectedMonitoring final : public Monitoring {
 public:
  void Connect(Monitoring* engine) { engine_ = engine ? engine : &none_; }
  void StartMonitoring() override { engine_->StartMonitoring(); }
  void StopMonitoring() override { engine_->StopMonitoring(); }
  void Suspend() override { engine_->Suspend(); }
  void Resume() override { engine_->Resume(); }
  void ShowColumnsOnly() override { engine_->ShowColumnsOnly(); }

 private:
  NoMonitoring none_;
  Monitoring* engine_ = &none_;
};

}  // namespace zelin::monitor
