#include "monitor/core/port_status_model.hpp"

#include <algorithm>

#include "monitor/core/code_tables.hpp"
#include "monitor/core/status_cells.hpp"
#include "platform/text_format.hpp"
#include "protocol/address.hpp"

namespace zelin::monitor {

uint32_t MeterMaximum(uint32_t baud_rate) {
  const uint32_t cps = baud_rate / 10;
  return cps == 0 ? 100 : cps;
}

int LitSegments(uint32_t value, uint32_t maximum) {
  if (maximum == 0) return 0;
  const uint64_t v = std::min(value, maximum);
  return static_cast<int>((v * 10 + maximum - 1) / maximum);
}

void RateHistory::Add(uint32_t rate, uint32_t maximum) {
  samples_.push_back({std::min(rate, maximum), maximum});
  if (samples_.size() > kCapacity) samples_.pop_front();
  ++added_;
}

int RateHistory::PixelHeight(size_t i, int height) const {
  const Sample& s = samples_.at(i);
  if (s.maximum == 0 || height <= 0) return 1;
  return std::max<int>(1, static_cast<int>(uint64_t{s.value} * static_cast<uint64_t>(height) /
                                           s.maximum));
}

PortStatusModel::PortStatusModel(const MonitoredServer& server, size_t port,
                                 const ServerList& found, const PortMappings& mappings,
                                 std::mutex* records)
    : server_(server),
      port_(std::min(port, kMaxPorts - 1)),
      found_(found),
      mappings_(mappings),
      records_(records) {}

PortStatusBlock PortStatusModel::Block() const {
  if (records_ == nullptr) return server_.blocks[port_];
  std::lock_guard lock(*records_);
  return server_.blocks[port_];
}

std::string PortStatusModel::Title() const {
  return Format("Port %d of %s(%s) status", static_cast<int>(port_) + 1,
                AddressToText(server_.ip_address).c_str(), server_.name().c_str());
}

void PortStatusModel::Fill(const PortStatusBlock& b) {
  fields_.port_name = mappings_.Text(found_, server_, port_);
  fields_.port_status = ConnectionStateText(b.connection_state);
  fields_.baud_rate = std::to_string(b.baud_rate);
  fields_.data_bits = DataBitsDialogText(b.line_format);
  fields_.parity = ParityDialogText(b.line_format);
  fields_.stop_bits = StopBitsDialogText(b.line_format);
  fields_.rts_flow = OnOffText(b.flow_control & kFlowRts);
  fields_.cts_flow = OnOffText(b.flow_control & kFlowCts);
  fields_.input_xon_xoff = OnOffText(b.flow_control & kFlowRxXonXoff);
  fields_.output_xon_xoff = OnOffText(b.flow_control & kFlowTxXonXoff);
  fields_.host_address = b.login_host == 0xFFFFFFFFu ? "" : AddressToText(b.login_host);
  fields_.login_time = DurationText(b.login_time);
  fields_.tx_count = std::to_string(b.tx_count);
  fields_.rx_count = std::to_string(b.rx_count);
}

void PortStatusModel::Open() {
  const PortStatusBlock block = Block();
  Fill(block);
  maximum_ = MeterMaximum(block.baud_rate);
  tx_.value = rx_.value = 0;
  tx_.history.Add(0, maximum_);
  rx_.history.Add(0, maximum_);
  last_tx_total_ = block.tx_total;
  last_rx_total_ = block.rx_total;
  last_time_stamp_ = block.time_stamp;
}

void PortStatusModel::Tick() {
  const PortStatusBlock block = Block();
  Fill(block);
  // Signed, so that a server restart (time stamp going back) shows nothing.
  const int64_t elapsed = int64_t{block.time_stamp} - int64_t{last_time_stamp_};
  if (elapsed > 0) {
    maximum_ = MeterMaximum(block.baud_rate);
    const auto ms = static_cast<uint32_t>(elapsed);
    const uint64_t tx_rate = CharactersPerSecond(block.tx_total - last_tx_total_, ms);
    const uint64_t rx_rate = CharactersPerSecond(block.rx_total - last_rx_total_, ms);
    const auto clamp = [](uint64_t r) { return static_cast<uint32_t>(std::min<uint64_t>(r, UINT32_MAX)); };
    tx_.value = std::min(maximum_, clamp(tx_rate));
    rx_.value = std::min(maximum_, clamp(rx_rate));
    tx_.history.Add(clamp(tx_rate), maximum_);
    rx_.history.Add(clamp(rx_rate), maximum_);
  }
  last_tx_total_ = block.tx_total;
  last_rx_total_ = block.rx_total;
  last_time_stamp_ = block.time_stamp;
}

}  // namespace zelin::monitor
