#pragma once
// What an emulated lab is made of: the broadcast stand-in address, up to 32
// device servers with their identity, settings, tables, firmware acceptance rule
// and injected faults, a list of extra occupied addresses, the restart time and a
// seed. A lab is described by a JSON lab file or by devsim's command-line flags;
// both are parsed and checked here, so every entry point refuses the same things
// (bad or non-loopback addresses, unknown models, too many servers) with the same
// clear messages.
//
// Plain values, no sockets; copyable. Not thread-safe by itself.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/diag_plan.hpp"
#include "emulator/port_traffic.hpp"
#include "emulator/serial_config.hpp"
#include "protocol/bytes.hpp"
#include "protocol/device_types.hpp"
#include "protocol/types.hpp"
#include "protocol/wire.hpp"

namespace zelin::emulator {

inline constexpr size_t kMaxLabServers = 32;
// Tables in a lab file may be longer than the 32 entries a device accepts from a
// client, so that labs can show the client oversized totals; this is the hard cap.
inline constexpr size_t kMaxLabTableEntries = 255;
// What a device accepts into a table through AddRoute / SetAccessList.
inline constexpr size_t kDeviceTableCapacity = wire::kTableCapacity;

// Malformed TCP login challenges a server can be told to send.
enum class ChallengeFault : uint8_t {
  kNone,        // 0x14 0x04 + 4-byte nonce
  kSevenBytes,  // the right start, one byte too many
  kWrongTag,    // 0x14 0x05 + nonce
};

// Faults injected into one server's answers. Changeable at run time.
struct FaultSettings {
  double drop_share = 0.0;  // share (0..1) of UDP replies that are not sent
  int drop_next = 0;        // the next N UDP replies are not sent (counts down as they are)
  int delay_ms = 0;         // every UDP reply leaves this much later (lab clock)
  bool duplicate = false;   // every UDP reply is sent twice
  bool stale = false;       // the client's previous reply is sent before the real one
  bool refuse = false;      // status 6 to every authenticated request
  int refuse_code = 0;      // status 6 to authenticated requests with this command code
  ChallengeFault tcp_challenge = ChallengeFault::kNone;
  bool tcp_refuse_login = false;  // the TCP login answer is never accepted
  bool tcp_closed = false;  // no TCP listener (connects are refused); read when the server binds
  bool operator==(const FaultSettings&) const = default;
};

// Second byte of the answer to a download request the server cannot take (an image
// length of 0 or above the rule's max_size): "not ready", so the client sends nothing.
inline constexpr uint8_t kDownloadNotReady = 0xFF;
// Default second verdict byte of a rejected image: neither "ready" (0) nor "accepted" (1).
inline constexpr uint8_t kDefaultRejectStatus = 0x02;

// How a server judges a firmware image sent over TCP. The announced length is judged
// when the download is requested (0 or above max_size: "not ready"); the prefix and
// min_size when the image has arrived (the verdict).
struct FirmwareRule {
  std::vector<uint8_t> prefix;              // required first bytes (empty: any)
  uint32_t min_size = 1;                    // bytes
  uint32_t max_size = 16u * 1024u * 1024u;  // bytes
  std::optional<uint32_t>
      upgraded_version;  // reported after an accepted image; default firmware + 1
  uint8_t reject_status = kDefaultRejectStatus;  // second verdict byte of a rejected image
};

// Another host that already uses an address (answers CheckAddress with its hardware address).
struct OccupiedAddress {
  Ipv4 address = 0;
  std::array<uint8_t, 6> hardware{};
};

struct ServerSpec {
  DeviceType type = 771;
  uint16_t serial = 1;
  std::string name;  // at most 30 characters; padded with spaces on the wire
  Ipv4 ip = 0;
  Ipv4 netmask = 0;
  std::string password;  // at most 16 characters; non-empty sets flags bit 0
  uint32_t firmware = 0x02200100;
  uint8_t port_count = 0;  // defaults to the model table's count
  std::array<uint8_t, wire::kMaxPorts> port_kinds{};
  bool port_kinds_given = false;  // else 2 (mappable) for each port of the port count
  uint8_t flags = 0;              // bit 0 is always taken from the password
  uint8_t dhcp = 0;               // 0 off, 1 on
  std::vector<AccessEntry> access;
  std::vector<RouteEntry> routes;
  FirmwareRule firmware_rule;
  FaultSettings faults;
  std::array<uint8_t, 6> hardware{};  // the server's own hardware address
  DiagPlan diag;                      // what its self-tests find (port status, diagnose)
  PortTrafficSpec port_status;        // what the port status query reports
  SerialPortsConfig serial_ports;     // the data listeners of its serial ports
};

struct LabSpec {
  Ipv4 broadcast = 0;  // the stand-in for 255.255.255.255
  // The lab runs in a network namespace of its own (network_check.hpp), where its
  // servers take private-range addresses and hear real broadcasts: `broadcast` is then
  // 255.255.255.255, and a broadcast reaches only the servers whose address sits on
  // the interface it came in through. Lab::Start refuses such a lab anywhere else.
  bool network_namespace = false;
  int64_t restart_ms = 2000;
  uint64_t seed = 1;
  // Every server takes only the newest nonce it handed out to a client: after a
  // search only that search reply's nonce with sequence 1, otherwise only the nonce
  // of its last reply with the next sequence.
  bool strict_nonce = false;
  std::vector<ServerSpec> servers;
  std::vector<OccupiedAddress> occupied;
};

// Result of parsing: a desc, or the first error in words a user can act on.
template <typename T>
struct Parsed {
  std::optional<T> value;
  std::string error;
  explicit operator bool() const { return value.has_value(); }
};

// Parses a lab file's text. Unknown keys are errors (they are usually typos).
Parsed<LabSpec> ParseLabJson(std::string_view text);

// Parses one --server flag: comma-separated key=value pairs with the keys of a lab
// file's server object that have scalar values (type, serial, name, ip, netmask,
// password, firmware, ports, flags, dhcp, kinds as a hex string of 16 bytes), and
// serial_mode (rfc2217, raw, off) and serial_base for the serial ports.
Parsed<ServerSpec> ParseServerFlag(std::string_view text);

// Fills defaults (port count and kinds from the model, name, netmask, hardware
// address) and checks the whole lab: loopback addresses only (private-range ones and
// the broadcast 255.255.255.255 in a network-namespace lab), at most 32 servers,
// known models, unique server addresses, table and password limits, reject statuses
// other than "ready" and "accepted".
// Returns an empty string when the lab is usable, else the first problem.
std::string CompleteAndCheck(LabSpec& lab);

// Dotted text to an address, strictly: four decimal parts of 1-3 digits below 256.
std::optional<Ipv4> ParseAddress(std::string_view text);

// A hardware address as "02:00:03:03:05:00".
std::string HardwareToText(const std::array<uint8_t, 6>& hw);

}  // namespace zelin::emulator
