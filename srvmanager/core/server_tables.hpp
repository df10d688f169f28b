#pragma once
// ServerTables: the manager's tables of one run. The servers found on the network (a
// ServerList and its saved copy), the configured servers (32 ServerConfig records with
// a count, and their saved copy), the serial numbers of servers that took over another
// server's number in this run, and the modified mark. It compares the tables with their
// saved copies and moves them to and from the store.
//
// Ownership: owns the tables; the store is borrowed for one call. Limits: 32 found
// servers, 32 configured servers; every write checks them. Not thread safe: the
// manager's user-interface thread only. The Add Server Wizard (WizardBridge) writes the
// tables through raw pointers while it runs; nothing else does.

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "protocol/types.hpp"
#include "srvmanager/core/manager_store.hpp"
#include "srvmanager/core/model_info.hpp"
#include "store/server_config.hpp"

namespace zelin::manager {

// Whether `index` names a record of the list.
inline bool ValidFound(const ServerList& list, int index) {
  return index >= 0 && index < list.count && index < static_cast<int>(kMaxServers);
}

// The ports of a configured server: its model's count, never more than a record holds.
inline int PortsOf(const ServerConfig& entry) {
  return std::min<int>(PortCountOfModel(entry.device_type), kMaxServerPorts);
}

class ServerTables {
 public:
  static constexpr int kCapacity = static_cast<int>(kMaxConfiguredServers);

  // Takes the search's found list as the found table and its saved copy, and reads
  // the configured servers from the store into both copies. Returns the store's error
  // when it cannot be read (the table is then empty).
  Status Load(ManagerStore& store);
  // Writes the difference to the saved copy into the store (an adopted server is handed
  // over under the number the store files it under). On success the saved copy becomes
  // what was stored, the adoptions are forgotten and the modified mark clears; on
  // failure (the store's error) nothing changes.
  //
  // `kept_old` lists the serial numbers of servers that kept their old settings (their
  // write failed): for them the store records AsTheServerHasIt(entry), the settings
  // the server still has with the port mapping as edited. The entries keep the edits,
  // and the modified mark stays set while anything is left to send
  // (ConfigurationChanged).
  Status Save(ManagerStore& store, const std::vector<uint16_t>& kept_old = {});

  int count() const { return count_; }
  int saved_count() const { return saved_count_; }
  ServerConfig& server(int i) { return servers_[static_cast<size_t>(i)]; }
  const ServerConfig& server(int i) const { return servers_[static_cast<size_t>(i)]; }
  ServerConfig& saved_server(int i) { return saved_servers_[static_cast<size_t>(i)]; }
  const ServerConfig& saved_server(int i) const { return saved_servers_[static_cast<size_t>(i)]; }
  // Index of the saved copy with `serial`, or -1.
  int FindSavedServer(uint16_t serial) const;
  ServerList& found() { return found_; }
  const ServerList& found() const { return found_; }
  ServerList& saved_found() { return saved_found_; }
  const ServerList& saved_found() const { return saved_found_; }
  // Copies found record `found_index` into the saved found list (same slot).
  void CopyToSavedFound(int found_index);

  // Entry `server_index` takes over `serial` (the server found at its address), in the
  // table and in its saved copy; the store's number is remembered until the next save.
  void Adopt(int server_index, uint16_t serial);
  // Removes the first entry with the serial number of entry `server_index`.
  void RemoveServer(int server_index);

  // `entry` as the store is to hold it for a server that kept its old settings: the
  // name, address, netmask and password of its saved copy, the rest as edited. A server
  // with no saved copy (added in this run) keeps the entry's values, except that one
  // reached by a directed request is held at the address it answers at.
  ServerConfig AsTheServerHasIt(const ServerConfig& entry) const;

  // True when the found-server record of the entry differs from its saved copy.
  bool ServerChanged(int server_index) const;
  // True when a configured entry differs from its saved copy (or the count does).
  bool EntriesChanged() const;
  // Whether the exit check would ask: entries, found records or adoptions changed.
  bool ConfigurationChanged() const;

  bool modified() const { return modified_; }
  void SetModified(bool m) { modified_ = m; }

 private:
  friend class WizardBridge;  // hands the raw tables to the wizard library

  ServerList found_;
  ServerList saved_found_;
  std::array<ServerConfig, kMaxConfiguredServers> servers_{};
  std::array<ServerConfig, kMaxConfiguredServers> saved_servers_{};
  int count_ = 0;
  int saved_count_ = 0;
  bool modified_ = false;
  // Servers that took over a found server's serial number in this run, as {serial in
  // the store, new serial}; kept until Save Configuration has written the store.
  std::vector<std::pair<uint16_t, uint16_t>> adopted_;
};

}  // namespace zelin::manager
