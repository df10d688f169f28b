#include "monitor/core/records.hpp"

#include <algorithm>
#include <cassert>

namespace zelin::monitor {

namespace {

void PutI32(MutableBytes b, size_t at, int32_t v) { PutLe32(b, at, static_cast<uint32_t>(v)); }
int32_t GetI32(Bytes b, size_t at) { return static_cast<int32_t>(GetLe32(b, at)); }

}  // namespace

// ---- PortStatusBlock ----

void PortStatusBlock::Encode(MutableBytes out, size_t at) const {
  assert(at + kSize <= out.size());
  out[at + 0] = connection_state;
  out[at + 1] = modem_lines;
  out[at + 2] = line_format;
  out[at + 3] = flow_control;
  PutLe32(out, at + 4, baud_rate);
  PutLe32(out, at + 8, idle_time);
  std::copy(unused.begin(), unused.end(), out.begin() + static_cast<ptrdiff_t>(at + 12));
  PutIpv4(out, at + 64, login_host);
  PutLe32(out, at + 68, login_time);
  PutLe32(out, at + 72, tx_total);
  PutLe32(out, at + 76, rx_total);
  PutLe32(out, at + 80, tx_count);
  PutLe32(out, at + 84, rx_count);
  PutLe32(out, at + 88, time_stamp);
  PutLe16(out, at + 92, static_cast<uint16_t>(interface_code));
}

PortStatusBlock PortStatusBlock::DecodeShort(Bytes in, size_t at) {
  assert(at + kShortSize <= in.size());
  PortStatusBlock b;
  b.connection_state = in[at + 0];
  b.modem_lines = in[at + 1];
  b.line_format = in[at + 2];
  b.flow_control = in[at + 3];
  b.baud_rate = GetLe32(in, at + 4);
  b.idle_time = GetLe32(in, at + 8);
  std::copy_n(in.begin() + static_cast<ptrdiff_t>(at + 12), kUnusedSize, b.unused.begin());
  b.login_host = GetIpv4(in, at + 64);
  b.login_time = GetLe32(in, at + 68);
  b.tx_total = GetLe32(in, at + 72);
  b.rx_total = GetLe32(in, at + 76);
  b.tx_count = GetLe32(in, at + 80);
  b.rx_count = GetLe32(in, at + 84);
  b.time_stamp = GetLe32(in, at + 88);
  b.interface_code = kNoInterface;
  return b;
}

PortStatusBlock PortStatusBlock::Decode(Bytes in, size_t at) {
  assert(at + kSize <= in.size());
  PortStatusBlock b = DecodeShort(in, at);
  b.interface_code = static_cast<int16_t>(GetLe16(in, at + 92));
  return b;
}

// ---- PortRateSamples ----

void PortRateSamples::Encode(MutableBytes out, size_t at) const {
  assert(at + kSize <= out.size());
  PutI32(out, at, initialised);
  PutLe32(out, at + 4, first_tx_total);
  PutLe32(out, at + 8, first_rx_total);
  PutLe32(out, at + 12, first_time_stamp);
  PutLe32(out, at + 16, reserved);
  PutLe32(out, at + 20, previous_tx_total);
  PutLe32(out, at + 24, previous_rx_total);
  PutLe32(out, at + 28, previous_time_stamp);
  PutLe32(out, at + 32, silence_time_stamp);
}

PortRateSamples PortRateSamples::Decode(Bytes in, size_t at) {
  assert(at + kSize <= in.size());
  PortRateSamples r;
  r.initialised = GetI32(in, at);
  r.first_tx_total = GetLe32(in, at + 4);
  r.first_rx_total = GetLe32(in, at + 8);
  r.first_time_stamp = GetLe32(in, at + 12);
  r.reserved = GetLe32(in, at + 16);
  r.previous_tx_total = GetLe32(in, at + 20);
  r.previous_rx_total = GetLe32(in, at + 24);
  r.previous_time_stamp = GetLe32(in, at + 28);
  r.silence_time_stamp = GetLe32(in, at + 32);
  return r;
}

// ---- MonitoredServer ----

std::string MonitoredServer::name() const {
  return std::string(name_bytes.data(), std::find(name_bytes.begin(), name_bytes.end(), '\0'));
}

void MonitoredServer::set_name(std::string_view n) {
  name_bytes.fill('\0');
  std::copy_n(n.begin(), std::min(n.size(), kNameSize - 1), name_bytes.begin());
}

void MonitoredServer::ClearRunTime() {
  state = kStateNotAnswered;
  rates.fill(PortRateSamples{});
  blocks.fill(PortStatusBlock{});
  received_mask = 0;
}

void MonitoredServer::Encode(MutableBytes out, size_t at) const {
  assert(at + kSize <= out.size());
  PutI32(out, at + kStateAt, state);
  PutLe16(out, at + kPortCountAt, port_count);
  PutLe16(out, at + kSerialAt, serial_number);
  for (size_t i = 0; i < kNameSize; ++i) out[at + kNameAt + i] = static_cast<uint8_t>(name_bytes[i]);
  PutLe32(out, at + kWatchedAt, watched_mask);
  PutIpv4(out, at + kAddressAt, ip_address);
  for (size_t p = 0; p < kMaxPorts; ++p) {
    rates[p].Encode(out, at + kRatesAt + PortRateSamples::kSize * p);
    blocks[p].Encode(out, at + kBlocksAt + PortStatusBlock::kSize * p);
  }
  PutLe16(out, at + kDeviceTypeAt, device_type);
  std::copy(port_kinds.begin(), port_kinds.end(),
            out.begin() + static_cast<ptrdiff_t>(at + kPortKindsAt));
}

MonitoredServer MonitoredServer::Decode(Bytes in, size_t at) {
  assert(at + kSize <= in.size());
  MonitoredServer s;
  s.state = GetI32(in, at + kStateAt);
  s.port_count = GetLe16(in, at + kPortCountAt);
  s.serial_number = GetLe16(in, at + kSerialAt);
  for (size_t i = 0; i < kNameSize; ++i) s.name_bytes[i] = static_cast<char>(in[at + kNameAt + i]);
  s.watched_mask = GetLe32(in, at + kWatchedAt);
  s.ip_address = GetIpv4(in, at + kAddressAt);
  for (size_t p = 0; p < kMaxPorts; ++p) {
    s.rates[p] = PortRateSamples::Decode(in, at + kRatesAt + PortRateSamples::kSize * p);
    s.blocks[p] = PortStatusBlock::Decode(in, at + kBlocksAt + PortStatusBlock::kSize * p);
  }
  s.device_type = GetLe16(in, at + kDeviceTypeAt);
  std::copy_n(in.begin() + static_cast<ptrdiff_t>(at + kPortKindsAt), kMaxPorts,
              s.port_kinds.begin());
  return s;
}

ServerState LoadState(const MonitoredServer& server) {
  // atomic_ref needs a non-const object; the load does not write.
  auto& word = const_cast<int32_t&>(server.state);
  return static_cast<ServerState>(std::atomic_ref<int32_t>(word).load(std::memory_order_acquire));
}

void StoreState(MonitoredServer& server, ServerState state) {
  std::atomic_ref<int32_t>(server.state).store(state, std::memory_order_release);
}

// ---- MonitorConfig ----

std::unique_ptr<MonitorConfig> MonitorConfig::WithoutRunTime() const {
  auto copy = New();
  copy->interval = interval;
  copy->server_count = server_count;
  copy->column_mask = column_mask;
  for (size_t i = 0; i < kMaxWatchedServers; ++i) {
    const MonitoredServer& from = servers[i];
    MonitoredServer& to = copy->servers[i];
    to.port_count = from.port_count;
    to.serial_number = from.serial_number;
    to.name_bytes = from.name_bytes;
    to.watched_mask = from.watched_mask;
    to.ip_address = from.ip_address;
    to.device_type = from.device_type;
    to.port_kinds = from.port_kinds;
  }
  return copy;
}

std::span<MonitoredServer> MonitorConfig::watched() {
  return std::span(servers).first(std::min<size_t>(server_count, kMaxWatchedServers));
}

std::span<const MonitoredServer> MonitorConfig::watched() const {
  return std::span(servers).first(std::min<size_t>(server_count, kMaxWatchedServers));
}

void MonitorConfig::Encode(MutableBytes out) const {
  assert(out.size() == kSize);
  PutLe16(out, 0, interval);
  PutLe16(out, 2, server_count);
  PutLe32(out, 4, column_mask);
  for (size_t i = 0; i < kMaxWatchedServers; ++i)
    servers[i].Encode(out, kHeaderSize + MonitoredServer::kSize * i);
}

std::vector<uint8_t> MonitorConfig::Image() const {
  std::vector<uint8_t> image(kSize);
  Encode(image);
  return image;
}

void MonitorConfig::Decode(Bytes in, MonitorConfig& out) {
  assert(in.size() == kSize);
  out.interval = GetLe16(in, 0);
  out.server_count = GetLe16(in, 2);
  out.column_mask = GetLe32(in, 4);
  for (size_t i = 0; i < kMaxWatchedServers; ++i)
    out.servers[i] = MonitoredServer::Decode(in, kHeaderSize + MonitoredServer::kSize * i);
}

}  // namespace zelin::monitor
