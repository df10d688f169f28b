// zelinctl monitor: watches servers' ports as the port status monitor does and prints
// the chosen items every interval (a table refreshed in place, JSON lines or CSV), and
// can keep a file in the Prometheus text format for a textfile collector.

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "monitor/core/code_tables.hpp"
#include "monitor/core/exposition.hpp"
#include "monitor/core/monitor_file.hpp"
#include "monitor/core/polling.hpp"
#include "monitor/core/status_cells.hpp"
#include "platform/text_format.hpp"
#include "protocol/address.hpp"
#include "protocol/discovery.hpp"
#include "store/hive_file.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

using namespace zelin::monitor;

const char* const kUsage =
    "usage: zelinctl monitor [--file FILE.mnt] [SERIAL@ADDRESS[/PORTS]...] [OPTIONS]\n"
    "Watches the ports of up to 32 servers as the port status monitor does: locates each\n"
    "server, asks for the status of its watched ports every interval and prints them.\n"
    "PORTS lists ports from 1 (1,3,5-8); all ports of the model by default.\n"
    "  --file FILE.mnt    watch the servers and ports of a monitor file (its interval and\n"
    "                     columns are the defaults of --interval and --items)\n"
    "  --interval S       sampling interval in seconds, 1..20 (default 3)\n"
    "  --items LIST       items to print, comma-separated (default\n"
    "                     name,ip,port,connection,baud,tx_total,rx_total,interval_tx,interval_rx);\n"
    "                     'state' and the display items: model name mode ip port mapping\n"
    "                     connection idle login_ip login_time baud char_mode flow dtr rts\n"
    "                     dsr cts dcd tx_total rx_total tx_count rx_count tx_cps rx_cps\n"
    "                     interval_tx interval_rx interface\n"
    "  --count N          stop after N intervals (default: until interrupted)\n"
    "  --json             one JSON object per port and interval instead of the table\n"
    "  --csv              CSV with a header line instead of the table\n"
    "  --prom FILE        rewrite FILE (atomically) every interval in the Prometheus text\n"
    "                     format: the metrics are listed in tools/zelinctl/README.md\n";

// CLI keys of the display items, in item order.
constexpr std::array<std::string_view, kDisplayItemCount> kItemKeys = {
    "model",     "name",       "mode",     "ip",        "port",        "mapping",
    "connection", "idle",      "login_ip", "login_time", "baud",       "char_mode",
    "flow",      "dtr",        "rts",      "dsr",       "cts",         "dcd",
    "tx_total",  "rx_total",   "tx_count", "rx_count",  "tx_cps",      "rx_cps",
    "interval_tx", "interval_rx", "interface"};
constexpr int kStateItem = -1;  // the server state word

std::atomic<bool> g_stop{false};
void OnSignal(int) {
  g_stop = true;
}

std::optional<std::vector<int>> ParseItems(const std::string& text) {
  std::vector<int> items;
  std::stringstream in(text);
  std::string key;
  while (std::getline(in, key, ',')) {
    if (key == "state") {
      items.push_back(kStateItem);
      continue;
    }
    const auto it = std::find(kItemKeys.begin(), kItemKeys.end(), key);
    if (it == kItemKeys.end()) return std::nullopt;
    items.push_back(static_cast<int>(it - kItemKeys.begin()));
  }
  if (items.empty()) return std::nullopt;
  return items;
}

// "1,3,5-8" (ports from 1) as a mask; nullopt for a bad list.
std::optional<uint32_t> ParsePorts(const std::string& text) {
  uint32_t mask = 0;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    const size_t dash = part.find('-');
    const int from = ParseSerial(part.substr(0, dash));
    const int to = dash == std::string::npos ? from : ParseSerial(part.substr(dash + 1));
    if (from < 1 || to < from || to > static_cast<int>(kMaxPorts)) return std::nullopt;
    for (int p = from; p <= to; ++p) mask |= 1u << (p - 1);
  }
  if (mask == 0) return std::nullopt;
  return mask;
}

std::string_view StateWord(ServerState s) {
  switch (s) {
    case kStateAnswered: return "answering";
    case kStateNotAnswered: return "not-answering";
    case kStateSilent: return "silent";
    case kStateAddressConflict: return "address-conflict";
  }
  return "unknown";
}

