#include "srvmanager/core/port_mapper.hpp"

#include <algorithm>
#include <utility>

#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

constexpr int kMaxComNumber = 256;

}  // namespace

std::vector<std::string> MapPortItems() {
  std::vector<std::string> items;
  items.reserve(kMaxComNumber + 1);
  items.emplace_back("NONE");
  for (int n = 1; n <= kMaxComNumber; ++n) items.push_back(Format("COM%d", n));
  return items;
}

std::vector<std::string> PortMapper::PortColumns() {
  std::vector<std::string> cols;
  const std::string_view s = ManagerString(kStrPortColumns);
  size_t start = 0;
  while (true) {
    const size_t comma = s.find(',', start);
    cols.emplace_back(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return cols;
}

std::vector<PortRow> PortMapper::PortRows() const {
  std::vector<PortRow> rows;
  const int selected = tree_.selected_server();
  if (selected < 0 || selected >= tables_.count()) return rows;
  const ServerConfig& entry = tables_.server(selected);
  const ServerRecord* rec = tree_.selected_record();
  const int ports = PortsOf(entry);
  for (int p = 0; p < ports; ++p) {
    PortRow row;
    const auto pi = static_cast<size_t>(p);
    row.port = PortNumberText(p + 1);
    row.mapped = entry.port_mapped[pi] != 0;
    row.com = row.mapped ? ComNameText(entry.com_number[pi]) : "---";
    if (rec != nullptr) {
      row.status_code = rec->port_kind(pi);
      row.status = std::string(PortStatusText(row.status_code));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool PortMapper::PortRowOpensMapPort(int row) const {
  const ServerRecord* rec = tree_.selected_record();
  if (rec == nullptr || row < 0) return false;
  const auto rows = PortRows();
  return row < static_cast<int>(rows.size()) &&
         rows[static_cast<size_t>(row)].status_code == kPortMappable;
}

std::optional<MapPortChoice> PortMapper::BeginMapPort() {
  const int server = tree_.selected_server();
  const int port = tree_.selected_port();
  if (port < 0 || server < 0 || server >= tables_.count()) {
    prompter_.Message(ManagerString(kStrSelectServerFirst));
    return std::nullopt;
  }
  const ServerRecord* rec = tree_.selected_record();
  if (rec == nullptr || tables_.found().FindSerial(rec->serial_number()) < 0) {
    prompter_.Message(ManagerString(kStrGetInterfaceError));
    return std::nullopt;
  }
  const ServerConfig& entry = tables_.server(server);
  const int ports = PortsOf(entry);
  if (port >= ports) {
    prompter_.Message(ManagerString(kStrSelectServerFirst));
    return std::nullopt;
  }
  const auto pi = static_cast<size_t>(port);
  MapPortChoice c;
  c.port = port;
  c.label = MapPortLabel(port + 1, entry.name());
  c.selection = entry.port_mapped[pi] != 0 ? ComNumberOf(entry.com_number[pi]) : 0;
  c.consecutive = false;
  c.consecutive_enabled = port == 0;
  c.classical = (entry.port_options[pi] & kOptionClassical) != 0;
  c.fifo_disabled = (entry.port_options[pi] & kOptionFifoDisabled) != 0;
  return c;
}

void PortMapper::FinishMapPort(const MapPortChoice& choice) {
  const int server = tree_.selected_server();
  if (server < 0 || server >= tables_.count()) return;
  ServerConfig& entry = tables_.server(server);
  const int ports = PortsOf(entry);
  if (choice.port < 0 || choice.port >= ports) return;
  const int k = std::clamp(choice.selection, 0, kMaxComNumber);
  const auto pi = static_cast<size_t>(choice.port);
  if (choice.port != 0 || !choice.consecutive) {
    if (k == 0) {
      entry.port_mapped[pi] = 0;  // the COM number byte keeps its value
    } else {
      entry.port_mapped[pi] = 1;
      entry.com_number[pi] = static_cast<uint8_t>(k == kMaxComNumber ? 0 : k);
    }
  } else {
    const ServerRecord* rec = tree_.selected_record();
    for (int p = 0; p < ports; ++p) {
      entry.port_mapped[static_cast<size_t>(p)] = 0;
      entry.com_number[static_cast<size_t>(p)] = 0;
    }
    int running = k;
    for (int p = 0; p < ports; ++p) {
      if (running > kMaxComNumber) {
        prompter_.Message(ManagerString(kStrComLimitExceeded));
        break;
      }
      const bool available =
          rec != nullptr && rec->port_kind(static_cast<size_t>(p)) == kPortMappable;
      if (k == 0 || !available) continue;
      entry.port_mapped[static_cast<size_t>(p)] = 1;
      entry.com_number[static_cast<size_t>(p)] =
          static_cast<uint8_t>(running == kMaxComNumber ? 0 : running);
      ++running;
    }
  }
  uint8_t opts = entry.port_options[pi];
  opts = static_cast<uint8_t>(choice.classical ? (opts | kOptionClassical)
                                               : (opts & ~kOptionClassical));
  opts = static_cast<uint8_t>(choice.fifo_disabled ? (opts | kOptionFifoDisabled)
                                                   : (opts & ~kOptionFifoDisabled));
  entry.port_options[pi] = opts;
  if (tables_.EntriesChanged()) tables_.SetModified(true);
}

void PortMapper::UnMapPort() {
  const int server = tree_.selected_server();
  const int port = tree_.selected_port();
  if (server < 0 || server >= tables_.count() || port < 0) return;
  if (port >= static_cast<int>(kMaxServerPorts)) return;
  ServerConfig& entry = tables_.server(server);
  entry.port_mapped[static_cast<size_t>(port)] = 0;
  entry.com_number[static_cast<size_t>(port)] = 0;
  if (tables_.EntriesChanged()) tables_.SetModified(true);
}

std::optional<std::string> PortMapper::FindComConflict() const {
  const int count = tables_.count();
  for (int s = 0; s < count; ++s) {
    const ServerConfig& a = tables_.server(s);
    const int pa = PortsOf(a);
    for (int p = 0; p < pa; ++p) {
      const auto pi = static_cast<size_t>(p);
      if (a.port_mapped[pi] == 0) continue;
      for (int q = 0; q < pa; ++q) {
        const auto qi = static_cast<size_t>(q);
        if (q != p && a.port_mapped[qi] != 0 && a.com_number[qi] == a.com_number[pi])
          return ConflictSameServer(a.name(), p + 1, q + 1);
      }
      for (int t = s + 1; t < count; ++t) {
        const ServerConfig& b = tables_.server(t);
        const int pb = PortsOf(b);
        for (int q = 0; q < pb; ++q) {
          const auto qi = static_cast<size_t>(q);
          if (b.port_mapped[qi] != 0 && b.com_number[qi] == a.com_number[pi])
            return ConflictOtherServer(a.name(), p + 1, ComNumberOf(a.com_number[pi]), b.name(),
                                       q + 1);
        }
      }
    }
  }
  return std::nullopt;
}

}  // namespace zelin::manager
