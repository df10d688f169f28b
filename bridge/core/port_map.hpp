#pragma once
// What the bridge carries: the mapped ports of the server store, and the bridge's own
// settings file that says how each server is reached.
//
// The settings file ("bridge.conf" beside the store by default) is INI-like and is not
// part of the manager's store:
//
//   # comment
//   [defaults]
//   mode = rfc2217            # or raw
//   data_port_base = 4001     # TCP port of the server's first serial port
//   [server 1201]             # a server by serial number
//   mode = raw
//   [server 127.0.43.10]      # a server by address (wins over its serial number)
//   data_port_base = 950
//   data_bits = 7             # character size and parity the server is asked for
//   parity = even             # (none, odd, even, mark, space)
//   keepalive_idle = 5        # dead-link detection: seconds idle before the first probe,
//   keepalive_interval = 2    #   seconds between probes, unanswered probes that end the
//   keepalive_count = 3       #   link, and milliseconds that sent data may stay
//   user_timeout_ms = 10000   #   unacknowledged (TCP_USER_TIMEOUT)
//   connect = on_open         # connected only while a program has the device open
//                             #   (default: always)
//   [port COM5]               # one device: only data_bits and parity, over its server's
//   data_bits = 7
//   parity = even
//
// A missing file means the defaults (rfc2217, 4001, character size and parity from the
// device). A server section starts from the [defaults] read before it. Port i (from 0)
// of a server is reached at data_port_base + i.
//
// data_bits and parity exist because a Linux pty keeps neither: the kernel stores every
// slave's termios as CS8 without parity whatever the program asked for, so the bridge
// cannot read them from the device.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/core/line_settings.hpp"
#include "platform/status.hpp"
#include "protocol/bytes.hpp"
#include "store/hive_file.hpp"
#include "store/registry.hpp"

namespace zelin::bridge {

enum class LinkMode : uint8_t { kRfc2217, kRaw };
std::string_view ModeName(LinkMode mode);  // "rfc2217", "raw"

// One mapped port of the store.
struct MappedPort {
  std::string com_name;  // "COM5"
  int com_number = 0;    // 5 (1-256)
  uint16_t serial_number = 0;
  std::string server_name;
  Ipv4 server = 0;          // network order
  uint32_t port_index = 0;  // from 0
  bool classical = false;   // the stored "Transmission" option (1: Classical)

  bool operator==(const MappedPort&) const = default;
};

// The mapped ports of every configured server, in store order. A store without the
// parameters key has no ports (not an error); a file that cannot be read or parsed is.
std::vector<MappedPort> ReadMappedPorts(const Registry& reg);
Result<std::vector<MappedPort>> ReadMappedPorts(const HiveFile& hive);

struct ServerOptions {
  LinkMode mode = LinkMode::kRfc2217;
  uint16_t data_port_base = 4001;
  uint8_t data_bits = 0;  // 5..8; 0: as the device says
  int parity = -1;        // a Parity value; -1: as the device says
  // Dead-link detection (TCP keepalive and TCP_USER_TIMEOUT): an idle link is probed
  // after keepalive_idle s, every keepalive_interval s, and given up after
  // keepalive_count unanswered probes; data unacknowledged for user_timeout_ms ends it.
  int keepalive_idle_s = 5;
  int keepalive_interval_s = 2;
  int keepalive_count = 3;
  int user_timeout_ms = 10000;
  // Connected only while a program has the device open ("connect = on_open"), so that
  // other hosts can use the server port meanwhile; default: always.
  bool on_demand = false;
  bool operator==(const ServerOptions&) const = default;
  // The same way of reaching the server (character size and parity may differ: they go
  // out as settings on the connection).
  bool SameLink(const ServerOptions& o) const {
    return mode == o.mode && data_port_base == o.data_port_base &&
           keepalive_idle_s == o.keepalive_idle_s &&
           keepalive_interval_s == o.keepalive_interval_s &&
           keepalive_count == o.keepalive_count && user_timeout_ms == o.user_timeout_ms &&
           on_demand == o.on_demand;
  }
};

// Character size and parity of one device ([port COMn]); 0 / -1: the server's.
struct PortLine {
  uint8_t data_bits = 0;
  int parity = -1;
};

struct BridgeConfig {
  ServerOptions defaults;
  std::map<uint16_t, ServerOptions> by_serial;
  std::map<Ipv4, ServerOptions> by_address;
  std::map<int, PortLine> by_com;  // by COM number

  // The address's section, else the serial number's, else the defaults; then the
  // port's own character size and parity.
  ServerOptions For(const MappedPort& port) const;
};

// Parses the text; `name` prefixes the errors ("NAME:LINE: what", BridgeError::kConfig).
Result<BridgeConfig> ParseBridgeConfig(std::string_view text, std::string_view name);
// Reads the file; a missing file gives the defaults.
Result<BridgeConfig> LoadBridgeConfig(const std::filesystem::path& path);

}  // namespace zelin::bridge
