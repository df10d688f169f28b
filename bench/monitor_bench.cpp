// The monitor's data path under its largest load, with the real clock, against a
// devsim process: 32 servers of 16 ports, all watched, sampled every second.
//  - CPU share of this process (sending, receiving, decoding and formatting every
//    cell of each updated row) over the run;
//  - tick-to-cell latency: from the sampling tick that sent the queries to the moment
//    a row's cells are formatted, ready to be handed to the window (it includes the
//    loopback round trip, the servers' answers and the worker's idle wait), p50 / p99 /
//    max;
//  - arrival-to-cell latency: from the reply's arrival on the socket (the kernel's
//    receive stamp of the datagram, read with SIOCGSTAMP right after the worker took
//    it) to the same moment: the monitor's own share, p50 / p99 / max;
//  - idle CPU share: the same monitoring while every server is silent (devsim
//    stopped), so only the worker's idle passes and the ticks remain.
// devsim is looked for beside this program's build tree (../emulator/devsim) or at
// $DEVSIM. Loopback only: 127.202.7.0/24. Usage: monitor_bench [seconds per phase].

#include <linux/sockios.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "bench/bench_lab.hpp"
#include "monitor/core/polling.hpp"
#include "monitor/core/status_cells.hpp"
#include "platform/notices.hpp"
#include "protocol/address.hpp"

