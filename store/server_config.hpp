#pragma once
// ServerConfig: one configured server as held in the store, with its per-port
// mapping, COM numbers and options. Programs keep a table of 32 with a count, and a
// second copy as last saved for change detection (compare with ==).

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/bytes.hpp"

namespace zelin {

inline constexpr size_t kMaxConfiguredServers = 32;
inline constexpr size_t kMaxServerPorts = 16;

// Write state of a configured server at the next Save Configuration.
enum WriteState : uint32_t { kWriteWhenChanged = 0, kWriteAlways = 1, kWriteNever = 2 };

// Bits of ServerConfig::port_options.
inline constexpr uint8_t kOptionClassical = 0x01;     // "Transmission" 1: Classical
inline constexpr uint8_t kOptionFifoDisabled = 0x02;  // "FIFO" 1: transmit FIFO disabled

// Bit 0 of ServerConfig::flags: the password is saved on this computer.
inline constexpr uint16_t kServerFlagPasswordSaved = 0x0001;

struct ServerConfig {
  uint16_t flags = 0;
  uint16_t device_type = 0;
  uint16_t serial_number = 0;
  std::array<char, 30> name_bytes{};  // terminated, at most 29 characters
  uint32_t port_count = 0;
  Ipv4 ip_address = 0;  // network order
  Ipv4 netmask = 0;     // network order
  std::array<char, 16> password_bytes{};  // zero-padded, at most 16 characters
  std::array<uint8_t, kMaxServerPorts> port_mapped{};
  std::array<uint8_t, kMaxServerPorts> com_number{};  // 1-255, 0 = COM256
  std::array<uint8_t, kMaxServerPorts> port_options{};
  uint32_t tables_changed = 0;
  uint32_t write_state = kWriteWhenChanged;

  std::string name() const {
    return std::string(name_bytes.data(), std::find(name_bytes.begin(), name_bytes.end(), '\0'));
  }
  void set_name(std::string_view n) {
    name_bytes.fill('\0');
    std::copy_n(n.begin(), std::min(n.size(), name_bytes.size() - 1), name_bytes.begin());
  }
  std::string password() const {
    return std::string(password_bytes.data(),
                       std::find(password_bytes.begin(), password_bytes.end(), '\0'));
  }
  void set_password(std::string_view p) {
    password_bytes.fill('\0');
    std::copy_n(p.begin(), std::min(p.size(), password_bytes.size()), password_bytes.begin());
  }

  bool operator==(const ServerConfig&) const = default;
};

// "COM%d" number of a stored COM byte: 0 stands for 256.
inline int ComNumberOf(uint8_t stored) { return stored == 0 ? 256 : stored; }

}  // namespace zelin