// What the worker saw for each row since the last print, kept under the poller's lock.
class CtlObserver final : public PollingObserver {
 public:
  void RowUpdated(int row, size_t server, size_t port) override {
    // Called under the records lock, before the previous-reply samples move on.
    const MonitoredServer& s = config->servers[server];
    const PortRateSamples& r = s.rates[port];
    const PortStatusBlock& b = s.blocks[port];
    const uint32_t ms = b.time_stamp - r.previous_time_stamp;
    auto rate = [&](uint32_t total, uint32_t previous) {
      return total > previous ? CharactersPerSecond(total - previous, ms) : 0;
    };
    Row& out = rows[static_cast<size_t>(row)];
    out.tx_cps = rate(b.tx_total, r.previous_tx_total);
    out.rx_cps = rate(b.rx_total, r.previous_rx_total);
    out.updated = true;
  }
  void ServerStateChanged(size_t, ServerState, int, int) override {}

  struct Row {
    uint64_t tx_cps = 0, rx_cps = 0;
    bool updated = false;
    uint64_t missed = 0;  // intervals without a reply for this port
  };
  MonitorConfig* config = nullptr;
  std::array<Row, RowTable::kCapacity> rows{};
};

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

struct Monitor {
  Session session;
  std::unique_ptr<MonitorConfig> config = MonitorConfig::New();
  PortMappings mappings;
  CtlObserver observer;
  std::unique_ptr<PortPoller> poller;
  std::vector<int> items;
  size_t frame_lines = 0;  // lines of the table last printed (to redraw it in place)
  bool header_done = false;
  struct Carry {  // the 64-bit byte totals of one row
    CounterCarry tx, rx;
    int64_t last_ms = -1;
  };
  std::array<Carry, RowTable::kCapacity> carries{};

  // The text of `item` for a row, as the status list shows it.
  std::string Text(int item, size_t row) {
    const Row& r = poller->rows()[row];
    MonitoredServer& s = config->servers[r.server];
    const ServerState state = LoadState(s);
    if (item == kStateItem) return std::string(StateWord(state));
    if (item >= kFirstLiveItem && state != kStateAnswered) return "---";
    const bool gate = poller->throughput_gate();
    if (item == kItemIntervalTx || item == kItemIntervalRx) {
      if (!gate) return "0";
      const auto& o = observer.rows[row];
      return std::to_string(item == kItemIntervalTx ? o.tx_cps : o.rx_cps);
    }
    const CellSources sources{session.list, mappings, gate};
    return ItemText(static_cast<DisplayItem>(item), s, r.port, sources);
  }

  std::string Header(int item) const {
    return item == kStateItem ? std::string("state")
                              : std::string(kItemKeys[static_cast<size_t>(item)]);
  }

  void PrintTable() {
    std::vector<std::vector<std::string>> lines;
    lines.emplace_back();
    for (int item : items) lines.back().push_back(Header(item));
    for (size_t row = 0; row < poller->rows().size(); ++row) {
      lines.emplace_back();
      for (int item : items) lines.back().push_back(Text(item, row));
    }
    std::vector<size_t> width(items.size(), 0);
    for (const auto& l : lines)
      for (size_t c = 0; c < l.size(); ++c) width[c] = std::max(width[c], l[c].size());
    const bool tty = ::isatty(STDOUT_FILENO) != 0;
    if (tty && frame_lines > 0) std::printf("\x1b[%zuA\x1b[J", frame_lines);
    else if (frame_lines > 0) std::printf("\n");
    for (const auto& l : lines) {
      std::string text;
      for (size_t c = 0; c < l.size(); ++c) {
        text += l[c];
        if (c + 1 < l.size()) text += std::string(width[c] - l[c].size() + 2, ' ');
      }
      std::printf("%s\n", text.c_str());
    }
    frame_lines = lines.size();
  }

  void PrintRecords(bool json, uint32_t now) {
    if (!json && !header_done) {
      std::string h = "time,serial";
      for (int item : items) h += "," + Header(item);
      std::printf("%s\n", h.c_str());
      header_done = true;
    }
    for (size_t row = 0; row < poller->rows().size(); ++row) {
      const uint16_t serial = config->servers[poller->rows()[row].server].serial_number;
      if (json) {
        nlohmann::json j = {{"time", now}, {"serial", serial}};
        // Names come from devices and monitor files as they are: JSON takes only UTF-8.
        for (int item : items) j[Header(item)] = ValidUtf8(Text(item, row));
        std::printf("%s\n", j.dump().c_str());
      } else {
        std::string line = std::to_string(now) + "," + std::to_string(serial);
        for (int item : items) line.append(",").append(CsvField(Text(item, row)));
        std::printf("%s\n", line.c_str());
      }
    }
  }

