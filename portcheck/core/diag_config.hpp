#pragma once
// DiagConfig: everything the diagnostic program remembers between runs (which servers
// to test, their passwords, ports and tests, and the serial line settings), and its
// file image "ZELIN.CFG".
//
// The file is exactly kDiagConfigSize bytes, little-endian, encoded and decoded field by
// field (never a struct copy):
//
//   0     4          magic 1028
//   4     4          TestFlags
//   8     4          baud rate index into BaudTable (0..19)
//   12    4          SerialMode in the low byte, the other bytes zero
//   16    4          server count (0..32)
//   20    32 x 86    ServerImage of each server (its search reply, name made a string)
//   2772  32 x 140   ServerTestSettings of each server:
//                      0 password (64 bytes, zero-terminated, at most 29 characters)
//                     64 port mask   68 server flags   72 status (signed)
//                     76 16 port status words (-1 = closed)
//   7252  32 x 16    reserved: zero when written, ignored when read
//
// Entries from the count upwards are unused; their content is kept as it is (removing
// a server moves the later ones up and leaves the old last entry behind) so that a file
// written back is byte-identical to the one read when nothing changed.
//
// Thread safety: values. The live configuration is written by the test and status
// workers only while their modal windows keep everything else away from it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/bytes.hpp"
#include "protocol/device_types.hpp"
#include "protocol/wire.hpp"

