#pragma once
// The monitor's records and their byte images. The watched configuration is one
// contiguous 68616-byte block that is also the payload of a monitor file, so each
// record below has an exact byte layout; Encode and Decode are the only way between
// the typed record and its bytes (through protocol/bytes.hpp, never a struct copy).
//
//   MonitorConfig     68616 bytes: interval, server count, column mask, 32 servers
//   MonitoredServer    2144 bytes: identity, watched ports, 16 rate samples,
//                                  16 status blocks, device type, 16 port kinds
//   PortStatusBlock      94 bytes: one port as the server last reported it
//   PortRateSamples      36 bytes: the throughput samples of one port
//
// Multi-byte numbers are little-endian; IP addresses are the four octets in order
// (Ipv4, network byte order in memory). Every byte of an image has a field here
// (unused and reserved bytes are kept as they were read), so Decode(Encode(x)) == x
// and Encode(Decode(b)) == b for every image b.
//
// Threads: plain values. The state word of a MonitoredServer is written by the
// sampling side and by the receiving thread; both go through LoadState/StoreState,
// which access it atomically in place.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/bytes.hpp"
#include "protocol/device_types.hpp"

namespace zelin::monitor {

inline constexpr size_t kMaxWatchedServers = 32;
inline constexpr size_t kMaxPorts = 16;

// State of a watched server (offset 0 of MonitoredServer).
enum ServerState : int32_t {
  kStateAnswered = 1,          // the last status reply matched this server
  kStateNotAnswered = 0,       // did not answer the search when monitoring started
  kStateSilent = -1,           // no watched port reported a new time stamp for 30 s
  kStateAddressConflict = -2,  // another serial number answered from this address
};

// Connection state, modem line and flow-control bits of PortStatusBlock.
inline constexpr uint8_t kModemDtr = 0x01, kModemRts = 0x02, kModemCts = 0x10,
                         kModemDsr = 0x20, kModemDcd = 0x80;
inline constexpr uint8_t kFlowCts = 0x01, kFlowRts = 0x02, kFlowTxXonXoff = 0x04,
                         kFlowRxXonXoff = 0x08;

// One port as the server last reported it in a status reply, byte for byte.
struct PortStatusBlock {
  static constexpr size_t kSize = 94;
  static constexpr size_t kShortSize = 92;  // the form without the interface code
  static constexpr size_t kUnusedSize = 52;
  static constexpr int16_t kNoInterface = -1;  // 0xFFFF: the server sent the short form

  uint8_t connection_state = 0;
  uint8_t modem_lines = 0;  // kModem* bits
  uint8_t line_format = 0;  // bits 0-1 data bits, bit 2 stop bits, bits 3-5 parity
  uint8_t flow_control = 0;  // kFlow* bits
  uint32_t baud_rate = 0;    // bit/s
  uint32_t idle_time = 0;    // seconds
  std::array<uint8_t, kUnusedSize> unused{};  // offset 12, kept as received
  Ipv4 login_host = 0;       // 0 or 0xFFFFFFFF: nobody logged in
  uint32_t login_time = 0;   // seconds
  uint32_t tx_total = 0;     // bytes since the server started
  uint32_t rx_total = 0;
  uint32_t tx_count = 0;     // bytes since this login
  uint32_t rx_count = 0;
  uint32_t time_stamp = 0;   // server time in milliseconds
  int16_t interface_code = 0;

  // Writes the 94 bytes at `at`.
  void Encode(MutableBytes out, size_t at = 0) const;
  // Reads 94 bytes at `at`.
  static PortStatusBlock Decode(Bytes in, size_t at = 0);
  // Reads the 92-byte form at `at`; the interface code becomes kNoInterface.
  static PortStatusBlock DecodeShort(Bytes in, size_t at = 0);

  bool operator==(const PortStatusBlock&) const = default;
};

// The throughput samples of one port (kept by the monitor, not sent by the server).
struct PortRateSamples {
  static constexpr size_t kSize = 36;

  int32_t initialised = 0;  // 0: the next reply becomes the first sample
  uint32_t first_tx_total = 0;
  uint32_t first_rx_total = 0;
  uint32_t first_time_stamp = 0;
  uint32_t reserved = 0;
  uint32_t previous_tx_total = 0;
  uint32_t previous_rx_total = 0;
  uint32_t previous_time_stamp = 0;
  uint32_t silence_time_stamp = 0;  // time stamp seen by the last silence check

  void Encode(MutableBytes out, size_t at = 0) const;
  static PortRateSamples Decode(Bytes in, size_t at = 0);

