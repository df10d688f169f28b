// The diagnostic test run on the real clock against 32 emulated servers of 16 ports
// on loopback (127.201.9.0/24), every port wired to its neighbour: internal test and
// external Tx/Rx, DTR/DSR, RTS/CTS on every port, 74 progress reports per server.
//
//   run_overhead_ms  the run's time beyond the servers' own report delays (step_ms per
//                    report): searches, connects (a connect that does not complete at
//                    once sleeps its 100 ms retry step), logins, the reading of reports
//   cancel_ms        from Cancel to the end of the worker, while it waits for reports
//                    from a server that has stopped reporting (the bound is one poll)

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <memory>
#include <thread>

#include "emulator/lab.hpp"
#include "platform/notices.hpp"
#include "portcheck/core/test_run.hpp"

namespace {

using namespace zelin;
using namespace zelin::portcheck;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int kServers = 32;
constexpr int64_t kStepMs = 2;

Ipv4 Address(uint8_t host) {
  return Ipv4FromOctets(127, 201, 9, host);
}

class QuietNotices final : public NoticeSink {
 public:
  void Notice(NoticeLevel, std::string_view) override {}
  void BusyBegin() override {}
  void BusyEnd() override {}
};

struct Bench {
  explicit Bench(int stop_after) {
    emulator::LabSpec desc;
    desc.broadcast = Address(255);
    for (int i = 0; i < kServers; ++i) {
      emulator::ServerSpec s;
      s.type = 9491;  // 16 ports
      s.serial = static_cast<uint16_t>(100 + i);
      s.ip = Address(static_cast<uint8_t>(10 + i));
      for (uint8_t p = 0; p < 16; p += 2) s.diag.pairs.emplace_back(p, p + 1);
      s.diag.step_ms = kStepMs;
      s.diag.stop_after = stop_after;
      desc.servers.push_back(s);
    }
    lab = std::make_unique<emulator::Lab>(desc, SystemClock());
    std::string error;
    if (!lab->Start(&error)) throw std::runtime_error(error);
    for (const auto& s : desc.servers) {
      ServerImage im;
      PutLe16(im.bytes, wire::kSrDeviceType, s.type);
      PutLe16(im.bytes, wire::kSrSerial, s.serial);
      PutIpv4(im.bytes, wire::kSrIpAddress, s.ip);
      ServerTestSettings t;
      t.port_mask = kNewServerPortMask;
      config.AddServer(im, t);
    }
  }
  TransportOptions options{.interfaces = {Address(1)}, .broadcast = Address(255), .loopback_only = true};
  QuietNotices notices;
  std::unique_ptr<emulator::Lab> lab;
  DiagConfig config = DiagConfig::Defaults();
  ResultStores stores{};
  HostInterfaces interfaces{SystemClock(), notices, options};
  DiagSession session{SystemClock(), notices, options};
};

void BM_TestRun32x16(benchmark::State& state) {
  Bench b(-1);
  double total_ms = 0;
  int passed = 0;
  for (auto _ : state) {
    TestRun run(b.config, b.stores, b.interfaces, b.session, SystemClock());
    const auto start = std::chrono::steady_clock::now();
    run.Open();
    run.Wait();
    total_ms += Ms(std::chrono::steady_clock::now() - start).count();
    for (int i = 0; i < kServers; ++i)
      passed += run.Snapshot().marks[static_cast<size_t>(i)] == ServerMark::kTestPassed;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["run_ms"] = total_ms / n;
  state.counters["run_overhead_ms"] = total_ms / n - static_cast<double>(kServers * 74 * kStepMs);
  state.counters["passed"] = passed / n;
}
BENCHMARK(BM_TestRun32x16)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_CancelWhileWaiting(benchmark::State& state) {
  Bench b(10);  // every server falls silent after 10 reports
  double total_ms = 0, worst_ms = 0;
  for (auto _ : state) {
    TestRun run(b.config, b.stores, b.interfaces, b.session, SystemClock());
    run.Open();
    while (run.Snapshot().progress < kProgressFirstStep + 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // inside a poll
    const auto start = std::chrono::steady_clock::now();
    run.PressCancel();
    run.Wait();
    const double ms = Ms(std::chrono::steady_clock::now() - start).count();
    total_ms += ms;
    worst_ms = std::max(worst_ms, ms);
  }
  state.counters["cancel_ms"] = total_ms / static_cast<double>(state.iterations());
  state.counters["cancel_worst_ms"] = worst_ms;
}
BENCHMARK(BM_CancelWhileWaiting)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
