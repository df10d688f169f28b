// The port bridge on loopback (127.201.16.0/24) with the real clock, against a local
// echo listener in this process (one poll thread: what a port's client writes comes
// back):
//  - throughput through one bridged port, raw and rfc2217: the program writes 64 MiB
//    to the device and reads the echo at the same time (bytes each way per second);
//  - round trip of one byte: program -> device -> bridge -> listener -> bridge ->
//    device -> program, p50 / p99, beside the same round trip straight over TCP (the
//    bridge adds the difference, in two passes);
//  - 512 mapped ports (two bridges of 256, the most COM names one store holds), all
//    connected and idle: resident memory added and CPU share over the idle phase.
// Usage: bridge_bench [idle seconds (default 10)].

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_bridge.hpp"
#include "bench/bench_lab.hpp"
#include "bridge/core/bridge.hpp"
#include "platform/notices.hpp"
#include "protocol/socket_address.hpp"
#include "store/server_store.hpp"
#include "tests/support/temp_dir.hpp"

namespace zelin {
namespace {

using bench::RunningBridge;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

// The settings file of a bridge with every port in `mode`.
std::string ModeConfig(const std::string& mode) { return "[defaults]\nmode = " + mode + "\n"; }

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = 0;
  while (in >> key) {
    if (key == "VmRSS:") {
      in >> value;
      return value;
    }
    in.ignore(1 << 20, '\n');
  }
  return 0;
}

// Echoes on `ports` consecutive TCP ports of `ip`, any number of connections.
class EchoPeer {
 public:
  EchoPeer(Ipv4 ip, uint16_t base, int ports) {
    for (int p = 0; p < ports; ++p) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      const int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      const sockaddr_in sa = SocketAddress(ip, static_cast<uint16_t>(base + p));
      if (::bind(fd, AsSockaddr(sa), sizeof sa) != 0 || ::listen(fd, 512) != 0) std::abort();
      listeners_.push_back(fd);
    }
    thread_ = std::thread([this] { Loop(); });
  }
  ~EchoPeer() {
    quit_ = true;
    thread_.join();
    for (int fd : listeners_) ::close(fd);
    for (int fd : clients_) ::close(fd);
  }
  int accepted() const { return accepted_; }

 private:
  void Loop() {
    std::vector<pollfd> fds;
    std::vector<uint8_t> buf(64 * 1024);
    while (!quit_) {
      fds.clear();
      for (int fd : listeners_) fds.push_back({fd, POLLIN, 0});
      for (int fd : clients_) fds.push_back({fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 500) <= 0) continue;
      for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        if (i < listeners_.size()) {
          for (int c; (c = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            const int one = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            clients_.push_back(c);
            ++accepted_;
          }
          continue;
        }
        const ssize_t n = ::recv(fds[i].fd, buf.data(), buf.size(), 0);
        if (n <= 0) continue;
        for (ssize_t off = 0; off < n;) {
          const ssize_t w = ::send(fds[i].fd, buf.data() + off, static_cast<size_t>(n - off),
                                   MSG_NOSIGNAL);
          if (w <= 0) break;
          off += w;
        }
      }
    }
  }
  std::vector<int> listeners_, clients_;
  std::atomic<bool> quit_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

int OpenRaw(const std::filesystem::path& p) {
  const int fd = ::open(p.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) std::abort();
  return fd;
}

void Throughput(const std::string& mode) {
  TempDir tmp;
  EchoPeer peer(bench::BenchAddress(16, 10), 4001, 1);
  RunningBridge b(tmp.path(), bench::BenchAddress(16, 10), 1, 1, ModeConfig(mode));
  if (!b.WaitConnected(1, 60)) std::abort();
  const int fd = OpenRaw(b.Device(1));
  constexpr size_t kTotal = 64u << 20;
  std::vector<uint8_t> out(16 * 1024), in(64 * 1024);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 31);
  size_t sent = 0, got = 0;
  const auto start = Clock::now();
  while (got < kTotal) {
    pollfd p{fd, static_cast<short>(POLLIN | (sent < kTotal ? POLLOUT : 0)), 0};
    ::poll(&p, 1, 1000);
    if ((p.revents & POLLOUT) != 0 && sent < kTotal) {
      const ssize_t n = ::write(fd, out.data(), std::min(out.size(), kTotal - sent));
      if (n > 0) sent += static_cast<size_t>(n);
    }
    for (ssize_t n; (n = ::read(fd, in.data(), in.size())) > 0;) got += static_cast<size_t>(n);
  }
  const double s = Seconds(start);
  std::printf("throughput %-8s %6.1f MB/s each way (64 MiB echoed in %.2f s)\n", mode.c_str(),
              kTotal / s / 1e6, s);
  ::close(fd);
}

