// A datagram on a watched server's socket as the monitor's receiving thread judges it
// (monitor::AcceptStatusReply, the status replies with 94- or 92-byte blocks), then the
// texts the status list and the port status window make of every port it stored.
// Input: a selector byte (bits 0-1: the sender is watched server 10, server 11 or a
// stranger; bit 2: the throughput gate is set; bit 3: the datagram arrived longer than
// it was kept; bit 4: the ports already hold rate samples), two bytes of watched-port
// mask for both servers, seven 32-bit values of the earlier samples (first Tx and Rx
// totals and time stamp, previous Tx and Rx totals and time stamp, silence stamp),
// then the datagram. The port status window of the port in the datagram's first place
// is opened before the reply and ticks after it.
//
// Invariants: a skipped datagram changes nothing; the record's sequence moves on by
// one or not at all; only the accepted server's reported ports change, each holding
// exactly the block of its place (a long block re-encodes to the bytes received, a
// short one to them and an interface code of -1) and samples that were set stay as
// they were; texts are made of any block and samples.

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.hpp"
#include "monitor/core/polling.hpp"
#include "monitor/core/port_mapping.hpp"
#include "monitor/core/port_status_model.hpp"
#include "monitor/core/status_cells.hpp"

namespace {

using namespace zelin;
using namespace zelin::monitor;

constexpr size_t kServers = 2;

std::array<uint8_t, MonitoredServer::kSize> Image(const MonitoredServer& s) {
  std::array<uint8_t, MonitoredServer::kSize> out{};
  s.Encode(out);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const PortMappings mappings;
  static const ServerList found;
  static const auto config = [] {
    auto c = MonitorConfig::New();
    c->server_count = kServers;
    for (uint16_t i = 0; i < kServers; ++i) {
      MonitoredServer& s = c->servers[i];
      s.serial_number = static_cast<uint16_t>(10 + i);
      s.ip_address = Ipv4FromOctets(127, 0, 0, static_cast<uint8_t>(10 + i));
      s.port_count = 16;
      s.set_name("Bench");
    }
    return c;
  }();

  FuzzInput in(data, size);
  const uint8_t selector = in.Byte();
  auto take = [&in](int bytes) {  // little-endian, one byte after the other
    uint32_t x = 0;
    for (int k = 0; k < bytes; ++k) x |= uint32_t{in.Byte()} << (8 * k);
    return x;
  };
  const auto mask = static_cast<uint16_t>(take(2));
  std::array<uint32_t, 7> v{};
  for (auto& x : v) x = take(4);
  PortRateSamples samples;
  if ((selector & 16) != 0) {
    samples.initialised = 1;
    samples.first_tx_total = v[0], samples.first_rx_total = v[1], samples.first_time_stamp = v[2];
    samples.previous_tx_total = v[3], samples.previous_rx_total = v[4];
    samples.previous_time_stamp = v[5], samples.silence_time_stamp = v[6];
  }
  size_t length = 0;
  const uint8_t* bytes = in.Take(size, &length);
  const Bytes datagram(bytes, std::min(length, kStatusReplySize));
  const size_t full_length = length + ((selector & 8) != 0 ? 1 : 0);
  const Ipv4 senders[] = {config->servers[0].ip_address, config->servers[1].ip_address,
                          Ipv4FromOctets(127, 0, 0, 99)};
  const Ipv4 sender = senders[(selector & 3) % 3];

  MonitorConfig& work = *config;
  for (size_t i = 0; i < kServers; ++i) {
    work.servers[i].ClearRunTime();
    work.servers[i].watched_mask = mask;
    work.servers[i].rates.fill(samples);
  }
  ServerRecord record;
  record.sequence = 4;
  std::array<MonitoredServer, kServers> before{work.servers[0], work.servers[1]};
  const size_t window_port = datagram.size() > wire::kQueryReplyPlaces
                                 ? datagram[wire::kQueryReplyPlaces] % kMaxPorts
                                 : 0;
  std::vector<std::unique_ptr<PortStatusModel>> windows;
  for (size_t i = 0; i < kServers; ++i) {
    windows.push_back(
        std::make_unique<PortStatusModel>(work.servers[i], window_port, found, mappings));
    windows.back()->Open();
  }

  const ReplyOutcome out = AcceptStatusReply(datagram, full_length, sender, record, work);
  FUZZ_CHECK(record.sequence == 4 || record.sequence == 5);
  if (out.verdict == ReplyVerdict::kSkipped) {
    FUZZ_CHECK(record.sequence == 4);
    for (size_t i = 0; i < kServers; ++i) FUZZ_CHECK(Image(work.servers[i]) == Image(before[i]));
    return 0;
  }
  if (out.verdict != ReplyVerdict::kAccepted) return 0;

  FUZZ_CHECK(out.server_index >= 0 && static_cast<size_t>(out.server_index) < kServers);
  FUZZ_CHECK(record.sequence == 5);
  MonitoredServer& server = work.servers[static_cast<size_t>(out.server_index)];
  FUZZ_CHECK(server.serial_number == GetLe16(datagram, wire::kReplySerial));
  FUZZ_CHECK(LoadState(server) == kStateAnswered);
  for (size_t i = 0; i < kServers; ++i)
    if (i != static_cast<size_t>(out.server_index))
      FUZZ_CHECK(Image(work.servers[i]) == Image(before[i]));

  const size_t block_size = (datagram.size() - wire::kQueryReplyBlocks) % PortStatusBlock::kSize == 0
                                ? PortStatusBlock::kSize
                                : PortStatusBlock::kShortSize;
  uint16_t reported = 0;
  const CellSources sources{found, mappings, (selector & 4) != 0};
  for (size_t k = 0; k < wire::kQueryPlaceCount; ++k) {
    const uint8_t p = static_cast<uint8_t>(out.ports >> (8 * k));
    if (p == wire::kQueryPlaceUnused) continue;
    FUZZ_CHECK(p < kMaxPorts && server.watches(p) && p == datagram[wire::kQueryReplyPlaces + k]);
    const size_t at = wire::kQueryReplyBlocks + block_size * k;
    FUZZ_CHECK(at + block_size <= datagram.size());
    std::array<uint8_t, PortStatusBlock::kSize> encoded{};
    server.blocks[p].Encode(encoded);
    FUZZ_CHECK(std::equal(encoded.begin(), encoded.begin() + static_cast<ptrdiff_t>(block_size),
                          datagram.begin() + static_cast<ptrdiff_t>(at)));
    if (block_size == PortStatusBlock::kShortSize)
      FUZZ_CHECK(server.blocks[p].interface_code == PortStatusBlock::kNoInterface);
    reported = static_cast<uint16_t>(reported | 1u << p);
  }
  // The ports that were not reported keep their blocks and samples; samples that were
  // set stay, others are the block's.
  MonitoredServer expected = before[static_cast<size_t>(out.server_index)];
  StoreState(expected, kStateAnswered);
  for (size_t p = 0; p < kMaxPorts; ++p) {
    if ((reported >> p & 1u) == 0) continue;
    expected.blocks[p] = server.blocks[p];
    if (samples.initialised != 0) continue;
    FUZZ_CHECK(server.rates[p].first_time_stamp == server.blocks[p].time_stamp);
    expected.rates[p] = server.rates[p];
  }
  FUZZ_CHECK(Image(expected) == Image(server));

  for (size_t p = 0; p < kMaxPorts; ++p) {
    if ((reported >> p & 1u) == 0) continue;
    for (size_t item = 0; item < kDisplayItemCount; ++item)
      (void)ItemText(static_cast<DisplayItem>(item), server, p, sources);
  }
  for (auto& window : windows) {
    window->Tick();
    (void)window->Title();
  }
  return 0;
}
