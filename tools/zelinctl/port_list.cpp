#include "tools/zelinctl/port_list.hpp"

#include "protocol/wire.hpp"

namespace zelin::ctl {
namespace {

constexpr int kPorts = static_cast<int>(wire::kMaxPorts);

// A port number 1..16 of one or two digits.
std::optional<int> PortNumber(std::string_view text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > kPorts) return std::nullopt;
  return v;
}

}  // namespace

std::optional<PortList> ParsePortList(std::string_view text) {
  if (text == "all") return PortList{0, true};
  if (text == "none") return PortList{};
  PortList list;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string_view part = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const size_t dash = part.find('-');
    const auto first = PortNumber(part.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : PortNumber(part.substr(dash + 1));
    if (!first || !last || *last < *first) return std::nullopt;
    for (int port = *first; port <= *last; ++port)
      list.mask = static_cast<uint16_t>(list.mask | (1u << (port - 1)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return list;
}

std::optional<uint16_t> PortsOnServer(const PortList& list, int port_count, std::string* error) {
  const uint16_t server_ports =
      port_count >= kPorts ? uint16_t{0xFFFF} : static_cast<uint16_t>((1u << port_count) - 1);
  if (list.all) return server_ports;
  if ((list.mask & ~server_ports) != 0) {
    *error = "the server has " + std::to_string(port_count) + " ports; there is no port " +
             std::to_string(PortNumbers(static_cast<uint16_t>(list.mask & ~server_ports)).front());
    return std::nullopt;
  }
  return list.mask;
}

std::string PortListText(uint16_t mask) {
  std::string out;
  for (int port = 1; port <= kPorts;) {
    if ((mask & (1u << (port - 1))) == 0) {
      ++port;
      continue;
    }
    int last = port;
    while (last < kPorts && (mask & (1u << last)) != 0) ++last;
    if (!out.empty()) out += ',';
    out += std::to_string(port);
    if (last > port) {
      out += '-';
      out += std::to_string(last);
    }
    port = last + 1;
  }
  return out.empty() ? "none" : out;
}

std::vector<int> PortNumbers(uint16_t mask) {
  std::vector<int> out;
  for (int port = 1; port <= kPorts; ++port)
    if ((mask & (1u << (port - 1))) != 0) out.push_back(port);
  return out;
}

}  // namespace zelin::ctl
