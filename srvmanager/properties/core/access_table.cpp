#include "srvmanager/properties/core/access_table.hpp"

#include <algorithm>

#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/manager_links.hpp"

namespace zelin::manager {
namespace {

constexpr int kCapacity = static_cast<int>(wire::kTableCapacity);

void SetCount(ServerRecord& r, int n) {
  r.access_total = static_cast<uint16_t>(n);
  r.access_count = static_cast<uint16_t>(n);
  r.access_start = 0;
}

}  // namespace

int AccessEntryCount(const ServerRecord& record) {
  return std::min<int>(record.access_total, kCapacity);
}

int FindAccessEntry(const ServerRecord& record, Ipv4 address, Ipv4 netmask) {
  const int n = AccessEntryCount(record);
  for (int i = 0; i < n; ++i) {
    const AccessEntry& e = record.access_table[static_cast<size_t>(i)];
    if (e.address == address && e.netmask == netmask) return i;
  }
  return -1;
}

void DeleteAccessEntry(ServerRecord& record, int index) {
  const int n = AccessEntryCount(record);
  if (index < 0 || index >= n) return;
  auto& t = record.access_table;
  std::move(t.begin() + index + 1, t.begin() + n, t.begin() + index);
  t[static_cast<size_t>(n - 1)] = AccessEntry{};
  SetCount(record, n - 1);
}

bool MergeAccessPorts(ServerRecord& record, Ipv4 old_address, Ipv4 old_netmask, Ipv4 new_address,
                      Ipv4 new_netmask, uint16_t ports, bool add) {
  const bool moving = old_address != new_address || old_netmask != new_netmask;
  const int target = FindAccessEntry(record, new_address, new_netmask);
  const int n = AccessEntryCount(record);
  // A new entry is needed for the target pair whenever it is missing and we add.
  if (target < 0 && (add || moving) && n >= kCapacity) return false;

  if (moving) {
    const int from = FindAccessEntry(record, old_address, old_netmask);
    if (from >= 0) {
      auto& e = record.access_table[static_cast<size_t>(from)];
      e.port_mask = static_cast<uint16_t>(e.port_mask & ~ports);
    }
    add = true;
  }
  if (target >= 0) {
    auto& e = record.access_table[static_cast<size_t>(target)];
    e.port_mask = add ? static_cast<uint16_t>(e.port_mask | ports)
                      : static_cast<uint16_t>(e.port_mask & ~ports);
    return true;
  }
  if (!add) return true;
  record.access_table[static_cast<size_t>(n)] = AccessEntry{new_address, new_netmask, ports};
  SetCount(record, n + 1);
  return true;
}

bool EntryGrantsHost(const AccessEntry& entry, int port_index, Ipv4 host) {
  if (port_index < 0 || port_index >= 16) return false;
  if ((entry.port_mask & (1u << port_index)) == 0) return false;
  return (entry.address & entry.netmask) == (host & entry.netmask);
}

int RecordPortCount(const ServerRecord& record) {
  const int ports = ModelPorts(record.device_type());
  if (ports > 0) return ports;
  return std::min<int>(record.port_count(), 16);
}

bool ReadServerTables(Transport& t, ServerRecord& record) {
  record.access_total = record.access_start = record.access_count = 0;
  record.access_table.fill(AccessEntry{});
  record.route_total = record.route_start = record.route_count = 0;
  record.route_table.fill(RouteEntry{});
  return ReadRouteTable(t, record, 1) && ReadAccessTable(t, record, 1);
}

void RefreshPortStatus(ServerRecord& record) {
  const int n = AccessEntryCount(record);
  const Ipv4 host = record.host_address();
  const int ports = RecordPortCount(record);
  for (int p = 0; p < ports; ++p) {
    const uint8_t kind = record.port_kind(static_cast<size_t>(p));
    if (kind != kPortMappable && kind != kPortNoAccess) continue;
    bool granted = n == 0;
    for (int i = 0; i < n && !granted; ++i)
      granted = EntryGrantsHost(record.access_table[static_cast<size_t>(i)], p, host);
    record.set_port_kind(static_cast<size_t>(p), granted ? kPortMappable : kPortNoAccess);
  }
}

}  // namespace zelin::manager
