#pragma once
// The records that discovery and the configuration commands fill: ServerRecord
// (one server as found on the network), ServerList (up to 32 of them), the
// access-control and route entries, port kinds and the last exchange error.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.hpp"
#include "protocol/bytes.hpp"
#include "protocol/device_types.hpp"
#include "protocol/wire.hpp"

namespace zelin {

// One byte per server port telling whether it can be mapped to a COM port.
enum PortKind : uint8_t {
  kPortMappable = 2,   // can be mapped
  kPortWan = 6,        // dial-up (WAN) port, cannot be mapped
  kPortNoAccess = 18,  // can be mapped, but this host has no access to it
};
inline bool IsMappablePortKind(uint8_t kind) {
  return kind == kPortMappable || kind == kPortNoAccess;
}

// Access-control entry (10 bytes on the wire).
struct AccessEntry {
  Ipv4 address = 0;
  Ipv4 netmask = 0;
  uint16_t port_mask = 0;  // bit i set: port i + 1 is granted
  bool operator==(const AccessEntry&) const = default;
};

// Route entry (14 bytes on the wire); metric 0xFFFF marks an empty slot.
struct RouteEntry {
  Ipv4 gateway = 0;
  Ipv4 destination = 0;
  Ipv4 netmask = 0;
  uint16_t metric = 0;
  bool operator==(const RouteEntry&) const = default;
};

// A server keys its routes by gateway, destination and netmask: a route entry with the
// key of one it holds changes that route's metric, or removes it with metric 0xFFFF.
inline bool SameRouteKey(const RouteEntry& a, const RouteEntry& b) {
  return a.gateway == b.gateway && a.destination == b.destination && a.netmask == b.netmask;
}

// The 10-byte access entry and the 14-byte route entry as they travel in the
// table commands: addresses as the four octets in order, the mask and the
// metric little-endian.
inline void PutAccessEntry(MutableBytes b, size_t at, const AccessEntry& e) {
  PutIpv4(b, at, e.address);
  PutIpv4(b, at + 4, e.netmask);
  PutLe16(b, at + 8, e.port_mask);
}
inline AccessEntry GetAccessEntry(Bytes b, size_t at) {
  return {GetIpv4(b, at), GetIpv4(b, at + 4), GetLe16(b, at + 8)};
}
inline void PutRouteEntry(MutableBytes b, size_t at, const RouteEntry& e) {
  PutIpv4(b, at, e.gateway);
  PutIpv4(b, at + 4, e.destination);
  PutIpv4(b, at + 8, e.netmask);
  PutLe16(b, at + 12, e.metric);
}
inline RouteEntry GetRouteEntry(Bytes b, size_t at) {
  return {GetIpv4(b, at), GetIpv4(b, at + 4), GetIpv4(b, at + 8), GetLe16(b, at + 12)};
}

// The code of a failed exchange, in the Status that the exchange returns; callers show
// their own messages.
enum class LastCommandError : int {
  kNone = 0,
  kTimeout = 1,
  kPasswordTooLong = 2,
  kUnknownCommand = 3,
  kSendFailed = 4,
  kWrongLength = 5,
  kWrongCodeOrRefused = 6,
  kErrorStatus = 7,
  kWrongSequence = 8,
  kWrongDeviceType = 9,
  kWrongSerial = 10,
};
template <>
struct StatusCode<LastCommandError> {
  static constexpr StatusDomain kDomain = StatusDomain::kExchange;
  static std::string_view Describe(LastCommandError code);
};

inline constexpr int kNoSocket = -1;
inline constexpr size_t kMaxServers = 32;

// One device server as found on the network. The identity fields are read in
// place from the verbatim search reply, as the server sent them; setters write
// back into it (the pages edit name, address and port kinds there).
struct ServerRecord {
  // --- identity and authentication ---
  int socket = kNoSocket;  // transport socket the server answered on
  uint32_t sequence = 0;   // sequence number of the next request (low 16 bits on the wire)
  std::array<uint8_t, 4> nonce{};
  std::array<uint8_t, wire::kSearchReplySize> search_reply{};
  std::string password;      // for the digest; more than 16 characters fails every exchange
  std::string new_password;  // what SetPassword is to set
  bool password_change_pending = false;
  bool unicast = false;
  Ipv4 unicast_address = 0;

  // --- configuration ---
  RouteEntry route_to_send;
  uint16_t access_total = 0, access_start = 0, access_count = 0;
  std::array<AccessEntry, wire::kTableCapacity> access_table{};
  uint16_t route_total = 0, route_start = 0, route_count = 0;
  std::array<RouteEntry, wire::kTableCapacity> route_table{};
  uint8_t dhcp = 0xFF;  // 0 off, 1 on, 0xFF not known
  // From the last CheckAddress: the hardware address of the host that uses the tested
  // address, zeros when it is free.
  std::array<uint8_t, 6> conflict_hardware{};

  // --- fields read in place from the search reply ---
  DeviceType device_type() const { return GetLe16(search_reply, wire::kSrDeviceType); }
  uint16_t serial_number() const { return GetLe16(search_reply, wire::kSrSerial); }
  Ipv4 host_address() const { return GetIpv4(search_reply, wire::kSrHostAddress); }
  uint32_t firmware_version() const { return GetLe32(search_reply, wire::kSrFirmware); }
  uint8_t flags() const { return search_reply[wire::kSrFlags]; }
  uint8_t port_count() const { return search_reply[wire::kSrPortCount]; }
  Ipv4 ip_address() const { return GetIpv4(search_reply, wire::kSrIpAddress); }
  Ipv4 netmask() const { return GetIpv4(search_reply, wire::kSrNetmask); }
  uint8_t port_kind(size_t port) const { return search_reply[wire::kSrPortKinds + port]; }
  bool has_password() const { return (flags() & wire::kFlagPassword) != 0; }
  // The name up to its terminator (at most 30 characters; 29 after discovery).
  std::string name() const;

  void set_flags(uint8_t f) { search_reply[wire::kSrFlags] = f; }
  void set_ip_address(Ipv4 a) { PutIpv4(search_reply, wire::kSrIpAddress, a); }
  void set_netmask(Ipv4 a) { PutIpv4(search_reply, wire::kSrNetmask, a); }
  void set_port_kind(size_t port, uint8_t kind) { search_reply[wire::kSrPortKinds + port] = kind; }
  // Stores at most 29 characters, terminated, zero-padded.
  void set_name(std::string_view name);
};

// Makes the first `ports` ports of the server (at most 16) mappable (kind 2), except
// its WAN ports (kind 6): a dial-up port never carries a COM port, and a WAN port
// written back as kind 2 would stop working as one. The one rule for every place that
// opens a server's ports to this host (the wizard's Finish, Replace Server).
void MakePortsMappable(ServerRecord& record, size_t ports);

// A count and up to 32 records; records 0 .. count - 1 are valid.
struct ServerList {
  int count = 0;
  std::array<ServerRecord, kMaxServers> records{};

  // Index of the valid record with this serial number, or -1.
  int FindSerial(uint16_t serial) const;
};

}  // namespace zelin
