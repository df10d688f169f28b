#include "srvmanager/core/server_tables.hpp"

#include <algorithm>

namespace zelin::manager {

Status ServerTables::Load(ManagerStore& store) {
  found_.count = std::clamp(found_.count, 0, static_cast<int>(kMaxServers));
  for (int i = 0; i < found_.count; ++i)
    found_.records[static_cast<size_t>(i)].password_change_pending = false;
  saved_found_ = found_;

  servers_.fill(ServerConfig{});
  const Result<int> loaded = store.Load(servers_.data(), kCapacity);
  count_ = loaded ? std::min(*loaded, kCapacity) : 0;
  for (auto& s : servers_) s.tables_changed = 0;
  saved_count_ = count_;
  saved_servers_ = servers_;
  return loaded.status();
}

ServerConfig ServerTables::AsTheServerHasIt(const ServerConfig& entry) const {
  ServerConfig kept = entry;
  const int saved = FindSavedServer(entry.serial_number);
  if (saved >= 0) {
    const ServerConfig& old = saved_servers_[static_cast<size_t>(saved)];
    kept.name_bytes = old.name_bytes;
    kept.ip_address = old.ip_address;
    kept.netmask = old.netmask;
    kept.password_bytes = old.password_bytes;
    return kept;
  }
  // Added in this run: a server reached by a directed request answers at that address
  // until a restart applies another; of one found by broadcast nothing older is known.
  const int fi = found_.FindSerial(entry.serial_number);
  if (fi >= 0) {
    const ServerRecord& rec = found_.records[static_cast<size_t>(fi)];
    if (rec.unicast && rec.unicast_address != 0) kept.ip_address = rec.unicast_address;
  }
  return kept;
}

Status ServerTables::Save(ManagerStore& store, const std::vector<uint16_t>& kept_old) {
  // What the store is to hold: the table, but servers that kept their old settings
  // with the settings they have.
  std::array<ServerConfig, kMaxConfiguredServers> table = servers_;
  for (int i = 0; i < count_; ++i) {
    ServerConfig& e = table[static_cast<size_t>(i)];
    if (std::find(kept_old.begin(), kept_old.end(), e.serial_number) != kept_old.end())
      e = AsTheServerHasIt(e);
  }
  // The store still files an adopted server under the serial number it had: hand the
  // store that number as the old one, so that it moves the entry to the new number.
  std::array<ServerConfig, kMaxConfiguredServers> stored = saved_servers_;
  for (const auto& [was, now] : adopted_)
    for (int i = 0; i < saved_count_; ++i)
      if (stored[static_cast<size_t>(i)].serial_number == now)
        stored[static_cast<size_t>(i)].serial_number = was;
  if (Status saved = store.Save(table.data(), count_, stored.data(), saved_count_); !saved)
    return saved;
  saved_servers_ = table;
  saved_count_ = count_;
  adopted_.clear();
  // Edits that a server did not take are still to be sent.
  modified_ = !kept_old.empty() && ConfigurationChanged();
  return {};
}

int ServerTables::FindSavedServer(uint16_t serial) const {
  for (int i = 0; i < saved_count_; ++i)
    if (saved_servers_[static_cast<size_t>(i)].serial_number == serial) return i;
  return -1;
}

void ServerTables::CopyToSavedFound(int found_index) {
  if (!ValidFound(found_, found_index)) return;
  saved_found_.records[static_cast<size_t>(found_index)] =
      found_.records[static_cast<size_t>(found_index)];
  saved_found_.count = std::max(saved_found_.count, found_index + 1);
}

void ServerTables::Adopt(int server_index, uint16_t serial) {
  if (server_index < 0 || server_index >= count_) return;
  ServerConfig& entry = servers_[static_cast<size_t>(server_index)];
  const int saved = FindSavedServer(entry.serial_number);
  adopted_.push_back({entry.serial_number, serial});
  entry.serial_number = serial;
  if (saved >= 0) saved_servers_[static_cast<size_t>(saved)].serial_number = serial;
  modified_ = true;
}

void ServerTables::RemoveServer(int server_index) {
  if (server_index < 0 || server_index >= count_) return;
  const uint16_t serial = servers_[static_cast<size_t>(server_index)].serial_number;
  int index = -1;
  for (int i = 0; i < count_; ++i)
    if (servers_[static_cast<size_t>(i)].serial_number == serial) {
      index = i;
      break;
    }
  if (index < 0) return;
  for (int i = index; i + 1 < count_; ++i)
    servers_[static_cast<size_t>(i)] = servers_[static_cast<size_t>(i + 1)];
  servers_[static_cast<size_t>(count_ - 1)] = ServerConfig{};
  --count_;
}

bool ServerTables::ServerChanged(int server_index) const {
  if (server_index < 0 || server_index >= count_) return false;
  const uint16_t serial = servers_[static_cast<size_t>(server_index)].serial_number;
  const int fi = found_.FindSerial(serial);
  if (fi < 0) return false;
  const ServerRecord& cur = found_.records[static_cast<size_t>(fi)];
  const int si = saved_found_.FindSerial(serial);
  if (si < 0) return true;
  const ServerRecord& old = saved_found_.records[static_cast<size_t>(si)];
  if (cur.password_change_pending) return true;
  const auto& a = cur.search_reply;
  const auto& b = old.search_reply;
  if (!std::equal(a.begin() + wire::kSrName, a.begin() + wire::kSrName + wire::kNameSize,
                  b.begin() + wire::kSrName))
    return true;
  if (!std::equal(a.begin() + wire::kSrPortKinds, a.begin() + wire::kSrPortKinds + wire::kMaxPorts,
                  b.begin() + wire::kSrPortKinds))
    return true;
  if (cur.ip_address() != old.ip_address() || cur.netmask() != old.netmask()) return true;
  if (HasDhcpSetting(cur.device_type(), cur.firmware_version()) && cur.dhcp != old.dhcp)
    return true;
  if (cur.route_total != 0 &&
      (cur.route_total != old.route_total || cur.route_start != old.route_start ||
       cur.route_count != old.route_count || cur.route_table != old.route_table))
    return true;
  if (cur.access_total != old.access_total) return true;
  if (cur.access_total != 0 &&
      (cur.access_start != old.access_start || cur.access_count != old.access_count ||
       cur.access_table != old.access_table))
    return true;
  return false;
}

bool ServerTables::EntriesChanged() const {
  if (count_ != saved_count_) return true;
  for (int i = 0; i < count_; ++i)
    if (!(servers_[static_cast<size_t>(i)] == saved_servers_[static_cast<size_t>(i)])) return true;
  return false;
}

bool ServerTables::ConfigurationChanged() const {
  if (count_ != saved_count_ || !adopted_.empty()) return true;
  for (int i = 0; i < count_; ++i) {
    if (servers_[static_cast<size_t>(i)].write_state != kWriteNever && ServerChanged(i))
      return true;
    if (!(servers_[static_cast<size_t>(i)] == saved_servers_[static_cast<size_t>(i)])) return true;
  }
  return false;
}

}  // namespace zelin::manager
