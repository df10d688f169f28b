// Authenticated round trips per second against an emulated server on loopback:
// Command(Login) and Command(GetAccessList) through the real transport and the lab's
// worker thread, on the real clock. Everything stays inside 127.201.1.0/24.

#include <benchmark/benchmark.h>

#include <memory>

#include "bench/bench_lab.hpp"
#include "platform/notices.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"
#include "protocol/transport.hpp"

namespace {

using namespace zelin;

Ipv4 Address(uint8_t host) {
  return bench::BenchAddress(1, host);
}

struct Setup {
  Setup() {
    emulator::ServerSpec s = bench::BenchServer(1, "secret");
    for (uint8_t i = 0; i < 32; ++i) s.access.push_back({Address(i), 0xFFFFFFFFu, 0xFFFF});
    lab = bench::StartBenchLab(1, s);
    transport = std::make_unique<Transport>(
        SystemClock(), notices, Deliverable::Manager,
        TransportOptions{
            .interfaces = {Address(1)}, .broadcast = Address(255), .loopback_only = true});
    if (!transport->OpenTransport()) std::abort();
    if (!(ProbeAddress(*transport, list, Address(10), 1) == 0)) std::abort();
    list.records[0].password = "secret";
  }
  ConsoleNotices notices{/*quiet=*/true};
  std::unique_ptr<emulator::Lab> lab;
  std::unique_ptr<Transport> transport;
  ServerList list;
};

Setup& Shared() {
  static Setup s;
  return s;
}

void BM_CommandRoundTrip(benchmark::State& state) {
  Setup& s = Shared();
  ServerRecord& r = s.list.records[0];
  const auto code = static_cast<uint8_t>(state.range(0));
  int64_t failures = 0;
  for (auto _ : state)
    if (!Command(*s.transport, r, code, 1)) ++failures;
  state.SetItemsProcessed(state.iterations());
  state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_CommandRoundTrip)->Arg(wire::kLogin)->Arg(wire::kGetAccessList)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
