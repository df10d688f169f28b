#include "monitor/core/exposition.hpp"

#include <array>
#include <cstdio>
#include <functional>
#include <sstream>

#include "monitor/core/code_tables.hpp"
#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::monitor {
namespace {

constexpr std::array<ServerState, 4> kServerStates = {kStateAnswered, kStateNotAnswered,
                                                      kStateSilent, kStateAddressConflict};
constexpr std::array<std::string_view, 5> kConnectionStates = {"close", "open", "connected",
                                                               "disconnect", "unknown"};
constexpr std::array<std::pair<std::string_view, uint8_t>, 5> kModemLines = {{
    {"dtr", kModemDtr}, {"rts", kModemRts}, {"cts", kModemCts}, {"dsr", kModemDsr},
    {"dcd", kModemDcd}}};

// Writes one family: HELP and TYPE, then the lines `write` gives, when it gives any.
class Writer {
 public:
  void Family(std::string_view name, std::string_view type, std::string_view help,
              const std::function<void(std::ostream&)>& write) {
    std::ostringstream lines;
    write(lines);
    if (lines.tellp() <= 0) return;
    out_ << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n'
         << lines.str();
  }
  std::string str() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

std::string ServerLabels(const ServerSample& s) {
  return "serial=\"" + std::to_string(s.serial) + "\"";
}
std::string PortLabels(const ServerSample& s, const PortSample& p) {
  return ServerLabels(s) + ",port=\"" + std::to_string(p.port + 1) + "\"";
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  const std::string valid = ValidUtf8(value);
  std::string out;
  out.reserve(valid.size());
  for (char c : valid) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

std::string_view ServerStateName(ServerState state) {
  switch (state) {
    case kStateAnswered: return "answering";
    case kStateNotAnswered: return "not_answering";
    case kStateSilent: return "silent";
    case kStateAddressConflict: return "address_conflict";
  }
  return "not_answering";
}

std::string_view ConnectionStateName(uint8_t code) {
  if (code == 0) return kConnectionStates[0];
  if (code == 1) return kConnectionStates[1];
  if (code == 13) return kConnectionStates[2];
  if (code == 11 || code == 12 || (code >= 14 && code <= 20)) return kConnectionStates[3];
  return kConnectionStates[4];
}

uint64_t CounterCarry::Update(uint32_t raw, uint32_t time_stamp, int64_t elapsed_ms) {
  if (!started_) {
    started_ = true;
    total_ = raw;
  } else {
    // The clock's own wrap moves it on by at most the time that passed here (with a
    // minute's slack for the two clocks' drift and the replies' delays).
    const uint32_t advanced = time_stamp - stamp_;
    const bool clock_back = time_stamp < stamp_;
    const bool restart = clock_back && int64_t{advanced} > std::max<int64_t>(elapsed_ms, 0) + 60000;
    if (restart) {
      total_ += raw;
      ++restarts_;
    } else if (raw >= raw_) {
      total_ += raw - raw_;
    } else {
      total_ += uint64_t{raw} + (uint64_t{1} << 32) - raw_;
    }
  }
  raw_ = raw;
  stamp_ = time_stamp;
  return total_;
}

std::string FirmwareLabel(uint32_t v) {
  if (v == 0) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%X.%02X.%04X", (v >> 24) & 0xFF, (v >> 16) & 0xFF, v & 0xFFFF);
  return buf;
}

std::string WriteExposition(const std::vector<ServerSample>& servers) {
  Writer w;
  auto each_server = [&](const std::function<void(std::ostream&, const ServerSample&)>& f) {
    return [&servers, f](std::ostream& o) {
      for (const ServerSample& s : servers) f(o, s);
    };
  };
  auto each_port = [&](const std::function<void(std::ostream&, const ServerSample&,
                                                const PortSample&)>& f) {
    return [&servers, f](std::ostream& o) {
      for (const ServerSample& s : servers)
        for (const PortSample& p : s.ports) f(o, s, p);
    };
  };

  w.Family("zelin_server_info", "gauge",
           "Identity of a device server: name, address, model and firmware (always 1).",
           each_server([](std::ostream& o, const ServerSample& s) {
             o << "zelin_server_info{" << ServerLabels(s) << ",address=\""
               << AddressToText(s.address) << "\",name=\"" << EscapeLabelValue(s.name)
               << "\",model=\"" << EscapeLabelValue(MonitorModelName(s.device_type))
               << "\",firmware=\"" << FirmwareLabel(s.firmware) << "\"} 1\n";
           }));
  w.Family("zelin_server_state", "gauge",
           "State of a device server: 1 for the state it is in, 0 for the others.",
           each_server([](std::ostream& o, const ServerSample& s) {
             for (ServerState st : kServerStates)
               o << "zelin_server_state{" << ServerLabels(s) << ",state=\"" << ServerStateName(st)
                 << "\"} " << (st == s.state ? 1 : 0) << '\n';
           }));
  w.Family("zelin_server_uptime_seconds", "gauge",
           "Time since the device server started, by its own clock (wraps after 49.7 days).",
           each_server([](std::ostream& o, const ServerSample& s) {
             if (!s.reported || s.ports.empty()) return;
             const uint32_t ms = s.ports.front().block.time_stamp;
             o << "zelin_server_uptime_seconds{" << ServerLabels(s) << "} " << ms / 1000 << '.'
               << (ms % 1000) / 100 << (ms % 100) / 10 << ms % 10 << '\n';
           }));
  w.Family("zelin_port_info", "gauge",
           "Settings of a serial port: interface, character mode and flow control (always 1).",
           each_port([](std::ostream& o, const ServerSample& s, const PortSample& p) {
             o << "zelin_port_info{" << PortLabels(s, p) << ",interface=\""
               << InterfaceText(p.block.interface_code) << "\",character_mode=\""
               << EscapeLabelValue(CharacterModeText(p.block.line_format)) << "\",flow_control=\""
               << EscapeLabelValue(FlowControlText(p.block.flow_control)) << "\"} 1\n";
           }));
  w.Family("zelin_port_connection_state", "gauge",
           "Connection state of a serial port: 1 for the state it is in, 0 for the others.",
           each_port([](std::ostream& o, const ServerSample& s, const PortSample& p) {
             const std::string_view now = ConnectionStateName(p.block.connection_state);
             for (std::string_view st : kConnectionStates)
               o << "zelin_port_connection_state{" << PortLabels(s, p) << ",state=\"" << st
                 << "\"} " << (st == now ? 1 : 0) << '\n';
           }));
  w.Family("zelin_port_modem_line_on", "gauge", "Modem line of a serial port: 1 on, 0 off.",
           each_port([](std::ostream& o, const ServerSample& s, const PortSample& p) {
             for (const auto& [line, bit] : kModemLines)
               o << "zelin_port_modem_line_on{" << PortLabels(s, p) << ",line=\"" << line
                 << "\"} " << ((p.block.modem_lines & bit) != 0 ? 1 : 0) << '\n';
           }));
  w.Family("zelin_port_baud_rate", "gauge", "Baud rate a serial port is set to.",
           each_port([](std::ostream& o, const ServerSample& s, const PortSample& p) {
             o << "zelin_port_baud_rate{" << PortLabels(s, p) << "} "
               << p.block.baud_rate << '\n';
           }));
  w.Family("zelin_port_idle_seconds", "gauge", "Time since a serial port last moved data.",
           each_port([](std::ostream& o, const ServerSample& s, const PortSample& p) {
             o << "zelin_port_idle_seconds{" << PortLabels(s, p) << "} " << p.block.idle_time
               << '\n';
           }));
  w.Family("zelin_port_tx_bytes_total", "counter",
           "Bytes a serial port sent, carried across the device counter's wraps and restarts.",
           each_port([](std::ostream& o, const ServerSample& s, const PortSample& p) {
             o << "zelin_port_tx_bytes_total{" << PortLabels(s, p) << "} " << p.tx_bytes_total
               << '\n';
           }));
  w.Family("zelin_port_rx_bytes_total", "counter",
           "Bytes a serial port received, carried across the device counter's wraps and "
           "restarts.",
           each_port([](std::ostream& o, const ServerSample& s, const PortSample& p) {
             o << "zelin_port_rx_bytes_total{" << PortLabels(s, p) << "} " << p.rx_bytes_total
               << '\n';
           }));
  auto optional_family = [&](std::string_view name, std::string_view type, std::string_view help,
                             std::optional<uint64_t> PortSample::*field) {
    w.Family(name, type, help,
             each_port([name, field](std::ostream& o, const ServerSample& s, const PortSample& p) {
               if (const auto& v = p.*field)
                 o << name << '{' << PortLabels(s, p) << "} " << *v << '\n';
             }));
  };
  optional_family("zelin_port_tx_bytes_per_second", "gauge",
                  "Bytes per second a serial port sent between the last two status replies.",
                  &PortSample::tx_bytes_per_second);
  optional_family("zelin_port_rx_bytes_per_second", "gauge",
                  "Bytes per second a serial port received between the last two status replies.",
                  &PortSample::rx_bytes_per_second);
  optional_family("zelin_port_missed_samples_total", "counter",
                  "Sampling intervals in which no status of a serial port arrived.",
                  &PortSample::missed_samples);
  return w.str();
}

}  // namespace zelin::monitor