  // The exposition text (monitor/core/exposition.hpp, shared with zelin-exporter): the
  // watched servers and the ports that have reported, with the byte counters carried
  // into 64-bit totals across wraps and restarts.
  std::string Metrics(int64_t now_ms) {
    std::vector<ServerSample> samples;
    auto watched = config->watched();
    for (size_t i = 0; i < watched.size(); ++i) {
      const MonitoredServer& s = watched[i];
      ServerSample out;
      out.serial = s.serial_number;
      out.address = s.ip_address;
      out.name = s.name();
      out.device_type = s.device_type;
      if (const int rec = poller->RecordOf(i); rec >= 0)
        out.firmware = session.list.records[static_cast<size_t>(rec)].firmware_version();
      out.state = LoadState(s);
      samples.push_back(std::move(out));
    }
    for (size_t row = 0; row < poller->rows().size(); ++row) {
      const Row& r = poller->rows()[row];
      const MonitoredServer& s = config->servers[r.server];
      if (s.rates[r.port].initialised == 0) continue;  // nothing reported yet
      const PortStatusBlock& b = s.blocks[r.port];
      Carry& c = carries[row];
      const int64_t elapsed = c.last_ms < 0 ? 0 : now_ms - c.last_ms;
      c.last_ms = now_ms;
      PortSample p;
      p.port = r.port;
      p.block = b;
      p.tx_bytes_total = c.tx.Update(b.tx_total, b.time_stamp, elapsed);
      p.rx_bytes_total = c.rx.Update(b.rx_total, b.time_stamp, elapsed);
      p.tx_bytes_per_second = observer.rows[row].tx_cps;
      p.rx_bytes_per_second = observer.rows[row].rx_cps;
      p.missed_samples = observer.rows[row].missed;
      samples[r.server].reported = true;
      samples[r.server].ports.push_back(p);
    }
    return WriteExposition(samples);
  }

