#pragma once
// A lab server's serial ports as a lab file describes them ("serial_ports").

#include <cstdint>
#include <utility>
#include <vector>

namespace zelin::emulator {

// How a server's serial ports are reached over TCP: one listener per port on the
// server's address, port p on base + p - 1, speaking Telnet with the Com Port Control
// option (RFC 2217) or plain bytes. A port's line is wired back to itself (what the
// client writes comes back) unless `pairs` wires it to another port of the server.
enum class SerialMode : uint8_t { kRfc2217, kRaw, kOff };
inline constexpr uint16_t kDefaultSerialBase = 4001;
struct SerialPortsConfig {
  SerialMode mode = SerialMode::kRfc2217;
  uint16_t base = kDefaultSerialBase;
  std::vector<std::pair<uint8_t, uint8_t>> pairs;  // ports from 1, each in one pair at most
};

}  // namespace zelin::emulator