  bool operator==(const PortRateSamples&) const = default;
};

// One watched server. Identity, watched ports, device type and port kinds are the
// configuration; state, rate samples and status blocks are run-time values.
struct MonitoredServer {
  static constexpr size_t kSize = 2144;
  static constexpr size_t kNameSize = 30;  // at most 29 characters and a NUL
  // Offsets inside the image.
  static constexpr size_t kStateAt = 0, kPortCountAt = 4, kSerialAt = 6, kNameAt = 8,
                          kWatchedAt = 38, kAddressAt = 42, kRatesAt = 46, kBlocksAt = 622,
                          kDeviceTypeAt = 2126, kPortKindsAt = 2128;

  int32_t state = kStateNotAnswered;  // ServerState; see LoadState/StoreState
  uint16_t port_count = 0;            // 0, 1, 2, 4, 8 or 16
  uint16_t serial_number = 0;
  std::array<char, kNameSize> name_bytes{};
  uint32_t watched_mask = 0;  // bit p: port p (from 0) is watched
  Ipv4 ip_address = 0;
  std::array<PortRateSamples, kMaxPorts> rates{};
  std::array<PortStatusBlock, kMaxPorts> blocks{};
  DeviceType device_type = 0;
  std::array<uint8_t, kMaxPorts> port_kinds{};  // the operation-mode byte of each port
  // Run-time, not in the image: bit p is set once port p's block came in a reply (until
  // then the block holds zeros that no server reported).
  uint32_t received_mask = 0;

  // The name up to its terminator (at most 30 characters for a hostile image).
  std::string name() const;
  // Stores at most 29 characters, terminated and zero-padded.
  void set_name(std::string_view name);
  bool watches(size_t port) const { return port < kMaxPorts && (watched_mask >> port) & 1u; }
  bool received(size_t port) const { return port < kMaxPorts && (received_mask >> port) & 1u; }
  // Clears the state, rate samples and status blocks (and what was received).
  void ClearRunTime();

  void Encode(MutableBytes out, size_t at = 0) const;
  static MonitoredServer Decode(Bytes in, size_t at = 0);

  bool operator==(const MonitoredServer&) const = default;
};

// The state word, read and written atomically in place (shared by the two threads).
ServerState LoadState(const MonitoredServer& server);
void StoreState(MonitoredServer& server, ServerState state);

// The whole watched configuration. Records past server_count are zero.
struct MonitorConfig {
  static constexpr size_t kSize = 68616;
  static constexpr size_t kHeaderSize = 8;
  static constexpr uint16_t kDefaultInterval = 3;
  static constexpr uint16_t kMinInterval = 1, kMaxInterval = 20;
  static constexpr uint32_t kDefaultColumnMask = 0x03FC047A;

  uint16_t interval = kDefaultInterval;  // sampling interval in seconds
  uint16_t server_count = 0;             // 0..32
  uint32_t column_mask = kDefaultColumnMask;  // bit i: display item i is a column
  std::array<MonitoredServer, kMaxWatchedServers> servers{};

  // A new configuration: interval 3, no server, the default columns, zero records.
  static std::unique_ptr<MonitorConfig> New() { return std::make_unique<MonitorConfig>(); }

  // A copy of what the user configured, every run-time field (state, rate samples,
  // status blocks) zero. Reads no run-time field, so it may be taken while the
  // receiving thread updates them.
  std::unique_ptr<MonitorConfig> WithoutRunTime() const;

  // The first server_count records (server_count is clamped to 32).
  std::span<MonitoredServer> watched();
  std::span<const MonitoredServer> watched() const;

  // Writes the whole image; out.size() must be kSize.
  void Encode(MutableBytes out) const;
  std::vector<uint8_t> Image() const;
  // Reads a whole image; in.size() must be kSize.
  static void Decode(Bytes in, MonitorConfig& out);

  bool operator==(const MonitorConfig&) const = default;
};

// Byte size of the stored image of a configuration with `servers` records.
constexpr size_t ImageSize(size_t servers) {
  return MonitorConfig::kHeaderSize + MonitoredServer::kSize * servers;
}
static_assert(ImageSize(kMaxWatchedServers) == MonitorConfig::kSize);
static_assert(MonitoredServer::kRatesAt + PortRateSamples::kSize * kMaxPorts ==
              MonitoredServer::kBlocksAt);
static_assert(MonitoredServer::kBlocksAt + PortStatusBlock::kSize * kMaxPorts ==
              MonitoredServer::kDeviceTypeAt);
static_assert(MonitoredServer::kPortKindsAt + kMaxPorts == MonitoredServer::kSize);

}  // namespace zelin::monitor
