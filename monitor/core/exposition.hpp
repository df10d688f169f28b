#pragma once
// Port status in the Prometheus text exposition format, one writer for every program
// that feeds Prometheus: `zelin-exporter` (one server per /probe answer) and
// `zelinctl monitor --prom` (every watched server in a textfile-collector file).
//
// The families (all under the one prefix `zelin_`):
//
//   zelin_server_info{serial,address,name,model,firmware} 1
//       the changeable identity of a server, once; every other series carries only
//       `serial` (and `port`), so that a renamed server keeps its series
//   zelin_server_state{serial,state}            1 for the server's state, 0 for the others
//   zelin_server_uptime_seconds{serial}          the server's own clock (since it started)
//   zelin_port_info{serial,port,interface,character_mode,flow_control} 1
//   zelin_port_connection_state{serial,port,state}   1 for the port's state, 0 for the others
//   zelin_port_modem_line_on{serial,port,line}   1 on, 0 off, for dtr rts cts dsr dcd
//   zelin_port_baud_rate{serial,port}
//   zelin_port_idle_seconds{serial,port}
//   zelin_port_tx_bytes_total, zelin_port_rx_bytes_total{serial,port}
//       64-bit totals carried across the device's 32-bit wraps and restarts
//       (CounterCarry), so that rate() sees neither as a counter reset
//   zelin_port_tx_bytes_per_second, zelin_port_rx_bytes_per_second,
//   zelin_port_missed_samples_total{serial,port}
//       only where the writer has them (zelinctl monitor keeps the interval figures)
//
// Label values are made valid UTF-8 (ValidUtf8) and escaped (backslash, double quote,
// line feed), so a name in a legacy code page or with quotes never breaks a scrape.
// Pure functions and plain values; CounterCarry is not thread-safe (one per owner).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/core/records.hpp"

namespace zelin::monitor {

// A label value as the text format takes it: valid UTF-8, with `\`, `"` and line feeds
// escaped.
std::string EscapeLabelValue(std::string_view value);

// The state word of zelin_server_state.
std::string_view ServerStateName(ServerState state);
// The state word of zelin_port_connection_state: "close", "open", "connected",
// "disconnect" or "unknown" (the code tables' groups).
std::string_view ConnectionStateName(uint8_t code);

// Carries a device's 32-bit byte counters (bytes since the server started) into 64-bit
// totals that only grow. Each sample gives the raw counter and the server's millisecond
// time stamp:
//   - the first sample of a port starts its total at the raw value;
//   - a time stamp that went back (beyond what the 32-bit clock's own wrap explains for
//     the time that passed here) is a restart: the new raw value is all new bytes;
//   - otherwise a raw value below the previous one is a wrap: the bytes are
//     raw + 2^32 - previous.
class CounterCarry {
 public:
  // Feeds one sample; `elapsed_ms` is the time that passed on the caller's clock since
  // the previous sample of this counter. Returns the 64-bit total.
  uint64_t Update(uint32_t raw, uint32_t time_stamp, int64_t elapsed_ms);
  uint64_t total() const { return total_; }
  bool started() const { return started_; }
  // Restarts seen (for tests and the exporter's own figures).
  uint64_t restarts() const { return restarts_; }

 private:
  bool started_ = false;
  uint32_t raw_ = 0;
  uint32_t stamp_ = 0;
  uint64_t total_ = 0;
  uint64_t restarts_ = 0;
};

// One port of a server as the writer shows it.
struct PortSample {
  size_t port = 0;  // from 0; shown from 1
  PortStatusBlock block;
  uint64_t tx_bytes_total = 0;  // carried totals (CounterCarry)
  uint64_t rx_bytes_total = 0;
  std::optional<uint64_t> tx_bytes_per_second;  // zelinctl's interval figures
  std::optional<uint64_t> rx_bytes_per_second;
  std::optional<uint64_t> missed_samples;
};

// One server as the writer shows it. `ports` are those that reported (the others have
// no port series).
struct ServerSample {
  uint16_t serial = 0;
  Ipv4 address = 0;
  std::string name;
  DeviceType device_type = 0;
  uint32_t firmware = 0;  // 0: not known
  ServerState state = kStateNotAnswered;
  bool reported = false;  // a status block arrived: the uptime is known
  std::vector<PortSample> ports;
};

// The exposition text of `servers` (HELP and TYPE once per family, every family that
// has a sample). Families without any sample are left out.
std::string WriteExposition(const std::vector<ServerSample>& servers);

// The firmware word as the suite shows it ("2.20.0103"); empty for 0 (not known).
std::string FirmwareLabel(uint32_t firmware);

}  // namespace zelin::monitor