namespace {

using namespace zelin;
using namespace zelin::monitor;
using bench::Percentile;
using Steady = std::chrono::steady_clock;

constexpr int kServers = 32;
constexpr uint8_t kNet = 7;

Ipv4 Address(uint8_t host) {
  return Ipv4FromOctets(127, 202, kNet, host);
}

pid_t StartDevsim() {
  std::vector<std::string> servers;
  for (int i = 0; i < kServers; ++i)
    servers.push_back("type=771,serial=" + std::to_string(2000 + i) +
                      ",ip=" + AddressToText(Address(static_cast<uint8_t>(10 + i))));
  return bench::StartDevsimProcess(Address(255), servers);
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Formats every cell of each updated row, as the status list does, and notes how long
// after the last sampling tick, and after the reply's arrival, it happened.
class BenchObserver final : public PollingObserver {
 public:
  BenchObserver(MonitorConfig& config, ServerList& found) : config_(config), found_(found) {
    cells_.BuildColumns(kAllItemsMask);
  }
  void set_poller(const PortPoller* poller) { poller_ = poller; }
  void RowUpdated(int row, size_t server, size_t port) override {
    const CellSources sources{found_, mappings_, true};
    cells_.FormatRow(static_cast<size_t>(row), config_.servers[server], port, sources);
    const auto handed = Steady::now();
    const auto handed_real = std::chrono::system_clock::now();
    const double ms = std::chrono::duration<double, std::milli>(handed - tick_.load()).count();
    // The worker calls this right after it took the reply: the socket's last receive
    // stamp is that datagram's arrival (the first call only turns the stamps on).
    double arrival_ms = -1;
    const int record = poller_ != nullptr ? poller_->RecordOf(server) : -1;
    timeval arrived{};
    if (record >= 0 &&
        ::ioctl(found_.records[static_cast<size_t>(record)].socket, SIOCGSTAMP, &arrived) == 0 &&
        arrived.tv_sec != 0) {
      const auto at = std::chrono::system_clock::time_point(
          std::chrono::seconds(arrived.tv_sec) + std::chrono::microseconds(arrived.tv_usec));
      arrival_ms = std::chrono::duration<double, std::milli>(handed_real - at).count();
    }
    std::lock_guard lock(mu_);
    latencies_.push_back(ms);
    if (arrival_ms >= 0) arrivals_.push_back(arrival_ms);
  }
  void ServerStateChanged(size_t, ServerState, int, int) override {}
  void Ticked() { tick_ = Steady::now(); }
  std::vector<double> TakeLatencies() {
    std::lock_guard lock(mu_);
    return std::move(latencies_);
  }
  std::vector<double> TakeArrivals() {
    std::lock_guard lock(mu_);
    return std::move(arrivals_);
  }

 private:
  MonitorConfig& config_;
  ServerList& found_;
  const PortPoller* poller_ = nullptr;
  PortMappings mappings_;
  StatusCells cells_;
  std::atomic<Steady::time_point> tick_{Steady::now()};
  std::mutex mu_;
  std::vector<double> latencies_;
  std::vector<double> arrivals_;
};

// Runs the sampling (every second) and silence (every 30 s) ticks for `seconds`;
// returns the CPU share of this process meanwhile.
double RunFor(PortPoller& poller, BenchObserver& observer, Clock& clock, int seconds) {
  const double cpu0 = CpuSeconds();
  const auto wall0 = Steady::now();
  int64_t now = clock.NowMs();
  const int64_t end = now + int64_t{seconds} * 1000;
  int64_t next_sample = now + 1000, next_silence = now + kSilencePeriodMs;
  while ((now = clock.NowMs()) < end) {
    if (now >= next_sample) {
      observer.Ticked();
      poller.SamplingTick();
      next_sample += 1000;
    }
    if (now >= next_silence) {
      poller.SilenceTick();
      next_silence += kSilencePeriodMs;
    }
    clock.SleepMs(std::clamp<int64_t>(std::min(next_sample, end) - clock.NowMs(), 1, 50));
  }
  const double wall = std::chrono::duration<double>(Steady::now() - wall0).count();
  return (CpuSeconds() - cpu0) / wall;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
  const pid_t devsim = StartDevsim();
  if (devsim < 0) {
    std::fprintf(stderr, "monitor_bench: devsim did not start (%s)\n", bench::DevsimPath().c_str());
    return 1;
  }
  RealClock clock;
  ConsoleNotices notices(true);
  TransportOptions options{.interfaces = {Address(1)}, .broadcast = Address(255), .loopback_only = true};
  Transport transport(clock, notices, Deliverable::Monitor, options);
  if (!transport.OpenTransport(wire::kMonitorFirstLocalPort)) return 1;
  auto config = MonitorConfig::New();
  config->interval = 1;
  config->server_count = kServers;
  for (int i = 0; i < kServers; ++i) {
    MonitoredServer& s = config->servers[static_cast<size_t>(i)];
    s.serial_number = static_cast<uint16_t>(2000 + i);
    s.ip_address = Address(static_cast<uint8_t>(10 + i));
    s.port_count = 16;
    s.watched_mask = 0xFFFF;
  }
  ServerList found;
  BenchObserver observer(*config, found);
  PortPoller poller(transport, *config, found, observer);
  observer.set_poller(&poller);
  if (!poller.StartMonitoring()) return 1;
  poller.StopTimers();  // RunFor ticks itself, marking each tick for the latencies
  clock.SleepMs(500);
  observer.TakeLatencies();  // the first replies came after the locating step
  observer.TakeArrivals();

  const double busy = RunFor(poller, observer, clock, seconds);
  const std::vector<double> lat = observer.TakeLatencies();
  const std::vector<double> arr = observer.TakeArrivals();
  ::kill(devsim, SIGTERM);
  ::waitpid(devsim, nullptr, 0);
  const double idle = RunFor(poller, observer, clock, seconds / 2);
  poller.StopMonitoring();

  std::printf("monitor_bench: %d servers x 16 ports, interval 1 s, %d s per phase\n", kServers,
              seconds);
  std::printf("  rows updated        %zu (%.0f per second)\n", lat.size(),
              static_cast<double>(lat.size()) / seconds);
  std::printf("  CPU share, polling  %.2f %%\n", busy * 100);
  std::printf("  tick-to-cell ms     p50 %.1f  p99 %.1f  max %.1f\n", Percentile(lat, 0.5),
              Percentile(lat, 0.99), Percentile(lat, 1.0));
  std::printf("  arrival-to-cell ms  p50 %.3f  p99 %.3f  max %.3f  (%zu rows)\n",
              Percentile(arr, 0.5), Percentile(arr, 0.99), Percentile(arr, 1.0), arr.size());
  std::printf("  CPU share, idle     %.2f %%\n", idle * 100);
  return 0;
}
