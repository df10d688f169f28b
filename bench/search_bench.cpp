// A full search on one interface with the real clock, against a devsim process:
//  - 32 servers: the list fills in the first round, so the floor is the 1.5 s of
//    broadcasts;
//  - 31 servers: both rounds run, so the floor is 1.5 s + 3 s + 1 s.
// Reports how far each search ran above its floor, and devsim's resident memory
// (VmRSS) with its servers after the searches. devsim is looked for beside this
// program's build tree (../emulator/devsim) or at $DEVSIM. Loopback only:
// 127.201.3.0/24 and 127.201.4.0/24.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_lab.hpp"
#include "platform/notices.hpp"
#include "protocol/address.hpp"
#include "protocol/discovery.hpp"
#include "protocol/transport.hpp"

namespace {

using namespace zelin;

// Starts devsim with `count` servers on 127.201.`net`.10.. and waits for its last
// ready line. Returns its pid.
pid_t StartDevsim(uint8_t net, int count) {
  std::vector<std::string> servers;
  for (int i = 0; i < count; ++i)
    servers.push_back("type=9491,serial=" + std::to_string(1000 + i) + ",ip=" +
                      AddressToText(Ipv4FromOctets(127, 201, net, static_cast<uint8_t>(10 + i))));
  const pid_t pid = bench::StartDevsimProcess(Ipv4FromOctets(127, 201, net, 255), servers);
  if (pid < 0) {
    std::fprintf(stderr, "devsim did not start (%s)\n", bench::DevsimPath().c_str());
    std::abort();
  }
  return pid;
}

double VmRssMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kib = 0;
      status >> kib;
      return kib / 1024.0;
    }
    std::getline(status, key);
  }
  return -1;
}

void BM_Search(benchmark::State& state) {
  const int servers = static_cast<int>(state.range(0));
  const auto net = static_cast<uint8_t>(servers == 32 ? 3 : 4);
  const double floor_ms = servers == 32 ? 1500 : 5500;
  const pid_t pid = StartDevsim(net, servers);
  ConsoleNotices notices{/*quiet=*/true};
  Transport t(SystemClock(), notices, Deliverable::Manager,
              TransportOptions{.interfaces = {Ipv4FromOctets(127, 201, net, 1)},
                               .broadcast = Ipv4FromOctets(127, 201, net, 255),
                               .loopback_only = true});
  if (!t.OpenTransport()) std::abort();
  ServerList list;
  double worst_over_ms = 0, total_over_ms = 0;
  int missing = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    SearchServers(t, list, 1);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    worst_over_ms = std::max(worst_over_ms, ms - floor_ms);
    total_over_ms += ms - floor_ms;
    missing += servers - list.count;
  }
  state.counters["over_floor_ms"] = total_over_ms / static_cast<double>(state.iterations());
  state.counters["worst_over_floor_ms"] = worst_over_ms;
  state.counters["missing"] = missing;
  state.counters["devsim_rss_MiB"] = VmRssMiB(pid);
  t.CloseTransport();
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}
BENCHMARK(BM_Search)->Arg(32)->Arg(31)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
