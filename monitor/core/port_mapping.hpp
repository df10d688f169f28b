#pragma once
// PortMappings: the configured servers of the three product lines' stores, read once
// at start-up, and the "Port Mapping" text of a watched port: the local COM name of a
// host-based port, "WAN" for a dial-up port, "---" for any other mode or a server the
// monitor has not found.
//
// Read only: the monitor never writes a store. A store that cannot be read counts as
// a store without servers. Not thread safe for Load; Text only reads.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "monitor/core/records.hpp"
#include "protocol/types.hpp"
#include "store/hive_file.hpp"
#include "store/server_config.hpp"
#include "store/server_store.hpp"

namespace zelin::monitor {

class PortMappings {
 public:
  // Reads up to 32 servers of each product line.
  void Load(const HiveFile& hive);
  // For tests and callers that already hold the tables.
  void Set(ProductLine line, std::vector<ServerConfig> servers);

  // The text of the "Port Mapping" item of port `port` of `server`, whose port kinds and
  // device type are taken from its entry in `found` (matched by serial number and IP
  // address). Empty for a host-based port of a model that no store files.
  std::string Text(const ServerList& found, const MonitoredServer& server, size_t port) const;

  // The store that files servers of `type`, if any.
  static std::optional<ProductLine> LineOf(DeviceType type);

 private:
  std::span<const ServerConfig> Servers(ProductLine line) const;
  std::array<std::vector<ServerConfig>, 3> lines_;
};

// The entry of `found` with the server's serial number and IP address, or nullptr.
const ServerRecord* FindFoundServer(const ServerList& found, const MonitoredServer& server);
ServerRecord* FindFoundServer(ServerList& found, const MonitoredServer& server);

}  // namespace zelin::monitor
