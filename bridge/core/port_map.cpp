#include "bridge/core/port_map.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <sstream>

#include "bridge/core/bridge_error.hpp"
#include "protocol/address.hpp"
#include "store/server_config.hpp"
#include "store/server_store.hpp"

namespace zelin::bridge {

std::string_view ModeName(LinkMode mode) {
  return mode == LinkMode::kRaw ? "raw" : "rfc2217";
}

std::vector<MappedPort> ReadMappedPorts(const Registry& reg) {
  std::vector<ServerConfig> table(kMaxConfiguredServers);
  const int count = LoadServerStore(reg, ProductLine::kZelin, table).value_or(0);
  std::vector<MappedPort> ports;
  for (int i = 0; i < count; ++i) {
    const ServerConfig& c = table[static_cast<size_t>(i)];
    const uint32_t n = std::min<uint32_t>(c.port_count, kMaxServerPorts);
    for (uint32_t p = 0; p < n; ++p) {
      if (c.port_mapped[p] == 0) continue;
      ports.push_back({.com_name = "COM" + std::to_string(ComNumberOf(c.com_number[p])),
                       .com_number = ComNumberOf(c.com_number[p]),
                       .serial_number = c.serial_number,
                       .server_name = c.name(),
                       .server = c.ip_address,
                       .port_index = p,
                       .classical = (c.port_options[p] & kOptionClassical) != 0});
    }
  }
  return ports;
}

Result<std::vector<MappedPort>> ReadMappedPorts(const HiveFile& hive) {
  MemoryRegistry reg;
  if (Status st = hive.Load(reg); !st) return Status(BridgeError::kStore, st.message());
  return ReadMappedPorts(reg);
}

ServerOptions BridgeConfig::For(const MappedPort& port) const {
  ServerOptions o = defaults;
  if (auto a = by_address.find(port.server); a != by_address.end()) {
    o = a->second;
  } else if (auto s = by_serial.find(port.serial_number); s != by_serial.end()) {
    o = s->second;
  }
  if (auto c = by_com.find(port.com_number); c != by_com.end()) {
    if (c->second.data_bits != 0) o.data_bits = c->second.data_bits;
    if (c->second.parity >= 0) o.parity = c->second.parity;
  }
  return o;
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

Result<BridgeConfig> ParseBridgeConfig(std::string_view text, std::string_view name) {
  BridgeConfig config;
  ServerOptions* section = &config.defaults;
  PortLine* port_section = nullptr;  // in a [port COMn] section
  int line_no = 0;
  auto fail = [&](const std::string& what) {
    return Status(BridgeError::kConfig,
                  std::string(name) + ':' + std::to_string(line_no) + ": " + what);
  };
  while (!text.empty()) {
    ++line_no;
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (const size_t hash = line.find('#'); hash != std::string_view::npos)
      line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("a section ends with ']'");
      const std::string_view head = Trim(line.substr(1, line.size() - 2));
      port_section = nullptr;
      if (head == "defaults") {
        section = &config.defaults;
        continue;
      }
      if (head.starts_with("port ")) {
        const std::string_view com = Trim(head.substr(5));
        int number = 0;
        bool ok = com.starts_with("COM") && com.size() >= 4;
        if (ok) {
          const auto [end, ec] = std::from_chars(com.data() + 3, com.data() + com.size(), number);
          ok = ec == std::errc() && end == com.data() + com.size() && number >= 1 && number <= 256;
        }
        if (!ok)
          return fail("not a COM name (COM1 to COM256): " + std::string(com));
        port_section = &config.by_com[number];
        continue;
      }
      if (!head.starts_with("server ")) return fail("unknown section [" + std::string(head) + "]");
      const std::string_view who = Trim(head.substr(7));
      if (who.find('.') != std::string_view::npos) {
        const auto address = ParseHostAddress(who);
        if (!address) return fail("not an IPv4 address: " + std::string(who));
        section = &config.by_address.emplace(*address, config.defaults).first->second;
      } else {
        unsigned serial = 0;
        const auto [end, ec] = std::from_chars(who.data(), who.data() + who.size(), serial);
        if (ec != std::errc() || end != who.data() + who.size() || serial > 65535)
          return fail("not a serial number or address: " + std::string(who));
        section = &config.by_serial.emplace(static_cast<uint16_t>(serial), config.defaults)
                       .first->second;
      }
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected KEY = VALUE");
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (port_section != nullptr && key != "data_bits" && key != "parity")
      return fail("a [port] section takes data_bits and parity, not " + std::string(key));
    if (key == "mode") {
      if (value == "rfc2217") {
        section->mode = LinkMode::kRfc2217;
      } else if (value == "raw") {
        section->mode = LinkMode::kRaw;
      } else {
        return fail("mode is rfc2217 or raw, not " + std::string(value));
      }
    } else if (key == "connect") {
      if (value != "always" && value != "on_open")
        return fail("connect is always or on_open, not " + std::string(value));
      section->on_demand = value == "on_open";
    } else if (key == "data_port_base") {
      unsigned port = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (ec != std::errc() || end != value.data() + value.size() || port == 0 || port > 65535)
        return fail("data_port_base is a TCP port (1-65535), not " + std::string(value));
      section->data_port_base = static_cast<uint16_t>(port);
    } else if (key == "data_bits") {
      if (value.size() != 1 || value[0] < '5' || value[0] > '8')
        return fail("data_bits is 5, 6, 7 or 8, not " + std::string(value));
      (port_section ? port_section->data_bits : section->data_bits) =
          static_cast<uint8_t>(value[0] - '0');
    } else if (key == "parity") {
      static constexpr std::array<std::string_view, 5> kNames{"none", "odd", "even", "mark",
                                                              "space"};
      const auto it = std::find(kNames.begin(), kNames.end(), value);
      if (it == kNames.end())
        return fail("parity is none, odd, even, mark or space, not " + std::string(value));
      (port_section ? port_section->parity : section->parity) =
          static_cast<int>(it - kNames.begin());
    } else if (key == "keepalive_idle" || key == "keepalive_interval" ||
               key == "keepalive_count" || key == "user_timeout_ms") {
      const bool ms = key == "user_timeout_ms";
      int number = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
      const int most = ms ? 3600000 : 3600;
      if (ec != std::errc() || end != value.data() + value.size() || number < 1 || number > most)
        return fail(std::string(key) + " is a whole number from 1 to " + std::to_string(most) +
                    ", not " + std::string(value));
      if (key == "keepalive_idle") section->keepalive_idle_s = number;
      if (key == "keepalive_interval") section->keepalive_interval_s = number;
      if (key == "keepalive_count") section->keepalive_count = number;
      if (ms) section->user_timeout_ms = number;
    } else {
      return fail("unknown key " + std::string(key));
    }
  }
  return config;
}

Result<BridgeConfig> LoadBridgeConfig(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return BridgeConfig{};
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status(BridgeError::kConfig, path.string() + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return ParseBridgeConfig(text.str(), path.string());
}

}  // namespace zelin::bridge
