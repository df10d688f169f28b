#pragma once
// The monitor's data path against an emulated lab on the test's own loopback block.
// The lab runs on the real clock (its time stamps advance with real time); the poller
// runs on a ManualClock that the test moves, so the sampling and silence timers fire
// exactly when the test says, and socket waits last a tenth of their clock time.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "monitor/core/polling.hpp"
#include "platform/notices.hpp"
#include "tests/support/lab_support.hpp"

namespace zelin::testing {

class ManualClock final : public Clock {
 public:
  int64_t NowMs() override { return now_.load(); }
  void SleepMs(int64_t ms) override { now_ += ms; }
  int64_t RealWaitMs(int64_t ms) override {
    return ms > 0 ? std::max<int64_t>(1, ms / divisor) : 0;
  }
  int64_t divisor = 10;  // socket waits last this much less real time
  uint32_t UnixSeconds() override { return 1700000000u + static_cast<uint32_t>(now_ / 1000); }
  void Advance(int64_t ms) { now_ += ms; }

 private:
  std::atomic<int64_t> now_{1000000};
};

// Counts what the worker reports and lets the test wait for it (bounded waits).
class RecordingObserver final : public monitor::PollingObserver {
 public:
  void RowUpdated(int row, size_t, size_t) override {
    std::lock_guard lock(mu_);
    ++updates_;
    rows_.push_back(row);
    cv_.notify_all();
  }
  void ServerStateChanged(size_t server, monitor::ServerState state, int, int) override {
    std::lock_guard lock(mu_);
    states_.push_back({server, state});
    cv_.notify_all();
  }
  void RowsBuilt() override {
    if (on_rows_built) on_rows_built();
  }
  std::function<void()> on_rows_built;
  // Waits until at least `n` row updates have been seen in all.
  bool WaitUpdates(size_t n) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return updates_ >= n; });
  }
  size_t updates() {
    std::lock_guard lock(mu_);
    return updates_;
  }
  std::vector<std::pair<size_t, monitor::ServerState>> states() {
    std::lock_guard lock(mu_);
    return states_;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  size_t updates_ = 0;
  std::vector<int> rows_;
  std::vector<std::pair<size_t, monitor::ServerState>> states_;
};

class PollTest : public ::testing::Test {
 protected:
  void StartLab(std::vector<emulator::ServerSpec> servers) {
    auto desc = BlockLab(block_, std::move(servers));
    desc.restart_ms = 50;
    lab_ = StartedLab(std::move(desc), SystemClock());
    transport_ = std::make_unique<Transport>(clock_, notices_, Deliverable::Monitor,
                                             block_.ClientOptions());
    ASSERT_TRUE(transport_->OpenTransport(wire::kMonitorFirstLocalPort));
  }
  // Watches `serial` at block address `host` with the ports of `mask`.
  monitor::MonitoredServer& Watch(uint16_t serial, uint8_t host, uint16_t ports, uint32_t mask) {
    monitor::MonitoredServer& s = config_->servers[config_->server_count++];
    s.serial_number = serial;
    s.ip_address = block_.Address(host);
    s.port_count = ports;
    s.watched_mask = mask;
    s.set_name("watched " + std::to_string(serial));
    return s;
  }
  monitor::PortPoller& Poller() {
    if (!poller_)
      poller_ = std::make_unique<monitor::PortPoller>(*transport_, *config_, list_, observer_);
    return *poller_;
  }
  monitor::ServerState State(size_t i) {
    return monitor::LoadState(config_->servers[i]);
  }

  LoopbackBlock block_;
  ManualClock clock_;
  ConsoleNotices notices_{true};
  std::unique_ptr<emulator::Lab> lab_;
  std::unique_ptr<Transport> transport_;
  std::unique_ptr<monitor::MonitorConfig> config_ = monitor::MonitorConfig::New();
  ServerList list_;
  RecordingObserver observer_;
  std::unique_ptr<monitor::PortPoller> poller_;  // last: stopped first
};

}  // namespace zelin::testing
