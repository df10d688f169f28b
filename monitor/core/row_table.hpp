#pragma once
// RowTable: one status-list row per watched port, in server order and within a server
// in port order, with the first and last row of each server. It holds 512 rows, so
// that all 16 ports of all 32 servers can be watched at once.
//
// A row names its server by index into the configuration in use and its port by
// index; it holds no pointer, so it stays valid while that configuration is replaced
// record by record. Built on the user-interface thread before the receiving thread
// starts, and only read while that thread runs.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "monitor/core/records.hpp"

namespace zelin::monitor {

struct Row {
  uint8_t server = 0;  // index into MonitorConfig::servers
  uint8_t port = 0;    // 0-based port index
  bool operator==(const Row&) const = default;
};

// The rows of one server: first .. last, or none (first > last).
struct ServerRows {
  int first = 0;
  int last = -1;
  bool empty() const { return last < first; }
  int count() const { return empty() ? 0 : last - first + 1; }
};

class RowTable {
 public:
  static constexpr size_t kCapacity = kMaxWatchedServers * kMaxPorts;  // 512

  RowTable() { Clear(); }

  void Clear();
  // Appends one row per watched port p < port count of server `index` and returns them.
  ServerRows AddServer(size_t index, const MonitoredServer& server);
  // Clears, then adds every watched server of `config` in order.
  void Build(const MonitorConfig& config);

  size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  const Row& operator[](size_t row) const { return rows_[row]; }
  const std::vector<Row>& rows() const { return rows_; }

  // The rows of server `index` (none for a server that was not added).
  ServerRows RowsOf(size_t index) const;
  // The row of (server, port), or -1 when that port has no row.
  int RowOf(size_t server, size_t port) const;

 private:
  std::vector<Row> rows_;
  std::array<ServerRows, kMaxWatchedServers> servers_{};
  std::array<std::array<int16_t, kMaxPorts>, kMaxWatchedServers> index_{};
};

}  // namespace zelin::monitor
