// zelin-exporter under a fleet's load: the 256 servers of emulator/labs/fleet-256 (eight
// devsim processes of 32 servers of 16 ports) probed through the exporter program by
// concurrent scrapes, as Prometheus scrapes them.
//  - probe time seen by the scraper (HTTP request to the last byte of the answer), p50 /
//    p99 / max, and the share of successful probes;
//  - the exporter's CPU time per scrape (its utime + stime from /proc over the run,
//    divided by the scrapes) and its memory (VmRSS at the end, VmHWM);
//  - one probe of a silent address (nobody answers) against the scrape's deadline, for
//    deadlines of 10 s and 2 s.
// devsim and zelin-exporter are looked for beside this program's build tree or at
// $DEVSIM and $ZELIN_EXPORTER. Loopback only: 127.0.59.0/24 to 127.0.67.0/24.
// Usage: exporter_bench [rounds] [concurrent scrapes]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_lab.hpp"

namespace {

using zelin::bench::BesideBuild;
using zelin::bench::Percentile;
using zelin::testing::SpawnUntilReady;
using Steady = std::chrono::steady_clock;
const std::string kLabs = std::string(ZELIN_SOURCE_DIR) + "/emulator/labs/fleet-256/";
const char* const kHost = "127.0.59.1";

std::string Get(int port, const std::string& target, double timeout_s) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, kHost, &a.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return {};
  }
  char header[64];
  std::snprintf(header, sizeof header, "%g", timeout_s);
  const std::string req = "GET " + target + " HTTP/1.0\r\nX-Prometheus-Scrape-Timeout-Seconds: " +
                          header + "\r\n\r\n";
  (void)!::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
  std::string reply;
  char buf[16384];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return reply;
}

// utime + stime of `pid` in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string StatusLine(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  const int concurrency = argc > 2 ? std::atoi(argv[2]) : 32;
  std::vector<pid_t> devsims;
  for (int n = 1; n <= 8; ++n) {
    const pid_t pid = SpawnUntilReady({zelin::bench::DevsimPath(), "--lab", kLabs + "fleet-" + std::to_string(n) + ".json"},
                            "ready broadcast=");
    if (pid < 0) {
      std::fprintf(stderr, "exporter_bench: devsim did not start\n");
      return 1;
    }
    devsims.push_back(pid);
  }
  std::string line;
  const pid_t exporter = SpawnUntilReady({BesideBuild("ZELIN_EXPORTER", "exporter/zelin-exporter"), "--listen",
                                std::string(kHost) + ":0", "--targets", kLabs + "targets",
                                "--loopback-only"},
                               "listening on ", &line);  // ends with the ready line
  if (exporter < 0) {
    std::fprintf(stderr, "exporter_bench: zelin-exporter did not start\n");
    return 1;
  }
  const int port = std::atoi(line.substr(line.rfind(':') + 1).c_str());
  std::vector<std::string> targets;
  {
    std::ifstream in(kLabs + "targets");
    for (std::string t; std::getline(in, t);)
      if (!t.empty() && t[0] != '#') targets.push_back(t.substr(0, t.find(' ')));
  }

  // One warm-up round (the exporter learns its servers), then the measured rounds.
  std::vector<double> ms;
  std::mutex mu;
  std::atomic<int> ok{0};
  auto round = [&](bool record) {
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < concurrency; ++c)
      threads.emplace_back([&] {
        for (size_t i; (i = next++) < targets.size();) {
          const auto t0 = Steady::now();
          const std::string r = Get(port, "/probe?target=" + targets[i], 10);
          const double d = std::chrono::duration<double, std::milli>(Steady::now() - t0).count();
          if (!record) continue;
          if (r.find("\nzelin_probe_success 1") != std::string::npos) ++ok;
          std::lock_guard lock(mu);
          ms.push_back(d);
        }
      });
    for (auto& t : threads) t.join();
  };
  round(false);
  const double cpu0 = CpuSeconds(exporter);
  const auto t0 = Steady::now();
  for (int r = 0; r < rounds; ++r) round(true);
  const double wall = std::chrono::duration<double>(Steady::now() - t0).count();
  const double cpu = CpuSeconds(exporter) - cpu0;

  std::printf("servers %zu x 16 ports, %d concurrent scrapes, %d rounds, %zu probes in %.1f s\n",
              targets.size(), concurrency, rounds, ms.size(), wall);
  std::printf("probe time: p50 %.2f ms  p99 %.2f ms  max %.2f ms  successful %d/%zu\n",
              Percentile(ms, 0.5), Percentile(ms, 0.99), Percentile(ms, 1.0), ok.load(), ms.size());
  std::printf("exporter CPU: %.3f ms per scrape (%.1f%% of one core over the run)\n",
              1000 * cpu / static_cast<double>(ms.size()), 100 * cpu / wall);
  std::printf("exporter memory: VmRSS%s  VmHWM%s\n", StatusLine(exporter, "VmRSS").c_str(),
              StatusLine(exporter, "VmHWM").c_str());
  for (double deadline : {10.0, 2.0}) {
    const auto s0 = Steady::now();
    const std::string r = Get(port, "/probe?target=127.0.59.200", deadline);
    const double d = std::chrono::duration<double>(Steady::now() - s0).count();
    std::printf("silent address, scrape deadline %.0f s: probe %.3f s (%s)\n", deadline, d,
                r.find("\nzelin_probe_success 0") != std::string::npos ? "failed, as it should"
                                                                        : "UNEXPECTED");
  }
  zelin::testing::StopChild(exporter);
  for (pid_t p : devsims) zelin::testing::StopChild(p);
  return 0;
}
