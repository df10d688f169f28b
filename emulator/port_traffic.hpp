#pragma once
// The serial side of an emulated server as the port status query reports it: the
// line settings of every port and traffic that flows at a fixed rate per port, so
// that the byte counters and the server's millisecond time stamp advance with the
// lab's clock. A restart starts the time stamp and the counters again from zero; a
// port reset starts the port's login counts again.
//
// Plain values, copyable; the Device keeps one PortTraffic per server.

#include <array>
#include <cstdint>

#include "protocol/bytes.hpp"
#include "protocol/wire.hpp"

namespace zelin::emulator {

// What a lab file says about a server's ports ("port_status").
struct PortTrafficSpec {
  static constexpr uint16_t kLongBlock = 94;   // with the interface code
  static constexpr uint16_t kShortBlock = 92;  // without it
  uint16_t block_size = kLongBlock;
  bool silent = false;      // status queries are not answered (the rest of the server is)
  bool reset_ack = true;    // a TCP reset is acknowledged with 02 01; else closed unanswered
  uint8_t connection = 13;  // connection state of every port (13: connected)
  uint8_t modem = 0x33;     // DTR, RTS, CTS, DSR
  uint8_t line_format = 0x03;  // 8 data bits, 1 stop bit, no parity
  uint8_t flow = 0;
  uint32_t baud = 9600;
  int16_t interface_code = 1;  // 1 RS-232, 2 RS-422, 3 and 4 RS-485
  Ipv4 login_host = 0;         // the host logged in to every port (0: none)
  std::array<uint32_t, wire::kMaxPorts> tx_cps{};  // bytes per second sent by port p
  std::array<uint32_t, wire::kMaxPorts> rx_cps{};  // bytes per second received by port p
  bool operator==(const PortTrafficSpec&) const = default;

  // The default rates: port p sends 120 + 10·p and receives 60 + 5·p bytes per second.
  PortTrafficSpec();
};

// Run-time state: when the server last started and when each port was last reset,
// in lab milliseconds.
struct PortTraffic {
  // A server has been running for a minute when the lab starts.
  static constexpr int64_t kInitialUptimeMs = 60000;
  int64_t now_ms = 0;  // the lab's time of the request being answered (set by the lab)
  int64_t booted_ms = -kInitialUptimeMs;
  std::array<int64_t, wire::kMaxPorts> reset_ms{};  // last port reset (before boot: none)
  std::array<int, wire::kMaxPorts> port_resets{};   // resets of each port, for tests

  PortTraffic() { reset_ms.fill(INT64_MIN); }
};

// Writes the status block of `port` (block_size bytes) at `at` of `out`.
void WritePortStatus(const PortTrafficSpec& settings, const PortTraffic& traffic, size_t port,
                     MutableBytes out, size_t at);

}  // namespace zelin::emulator
