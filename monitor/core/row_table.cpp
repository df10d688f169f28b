#include "monitor/core/row_table.hpp"

#include <algorithm>

namespace zelin::monitor {

void RowTable::Clear() {
  rows_.clear();
  rows_.reserve(kCapacity);
  servers_.fill(ServerRows{});
  for (auto& ports : index_) ports.fill(-1);
}

ServerRows RowTable::AddServer(size_t index, const MonitoredServer& server) {
  if (index >= kMaxWatchedServers) return {};
  ServerRows added{static_cast<int>(rows_.size()), static_cast<int>(rows_.size()) - 1};
  const size_t ports = std::min<size_t>(server.port_count, kMaxPorts);
  for (size_t p = 0; p < ports && rows_.size() < kCapacity; ++p) {
    if (!server.watches(p) || index_[index][p] >= 0) continue;
    index_[index][p] = static_cast<int16_t>(rows_.size());
    rows_.push_back({static_cast<uint8_t>(index), static_cast<uint8_t>(p)});
    ++added.last;
  }
  servers_[index] = added;
  return added;
}

void RowTable::Build(const MonitorConfig& config) {
  Clear();
  const auto watched = config.watched();
  for (size_t i = 0; i < watched.size(); ++i) AddServer(i, watched[i]);
}

ServerRows RowTable::RowsOf(size_t index) const {
  return index < kMaxWatchedServers ? servers_[index] : ServerRows{};
}

int RowTable::RowOf(size_t server, size_t port) const {
  if (server >= kMaxWatchedServers || port >= kMaxPorts) return -1;
  return index_[server][port];
}

}  // namespace zelin::monitor
