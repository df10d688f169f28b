#include "monitor/core/port_mapping.hpp"

#include <algorithm>
#include <utility>

#include "platform/text_format.hpp"

namespace zelin::monitor {

namespace {

size_t IndexOf(ProductLine line) {
  switch (line) {
    case ProductLine::kZelin: return 0;
    case ProductLine::kZelit: return 1;
    case ProductLine::kZelinExpress: return 2;
  }
  return 0;
}

}  // namespace

void PortMappings::Load(const HiveFile& hive) {
  for (ProductLine line : {ProductLine::kZelin, ProductLine::kZelit, ProductLine::kZelinExpress}) {
    std::vector<ServerConfig> table(kMaxConfiguredServers);
    const Result<int> loaded = LoadServerStore(hive, line, table);
    table.resize(loaded.ok() ? static_cast<size_t>(*loaded) : 0);
    Set(line, std::move(table));
  }
}

void PortMappings::Set(ProductLine line, std::vector<ServerConfig> servers) {
  lines_[IndexOf(line)] = std::move(servers);
}

std::span<const ServerConfig> PortMappings::Servers(ProductLine line) const {
  return lines_[IndexOf(line)];
}

std::optional<ProductLine> PortMappings::LineOf(DeviceType type) {
  if ((type & 0x2100) == 0x2100 || (type & 0x2500) == 0x2500) return ProductLine::kZelin;
  switch (type) {
    case 771: case 776: case 9491: case 9496: case 9747: case 9752:
      return ProductLine::kZelin;
    case 769: case 770: case 772: case 817: case 818: case 820:
      return ProductLine::kZelit;
    case 785: case 33553:
      return ProductLine::kZelinExpress;
    default:
      return std::nullopt;
  }
}

std::string PortMappings::Text(const ServerList& found, const MonitoredServer& server,
                               size_t port) const {
  const ServerRecord* record = FindFoundServer(found, server);
  if (record == nullptr || port >= kMaxPorts) return "---";
  const uint8_t kind = record->port_kind(port);
  if ((kind & 0x0F) != kPortMappable) return kind == kPortWan ? "WAN" : "---";
  const std::optional<ProductLine> line = LineOf(record->device_type());
  if (!line) return "";
  for (const ServerConfig& config : Servers(*line)) {
    if (config.serial_number != server.serial_number || config.ip_address != server.ip_address)
      continue;
    if (config.port_mapped[port] == 0) return "COM";
    return Format("COM%d", ComNumberOf(config.com_number[port]));
  }
  return "COM";
}

const ServerRecord* FindFoundServer(const ServerList& found, const MonitoredServer& server) {
  const int count = std::clamp(found.count, 0, static_cast<int>(kMaxServers));
  for (int i = 0; i < count; ++i) {
    const ServerRecord& r = found.records[static_cast<size_t>(i)];
    if (r.serial_number() == server.serial_number && r.ip_address() == server.ip_address)
      return &r;
  }
  return nullptr;
}

ServerRecord* FindFoundServer(ServerList& found, const MonitoredServer& server) {
  return const_cast<ServerRecord*>(FindFoundServer(std::as_const(found), server));
}

}  // namespace zelin::monitor
