#include "emulator/port_traffic.hpp"

#include <algorithm>

namespace zelin::emulator {

PortTrafficSpec::PortTrafficSpec() {
  for (uint32_t p = 0; p < wire::kMaxPorts; ++p) {
    tx_cps[p] = 120 + 10 * p;
    rx_cps[p] = 60 + 5 * p;
  }
}

namespace {

// Bytes moved at `rate` per second in `ms` milliseconds, wrapping as the server's
// 32-bit counters do.
uint32_t Moved(uint32_t rate, int64_t ms) {
  return static_cast<uint32_t>(static_cast<uint64_t>(rate) * static_cast<uint64_t>(ms) / 1000);
}

}  // namespace

void WritePortStatus(const PortTrafficSpec& settings, const PortTraffic& traffic, size_t port,
                     MutableBytes out, size_t at) {
  const int64_t up = std::max<int64_t>(0, traffic.now_ms - traffic.booted_ms);
  const int64_t login_at = std::max(traffic.booted_ms, traffic.reset_ms[port]);
  const int64_t since_login = std::max<int64_t>(0, traffic.now_ms - login_at);
  const int64_t before_login = up - since_login;
  const uint32_t tx = settings.tx_cps[port], rx = settings.rx_cps[port];
  std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), settings.block_size, uint8_t{0});
  out[at + wire::kSbConnection] = settings.connection;
  out[at + wire::kSbModem] = settings.modem;
  out[at + wire::kSbLineFormat] = settings.line_format;
  out[at + wire::kSbFlow] = settings.flow;
  PutLe32(out, at + wire::kSbBaud, settings.baud);
  PutLe32(out, at + wire::kSbIdle,
          tx == 0 && rx == 0 ? static_cast<uint32_t>(since_login / 1000) : 0);
  PutIpv4(out, at + wire::kSbLoginHost, settings.login_host);
  PutLe32(out, at + wire::kSbLoginTime, static_cast<uint32_t>(since_login / 1000));
  PutLe32(out, at + wire::kSbTxTotal, Moved(tx, up));
  PutLe32(out, at + wire::kSbRxTotal, Moved(rx, up));
  PutLe32(out, at + wire::kSbTxCount, Moved(tx, up) - Moved(tx, before_login));
  PutLe32(out, at + wire::kSbRxCount, Moved(rx, up) - Moved(rx, before_login));
  PutLe32(out, at + wire::kSbTimeStamp, static_cast<uint32_t>(up));
  if (settings.block_size >= wire::kStatusBlockSize)
    PutLe16(out, at + wire::kSbInterface, static_cast<uint16_t>(settings.interface_code));
}

}  // namespace zelin::emulator
