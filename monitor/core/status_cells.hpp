#pragma once
// The texts of the status list: each display item of a watched port as text, the
// throughput arithmetic, and the cell cache through which FormatCell hands out only
// the cells whose text changed.
//
// Threads: the cells are formatted by the user-interface thread when monitoring
// starts and by the receiving thread while it runs, never by both at once (the
// thread starts after the start-up formatting and is stopped before the next one).
// FormatCell also moves a port's rate samples on a server restart, so it takes the
// server by non-const reference.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/core/display_items.hpp"
#include "monitor/core/port_mapping.hpp"
#include "monitor/core/records.hpp"
#include "monitor/core/row_table.hpp"
#include "protocol/types.hpp"

namespace zelin::monitor {

// What a cell's text is taken from beside its server and port.
struct CellSources {
  const ServerList& found;          // the monitor's own list of found servers
  const PortMappings& mappings;     // the product lines' stores
  bool throughput_gate = false;     // set by every sampling tick (see ThroughputGate)
};

// Characters per second over `milliseconds`: floor(bytes * 1000 / milliseconds), 0 for
// no time. Exact integer arithmetic (no rounding of the time to a binary fraction).
uint64_t CharactersPerSecond(uint32_t bytes, uint32_t milliseconds);

// Average throughput since the first sample ("0" while the gate is clear or the port
// has no sample). A time stamp below the first sample's means that the server
// restarted: the samples are dropped so that the next reply becomes the first, and
// the text is "0".
std::string AverageThroughputText(PortRateSamples& samples, const PortStatusBlock& block,
                                  bool tx, bool gate);
// Throughput between the previous reply and this one; "0" while the gate is clear or
// when the total did not grow.
std::string IntervalThroughputText(const PortRateSamples& samples, const PortStatusBlock& block,
                                   bool tx, bool gate);

// `text` as a cell `width` wide shows it: unchanged when it fits, otherwise shortened
// from the end until it fits with "..." appended ("..." alone when nothing else fits).
// `measure` gives the width of a text.
std::string ShortenToFit(std::string text, int width,
                         const std::function<int(std::string_view)>& measure);

// The text of `item` for port `port` of `server`, whatever the server's state.
std::string ItemText(DisplayItem item, MonitoredServer& server, size_t port,
                     const CellSources& sources);

// The last text handed out for each cell of the list.
class CellCache {
 public:
  static constexpr size_t kRows = RowTable::kCapacity;
  static constexpr size_t kColumns = kDisplayItemCount;

  CellCache() : cells_(kRows * kColumns) {}
  // Forgets every cell (monitoring starts).
  void Clear();
  // `text` when it differs from the cell's last text (or the cell has none yet), an
  // empty text when it is the same. Cells outside the table always return `text`.
  std::string Update(size_t row, size_t column, std::string text);

 private:
  struct Cell {
    bool valid = false;
    std::string text;
  };
  std::vector<Cell> cells_;
};

// The list's columns and its cell cache.
class StatusCells {
 public:
  // The column table: one column per set bit of the mask, in item order. The widget
  // drops its rows and columns and inserts these.
  void BuildColumns(uint32_t column_mask) { columns_ = ColumnsOf(column_mask); }
  const std::vector<DisplayItem>& columns() const { return columns_; }
  void ClearCache() { cache_.Clear(); }

  // The text of cell (row, column position) for `server` and `port`: the item's text,
  // "---" for the items from "Port No." on while the server is not answering. Empty
  // when the cell already shows that text, so that callers write only changed cells.
  std::string FormatCell(size_t row, size_t column, MonitoredServer& server, size_t port,
                         const CellSources& sources);

  // Every column of one row: the non-empty results of FormatCell, as (column, text).
  std::vector<std::pair<size_t, std::string>> FormatRow(size_t row, MonitoredServer& server,
                                                        size_t port, const CellSources& sources);

 private:
  std::vector<DisplayItem> columns_;
  CellCache cache_;
};

}  // namespace zelin::monitor