namespace zelin::portcheck {

inline constexpr int kMaxDiagServers = 32;
inline constexpr int kMaxDiagPorts = static_cast<int>(wire::kMaxPorts);
inline constexpr size_t kServerImageSize = wire::kSearchReplySize;  // 86
inline constexpr size_t kServerSettingsSize = 140;
inline constexpr size_t kServerReservedSize = 16;
// The 20-byte head, then the images, the settings and the reserved bytes of every server.
inline constexpr size_t kDiagConfigSize =
    20 + kMaxDiagServers * (kServerImageSize + kServerSettingsSize + kServerReservedSize);
inline constexpr uint32_t kDiagConfigMagic = 1028;
inline constexpr size_t kMaxPasswordLength = 29;
inline constexpr uint32_t kNewServerPortMask = 0xFFFF;

// TestFlags bits.
// The low 16 bits are the test word of the diagnose command.
inline constexpr uint32_t kTestInternal = wire::kTestInternal;
inline constexpr uint32_t kTestPrinter = wire::kTestPrinter;  // in the server flags only
inline constexpr uint32_t kTestTxRx = wire::kTestTxRx;
inline constexpr uint32_t kTestDtrDsr = wire::kTestDtrDsr;
inline constexpr uint32_t kTestRtsCts = wire::kTestRtsCts;
inline constexpr uint32_t kTestDtrDcd = wire::kTestDtrDcd;
inline constexpr uint32_t kExternalSubitems = 0xF0;
inline constexpr uint32_t kTestExternal = 0x1000000;
inline constexpr uint32_t kTwoStopBits = 0x80000000;
inline constexpr uint32_t kHighFlagBits = 0xF0000000;  // bits 28-31

inline constexpr uint32_t kDefaultTestFlags = 0x1000072;
inline constexpr uint32_t kDefaultBaudIndex = 14;  // 38400
inline constexpr uint8_t kDefaultSerialMode = 3;   // 8 data bits, 1 stop bit, no parity

// Server status values.
inline constexpr int32_t kStatusReached = 1;
inline constexpr int32_t kStatusOtherSerial = 0;
inline constexpr int32_t kStatusUnreachable = -1;

// The 20 baud rates, selected by index.
inline constexpr std::array<uint32_t, 20> kBaudTable{
    50,   75,   110,  134,   150,   300,   600,    1200,   1800,   2400,
    4800, 7200, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
// The rate of an index; 0 for an index outside the table.
uint32_t BaudRate(uint32_t index);

// A server's search reply as kept in the configuration.
struct ServerImage {
  std::array<uint8_t, kServerImageSize> bytes{};

  DeviceType device_type() const { return GetLe16(bytes, wire::kSrDeviceType); }
  uint16_t serial_number() const { return GetLe16(bytes, wire::kSrSerial); }
  uint32_t firmware_version() const { return GetLe32(bytes, wire::kSrFirmware); }
  uint8_t port_count() const { return bytes[wire::kSrPortCount]; }
  // Ports the lists show: the port count, at most 16.
  int shown_ports() const;
  // The name field up to its terminator (at most 30 characters).
  std::string name() const;
  uint8_t port_kind(size_t port) const { return bytes[wire::kSrPortKinds + port]; }
  Ipv4 ip_address() const { return GetIpv4(bytes, wire::kSrIpAddress); }
  friend bool operator==(const ServerImage&, const ServerImage&) = default;

  // The image of a search reply with its name made a string: the 30th name byte
  // zeroed, and trailing blanks and zeros from the 29th byte down to the second zeroed.
  static ServerImage FromReply(std::span<const uint8_t, kServerImageSize> reply);
};

struct ServerTestSettings {
  std::string password;  // at most kMaxPasswordLength characters
  uint32_t port_mask = 0;
  uint32_t server_flags = 0;
  int32_t status = 0;
  std::array<uint32_t, kMaxDiagPorts> port_status{};
  friend bool operator==(const ServerTestSettings&, const ServerTestSettings&) = default;
};

struct DiagConfig {
  uint32_t magic = 0;
  uint32_t test_flags = 0;
  uint32_t baud_index = 0;
  uint8_t serial_mode = 0;
  int server_count = 0;
  std::array<ServerImage, kMaxDiagServers> images{};
  std::array<ServerTestSettings, kMaxDiagServers> settings{};

  // magic 1028, TestFlags 0x1000072, baud 38400, 8N1, no servers.
  static DiagConfig Defaults();

  // Appends a server (image and settings); false when 32 are configured.
  bool AddServer(const ServerImage& image, const ServerTestSettings& settings);
  // Removes server `index`, moving the later ones up; the old last entry stays behind.
  void RemoveServer(int index);
  friend bool operator==(const DiagConfig&, const DiagConfig&) = default;
};

using DiagImage = std::array<uint8_t, kDiagConfigSize>;

// The file image of a configuration.
DiagImage EncodeDiagConfig(const DiagConfig& config);
// The configuration of a file's content, or nothing when the content is not one:
// another size, another magic, a server count above 32 or a baud index outside the
// table. A password field without a terminator is cut to 29 characters.
std::optional<DiagConfig> DecodeDiagConfig(Bytes content);

// ---- Line settings as the report and the pages show them --------------------------

// "NONE ", "ODD ", "EVEN ", "MARK ", "SPACE " by bits 3-5 (an undefined value reads NONE).
std::string_view ParityText(uint8_t serial_mode);
// Index 0..4 of the parity in the order NONE, ODD, EVEN, MARK, SPACE.
int ParityIndex(uint8_t serial_mode);
uint8_t ParityBits(int index);
// "5 ".."8 " by bits 0-1.
std::string_view DataBitsText(uint8_t serial_mode);
// "1", "1.5" or "2": bit 2 of the mode, and bit 31 of TestFlags for 2.
std::string_view StopBitsText(uint8_t serial_mode, uint32_t test_flags);
// "%d.%d%d" from bits 24-27, 20-23 and 16-19 of a firmware version.
std::string FirmwareVersionText(uint32_t version);

// ---- Addresses as the user types them ----------------------------------------------

// The text up to the first blank or tab: digits and exactly three dots, each part
// below 256 (an empty part counts as 0). Returns the address in network byte order,
// or 0 for an invalid text; the all-zero address is refused (0).
Ipv4 ParseIpText(std::string_view text);

// The text up to the first blank or tab.
std::string_view FirstWord(std::string_view text);

}  // namespace zelin::portcheck
