#include "monitor/core/status_cells.hpp"

#include <utility>

#include "monitor/core/code_tables.hpp"
#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::monitor {

namespace {

std::string Number(uint64_t value) { return std::to_string(value); }

bool NoLogin(Ipv4 host) { return host == 0 || host == 0xFFFFFFFFu; }

}  // namespace

uint64_t CharactersPerSecond(uint32_t bytes, uint32_t milliseconds) {
  if (milliseconds == 0) return 0;
  return uint64_t{bytes} * 1000u / milliseconds;
}

std::string AverageThroughputText(PortRateSamples& samples, const PortStatusBlock& block,
                                  bool tx, bool gate) {
  if (!gate || samples.initialised == 0) return "0";
  if (block.time_stamp < samples.first_time_stamp) {
    samples.initialised = 0;
    return "0";
  }
  const uint32_t total = tx ? block.tx_total : block.rx_total;
  const uint32_t first = tx ? samples.first_tx_total : samples.first_rx_total;
  return Number(CharactersPerSecond(total - first, block.time_stamp - samples.first_time_stamp));
}

std::string IntervalThroughputText(const PortRateSamples& samples, const PortStatusBlock& block,
                                   bool tx, bool gate) {
  if (!gate) return "0";
  const uint32_t total = tx ? block.tx_total : block.rx_total;
  const uint32_t previous = tx ? samples.previous_tx_total : samples.previous_rx_total;
  if (total <= previous) return "0";
  return Number(
      CharactersPerSecond(total - previous, block.time_stamp - samples.previous_time_stamp));
}

std::string ShortenToFit(std::string text, int width,
                         const std::function<int(std::string_view)>& measure) {
  if (measure(text) <= width) return text;
  while (!text.empty() && measure(text + "...") > width) text.pop_back();
  return text + "...";
}

std::string ItemText(DisplayItem item, MonitoredServer& server, size_t port,
                     const CellSources& sources) {
  if (port >= kMaxPorts) return "---";
  const PortStatusBlock& b = server.blocks[port];
  PortRateSamples& rates = server.rates[port];
  switch (item) {
    case kItemModel: return std::string(MonitorModelName(server.device_type));
    case kItemServerName: return server.name();
    case kItemOperationMode: return OperationModeText(server.device_type, server.port_kinds[port]);
    case kItemServerAddress: return AddressToText(server.ip_address);
    case kItemPortNumber: return Format("%d", static_cast<int>(port) + 1);
    case kItemPortMapping: return sources.mappings.Text(sources.found, server, port);
    case kItemConnection: return std::string(ConnectionStateText(b.connection_state));
    case kItemIdleTime: return DurationText(b.idle_time);
    case kItemLoginAddress: return NoLogin(b.login_host) ? "---" : AddressToText(b.login_host);
    case kItemLoginTime: return DurationText(b.login_time);
    case kItemBaudRate: return Number(b.baud_rate);
    case kItemCharacterMode: return CharacterModeText(b.line_format);
    case kItemFlowControl: return FlowControlText(b.flow_control);
    case kItemDtr: return std::string(OnOffText(b.modem_lines & kModemDtr));
    case kItemRts: return std::string(OnOffText(b.modem_lines & kModemRts));
    case kItemDsr: return std::string(OnOffText(b.modem_lines & kModemDsr));
    case kItemCts: return std::string(OnOffText(b.modem_lines & kModemCts));
    case kItemDcd: return std::string(OnOffText(b.modem_lines & kModemDcd));
    case kItemTxTotal: return Number(b.tx_total);
    case kItemRxTotal: return Number(b.rx_total);
    case kItemTxCount: return Number(b.tx_count);
    case kItemRxCount: return Number(b.rx_count);
    case kItemTxThroughput: return AverageThroughputText(rates, b, true, sources.throughput_gate);
    case kItemRxThroughput: return AverageThroughputText(rates, b, false, sources.throughput_gate);
    case kItemIntervalTx: return IntervalThroughputText(rates, b, true, sources.throughput_gate);
    case kItemIntervalRx: return IntervalThroughputText(rates, b, false, sources.throughput_gate);
    case kItemInterface: return std::string(InterfaceText(b.interface_code));
  }
  return "---";
}

void CellCache::Clear() {
  for (Cell& cell : cells_) {
    cell.valid = false;
    cell.text.clear();
  }
}

std::string CellCache::Update(size_t row, size_t column, std::string text) {
  if (row >= kRows || column >= kColumns) return text;
  Cell& cell = cells_[row * kColumns + column];
  if (cell.valid && cell.text == text) return {};
  cell.valid = true;
  cell.text = text;
  return text;
}

std::string StatusCells::FormatCell(size_t row, size_t column, MonitoredServer& server,
                                    size_t port, const CellSources& sources) {
  if (column >= columns_.size()) return {};
  const DisplayItem item = columns_[column];
  std::string text = ItemText(item, server, port, sources);
  if (item >= kFirstLiveItem && LoadState(server) != kStateAnswered) text = "---";
  // Values of a port whose block never came stay empty (zeros are no server's report).
  else if (item >= kFirstBlockItem && !server.received(port)) text.clear();
  return cache_.Update(row, column, std::move(text));
}

std::vector<std::pair<size_t, std::string>> StatusCells::FormatRow(size_t row,
                                                                   MonitoredServer& server,
                                                                   size_t port,
                                                                   const CellSources& sources) {
  std::vector<std::pair<size_t, std::string>> changed;
  for (size_t c = 0; c < columns_.size(); ++c) {
    std::string text = FormatCell(row, c, server, port, sources);
    if (!text.empty()) changed.emplace_back(c, std::move(text));
  }
  return changed;
}

}  // namespace zelin::monitor
