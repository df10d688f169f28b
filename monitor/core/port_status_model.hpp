#pragma once
// The port status window as a presentation model: its title, its fields, and the two
// throughput meters with their history graphs, refilled from the live status block
// at every tick of the sampling interval.
//
// The model borrows the watched server (the live record in the configuration in use),
// the monitor's found servers and the port mappings; they must outlive it. It only
// reads the block; the receiving thread may update it meanwhile (a tick copies it whole
// once, under the records lock). Used on the user-interface thread.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "monitor/core/port_mapping.hpp"
#include "monitor/core/records.hpp"
#include "protocol/types.hpp"

namespace zelin::monitor {

// Scale maximum of the meters: characters per second at ten bits per character,
// baud / 10; 100 when that is 0 (no baud rate, or one below 10 bit/s).
uint32_t MeterMaximum(uint32_t baud_rate);

// Segments of a ten-segment bar lit for `value`: ceil(10 * min(value, maximum) / maximum).
int LitSegments(uint32_t value, uint32_t maximum);

// The last 256 samples of a history graph, oldest first.
class RateHistory {
 public:
  static constexpr size_t kCapacity = 256;
  struct Sample {
    uint32_t value;    // min(rate, maximum)
    uint32_t maximum;  // the scale when it was taken
  };

  void Add(uint32_t rate, uint32_t maximum);
  const std::deque<Sample>& samples() const { return samples_; }
  // Height in pixels of sample `i` in a graph `height` pixels high: value * height /
  // maximum, at least 1.
  int PixelHeight(size_t i, int height) const;
  // How many samples were ever added (the grid moves one pixel left with each).
  uint64_t added() const { return added_; }

 private:
  std::deque<Sample> samples_;
  uint64_t added_ = 0;
};

// One bar meter and its history.
struct RateMeter {
  uint32_t value = 0;  // shown on the bar: min(maximum, rate)
  RateHistory history;
};

class PortStatusModel {
 public:
  // The window's fields, as shown.
  struct Fields {
    std::string port_name, port_status, baud_rate, data_bits, parity, stop_bits;
    std::string rts_flow, cts_flow, input_xon_xoff, output_xon_xoff;
    std::string host_address, login_time, tx_count, rx_count;
  };

  // `records` (may be null) is the lock the receiving thread writes the block under.
  PortStatusModel(const MonitoredServer& server, size_t port, const ServerList& found,
                  const PortMappings& mappings, std::mutex* records = nullptr);

  // "Port %d of %s(%s) status": port number, server address, server name.
  std::string Title() const;
  const Fields& fields() const { return fields_; }
  uint32_t maximum() const { return maximum_; }
  const RateMeter& tx() const { return tx_; }
  const RateMeter& rx() const { return rx_; }

  // On opening: fills the fields, sets both bars to 0, adds a 0 sample to both
  // histories and remembers the totals and the time stamp.
  void Open();
  // Every sampling interval: refills the fields; when time went on, rescales and shows
  // the rates since the last tick; then remembers the current totals and time stamp.
  void Tick();

 private:
  void Fill(const PortStatusBlock& block);
  // A copy of the live block, taken under the records lock.
  PortStatusBlock Block() const;

  const MonitoredServer& server_;
  size_t port_;
  const ServerList& found_;
  const PortMappings& mappings_;
  std::mutex* records_;
  Fields fields_;
  uint32_t maximum_ = 100;
  RateMeter tx_, rx_;
  uint32_t last_tx_total_ = 0, last_rx_total_ = 0, last_time_stamp_ = 0;
};

}  // namespace zelin::monitor