struct Percentiles {
  double p50, p99;
};
Percentiles Of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v[v.size() * 99 / 100]};
}

// One-byte round trips on `fd` (a device or a socket), in microseconds.
std::vector<double> RoundTrips(int fd, int count) {
  std::vector<double> us;
  uint8_t b = 0;
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    if (::write(fd, &b, 1) != 1) std::abort();
    uint8_t r = 0;
    while (true) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, 1000);
      if (::read(fd, &r, 1) == 1) break;
    }
    us.push_back(Seconds(t0) * 1e6);
    ++b;
  }
  return us;
}

void Latency() {
  TempDir tmp;
  const Ipv4 ip = bench::BenchAddress(16, 11);
  EchoPeer peer(ip, 4001, 1);
  RunningBridge b(tmp.path(), ip, 1, 1, ModeConfig("rfc2217"));
  if (!b.WaitConnected(1, 60)) std::abort();
  const int fd = OpenRaw(b.Device(1));
  RoundTrips(fd, 200);  // warm-up
  const Percentiles bridged = Of(RoundTrips(fd, 5000));
  ::close(fd);

  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const sockaddr_in sa = SocketAddress(ip, 4002 - 1);
  if (::connect(sock, AsSockaddr(sa), sizeof sa) != 0) std::abort();
  ::fcntl(sock, F_SETFL, O_NONBLOCK);
  RoundTrips(sock, 200);
  const Percentiles direct = Of(RoundTrips(sock, 5000));
  ::close(sock);

  // The two pty passes alone: a thread echoes on the master of a plain pty.
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ::grantpt(master);
  ::unlockpt(master);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  ::tcgetattr(slave, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(slave, TCSANOW, &t);
  std::atomic<bool> quit{false};
  std::thread echo([&] {
    uint8_t c = 0;
    while (!quit) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0 && ::read(master, &c, 1) == 1 && ::write(master, &c, 1) != 1)
        break;
    }
  });
  RoundTrips(slave, 200);
  const Percentiles pty = Of(RoundTrips(slave, 5000));
  quit = true;
  echo.join();
  ::close(slave);
  ::close(master);
  std::printf("round trip of one byte: through the bridge p50 %.0f us, p99 %.0f us; "
              "TCP alone p50 %.0f us, p99 %.0f us; the pty alone (echo thread) p50 %.0f us, "
              "p99 %.0f us\n",
              bridged.p50, bridged.p99, direct.p50, direct.p99, pty.p50, pty.p99);
  std::printf("added by the bridge per pass (half the difference): p50 %.0f us, p99 %.0f us\n",
              (bridged.p50 - direct.p50) / 2, (bridged.p99 - direct.p99) / 2);
}

void Idle(int seconds) {
  TempDir a, b;
  const Ipv4 ip = bench::BenchAddress(16, 12);
  EchoPeer peer(ip, 4001, 16);
  const long rss0 = RssKb();
  const auto start = Clock::now();
  RunningBridge first(a.path(), ip, 16, 16, ModeConfig("rfc2217"));
  RunningBridge second(b.path(), ip, 16, 16, ModeConfig("rfc2217"));
  if (!first.WaitConnected(256, 60) || !second.WaitConnected(256, 60)) {
    std::printf("512 ports: not all connected (%d + %d)\n", first.Connected(), second.Connected());
    std::printf("%s\n", first.StateText().substr(0, 3000).c_str());
    return;
  }
  const double up = Seconds(start);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long rss1 = RssKb();
  const double cpu0 = CpuSeconds();
  const auto idle = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const double share = (CpuSeconds() - cpu0) / Seconds(idle);
  std::printf("512 ports: all connected in %.2f s; resident memory +%ld KiB (%.1f KiB a port); "
              "idle CPU %.2f %% of one core (echo listener included)\n",
              up, rss1 - rss0, static_cast<double>(rss1 - rss0) / 512, share * 100);
}

}  // namespace
}  // namespace zelin

int main(int argc, char** argv) {
  rlimit lim{};
  ::getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &lim);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  zelin::Throughput("raw");
  zelin::Throughput("rfc2217");
  zelin::Latency();
  zelin::Idle(seconds > 0 ? seconds : 10);
  return 0;
}