  bool WriteMetrics(const std::string& path, int64_t now_ms) {
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    {
      std::ofstream out(temporary, std::ios::trunc);
      out << Metrics(now_ms);
      if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
  }
};

int RunMonitor(const Args& args) {
  const Parsed p =
      Parse(args, {"--file", "--interval", "--items", "--count", "--prom"}, {"--json", "--csv"});
  if (p.help || !p.error.empty()) return Usage(p, kUsage);
  auto usage = [&p](const std::string& what) {
    Parsed bad = p;
    bad.error = what;
    return Usage(bad, kUsage);
  };
  auto m = std::make_unique<Monitor>();
  MonitorConfig& config = *m->config;
  const std::string* file = p.value("--file");
  if (file != nullptr) {
    if (const Result<int> read = ReadMonitorFile(*file, config); !read) {
      std::fprintf(stderr, "zelinctl: %s: %s\n", file->c_str(), read.status().ToString().c_str());
      return read.status().Is(MonitorFileError::kCannotOpen) ? kExitNotFound : kExitFailed;
    }
    for (MonitoredServer& s : config.watched()) s.ClearRunTime();
  }
  if (p.positional.empty() && config.server_count == 0) return usage("no server to watch");
  if (p.positional.size() + config.server_count > kMaxWatchedServers)
    return usage("at most 32 servers");
  if (p.has("--json") && p.has("--csv")) return usage("--json and --csv exclude each other");
  int interval = file != nullptr ? config.interval : MonitorConfig::kDefaultInterval;
  if (const std::string* v = p.value("--interval")) {
    interval = ParseSerial(*v);
    if (interval < MonitorConfig::kMinInterval || interval > MonitorConfig::kMaxInterval)
      return usage("--interval is 1..20 seconds");
  }
  long count = -1;
  if (const std::string* v = p.value("--count")) {
    count = ParseSerial(*v);
    if (count < 1) return usage("--count is a number from 1");
  }

  std::string default_items = "name,ip,port,connection,baud,tx_total,rx_total,interval_tx,"
                              "interval_rx";
  if (file != nullptr) {  // the file's columns
    default_items.clear();
    for (DisplayItem item : ColumnsOf(config.column_mask))
      default_items += (default_items.empty() ? "" : ",") + std::string(kItemKeys[item]);
    if (default_items.empty()) default_items = "name,ip,port";
  }
  const auto items = ParseItems(p.value("--items") != nullptr ? *p.value("--items") : default_items);
  if (!items) return usage("unknown item in --items");
  m->items = *items;

  struct Watch {
    uint16_t serial;
    Ipv4 ip;
    std::optional<uint32_t> ports;
  };
  std::vector<Watch> watches;
  for (const std::string& text : p.positional) {
    const size_t at = text.find('@');
    const size_t slash = text.find('/');
    const int serial = at == std::string::npos ? -1 : ParseSerial(text.substr(0, at));
    const auto ip = at == std::string::npos
                        ? std::nullopt
                        : ParseAddress(text.substr(at + 1, slash == std::string::npos
                                                               ? std::string::npos
                                                               : slash - at - 1));
    std::optional<uint32_t> ports;
    if (slash != std::string::npos && !(ports = ParsePorts(text.substr(slash + 1))))
      return usage("bad port list in '" + text + "'");
    if (serial < 0 || !ip) return usage("'" + text + "' is not SERIAL@ADDRESS[/PORTS]");
    watches.push_back({static_cast<uint16_t>(serial), *ip, ports});
  }

  if (const int rc = OpenSession(p, m->session, Deliverable::Monitor, wire::kMonitorFirstLocalPort);
      rc != kExitOk)
    return rc;
  m->mappings.Load(HiveFile(ResolveRegistryPath()));
  config.interval = static_cast<uint16_t>(interval);
  for (const Watch& w : watches) {
    // As the configuration sheet adds a server: its model gives the port count.
    MonitoredServer& s = config.servers[config.server_count++];
    s.serial_number = w.serial;
    s.ip_address = w.ip;
    s.port_count = static_cast<uint16_t>(kMaxPorts);
    const Result<int> found = ProbeAddress(*m->session.transport, m->session.list, w.ip, 1);
    if (found) {
      const ServerRecord& r = m->session.list.records[static_cast<size_t>(*found)];
      s.port_count = static_cast<uint16_t>(MonitorPortCount(r.device_type()));
      s.set_name(r.name());
    }
    const uint32_t all = (1u << s.port_count) - 1;
    s.watched_mask = w.ports.value_or(all) & all;
  }

  m->observer.config = m->config.get();
  m->poller =
      std::make_unique<PortPoller>(*m->session.transport, config, m->session.list, m->observer);
  if (!m->poller->StartMonitoring()) {
    std::fprintf(stderr, "Create Thread Fail\n");
    return kExitEnvironment;
  }
  if (m->poller->rows().size() == 0) {
    std::fprintf(stderr, "zelinctl: no port to watch\n");
    return kExitNotFound;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  const std::string* prom = p.value("--prom");
  Clock& clock = m->session.clock;
  int rc = kExitOk;
  for (long n = 0; (count < 0 || n < count) && !g_stop; ++n) {
    const int64_t until = clock.NowMs() + int64_t{interval} * 1000;
    while (!g_stop && clock.NowMs() < until) clock.SleepMs(std::min<int64_t>(100, until - clock.NowMs()));
    {
      std::lock_guard lock(m->poller->records_mutex());
      for (size_t row = 0; row < m->poller->rows().size(); ++row) {
        auto& o = m->observer.rows[row];
        if (!o.updated) ++o.missed;
        o.updated = false;
      }
      if (p.has("--json") || p.has("--csv")) {
        m->PrintRecords(p.has("--json"), clock.UnixSeconds());
      } else {
        m->PrintTable();
      }
      std::fflush(stdout);
      if (prom != nullptr && !m->WriteMetrics(*prom, clock.NowMs())) {
        std::fprintf(stderr, "zelinctl: cannot write %s\n", prom->c_str());
        rc = kExitFailed;
        break;
      }
    }
    m->poller->RunDueTimers();
  }
  m->poller->StopMonitoring();
  return rc;
}

const Registration kMonitor({"monitor", "watch servers' ports (table, JSON, CSV, Prometheus)",
                             RunMonitor});

}  // namespace
}  // namespace zelin::ctl
