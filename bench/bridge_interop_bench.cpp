// The bridge's data path beside pyserial's own RFC 2217 client, through the same
// ser2net (telnet(rfc2217) accepter on 127.201.17.10, a socat pty pair as its device,
// 115200 8N1; tests/support/ser2net_fixture.*):
//  - pyserial's client: a Python program opens rfc2217://127.201.17.10:PORT?ign_set_control
//    (ser2net does not answer SET-CONTROL for a pty device, which has no lines) and writes
//    the bytes;
//  - the bridge: the bridge (in this process, on its own thread) carries COM1 to the
//    same ser2net port, and the same Python program opens the bridge's device and
//    writes the same bytes.
// In both cases this program reads the far end of socat's cable and checks every byte.
// The time is from the Python program's first write (after its port is open) to the
// last byte at the far end. Reported per run: MB/s of each, the ratio bridge / pyserial,
// the bridge thread's CPU time per MB (user + system, its thread CPU clock) and its
// wake-ups per MB (context switches of its thread), and the CPU per MB of the other
// programs on each path (the Python writer, ser2net, socat): on a shared two-core
// machine the throughputs swing with the load, the CPU each program spends per MB much
// less. After the runs of a size: median and range of each figure.
// The writer hands pyserial `--chunk-kib` KiB a call (default 1024). pyserial's write on a
// tty keeps what is still to go as a new copy after every partial write (`d = d[n:]`, a
// pty takes about 4 KiB at a time), so on the bridge's path the writer's own CPU grows
// with the size of a call (about 6 ms/MB at 1 MiB, 2 at 64 KiB with a reader that keeps
// up); its rfc2217:// client sends a call with one sendall and does not copy so.
// With --split-cores the far side (ser2net, socat and this program's reading thread) runs on
// CPU 0 and the writing side (the Python writer, and on the bridge's path the bridge's
// thread) on CPU 1, the same for both paths: it shows what each path moves when the work
// before ser2net does not take the far side's CPU (on a two-core machine the two sides
// otherwise share both cores and the path with more work before ser2net gives ser2net less).
// With --pty-floor a third path runs after the two: the same writer into PtyCopier below,
// the least a bridge with a pty can do.
// Usage: bridge_interop_bench [--chunk-kib=N] [--pty-floor] [--split-cores]
//                             [runs (default 3)] [MiB ... (default 8 64)].
// Needs ser2net, socat and python3-serial (scripts/setup.sh --interop).

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
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
#include "tests/support/ser2net_fixture.hpp"
#include "tests/support/spawn.hpp"

extern char** environ;

namespace zelin {
namespace {

namespace fs = std::filesystem;
using bench::RunningBridge;
using testing::TempDir;

// The writer: the same program for both paths; only the port's name differs.
constexpr const char* kWriter = R"(import os, sys, time
import serial
url, data_path, report, chunk = sys.argv[1:5]
chunk = int(chunk)
with open(data_path, 'rb') as f:
    data = f.read()
port = serial.serial_for_url(url, baudrate=115200, timeout=1)
start = time.monotonic()
for at in range(0, len(data), chunk):  # pyserial's socket timeout bounds one write
    port.write(data[at:at + chunk])
port.flush()
done = time.monotonic()
with open(report + '.tmp', 'w') as f:
    f.write('%.9f %.9f\n' % (start, done))
os.rename(report + '.tmp', report)
time.sleep(3600)  # the port stays open until the benchmark has every byte
)";

double Monotonic() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// User + system CPU seconds of a process (or of a thread: "self/task/TID").
double ProcCpu(const std::string& which) {
  std::ifstream in("/proc/" + which + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; rest >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::strtod(field.c_str(), nullptr);
    if (i == 15) break;
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string ReadText(const fs::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Result {
  bool ok = false;
  double mb_per_s = 0;
  std::string why;
  double writer_cpu = 0;  // seconds, the Python writer's whole life
  double ser2net_cpu = 0;  // seconds, during the transfer
  double socat_cpu = 0;
};

// Where the two sides of the path run (--split-cores); -1: anywhere.
struct Placement {
  int far = -1;
  int writing = -1;
};

void Pin(pid_t who, int cpu) {
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (::sched_setaffinity(who, sizeof set, &set) != 0) std::perror("sched_setaffinity");
}

// Runs the writer on `url` and reads `data.size()` bytes at `line`, byte-exact.
Result Transfer(const fs::path& dir, const std::string& url, const std::string& line,
                const std::vector<uint8_t>& data, const testing::Ser2netFixture& s2n,
                size_t chunk, const Placement& where) {
  const int fd = ::open(line.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {false, 0, "cannot open " + line};
  std::vector<uint8_t> buf(1 << 16);
  while (::read(fd, buf.data(), buf.size()) > 0) {
  }
  const fs::path report = dir / "writer.report";
  fs::remove(report);
  const pid_t writer = testing::SpawnLogged({"/usr/bin/python3", (dir / "writer.py").string(), url,
                              (dir / "data.bin").string(), report.string(),
                              std::to_string(chunk)},
                             (dir / "writer.log").string());
  Pin(writer, where.writing);
  const std::string ser2net = std::to_string(s2n.ser2net_pid());
  const std::string socat = std::to_string(s2n.socat_pid());
  const double ser2net0 = ProcCpu(ser2net), socat0 = ProcCpu(socat);
  size_t got = 0;
  bool same = true;
  double last = 0;
  const double deadline = Monotonic() + 600;
  while (got < data.size() && Monotonic() < deadline) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, 1000);
    for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) {
      const size_t take = std::min(static_cast<size_t>(n), data.size() - got);
      if (same && std::memcmp(buf.data(), data.data() + got, take) != 0) same = false;
      got += static_cast<size_t>(n);
      last = Monotonic();
    }
    int status = 0;
    if (got < data.size() && ::waitpid(writer, &status, WNOHANG) == writer) {
      ::close(fd);
      return {false, 0, "the writer ended: " + ReadText(dir / "writer.log")};
    }
  }
  ::close(fd);
  for (int i = 0; i < 1000 && !fs::exists(report); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string times = ReadText(report);
  Result r;
  r.writer_cpu = ProcCpu(std::to_string(writer));
  r.ser2net_cpu = ProcCpu(ser2net) - ser2net0;
  r.socat_cpu = ProcCpu(socat) - socat0;
  testing::StopChild(writer);
  if (got != data.size() || !same)
    return {false, 0,
            "got " + std::to_string(got) + " of " + std::to_string(data.size()) +
                (same ? " bytes" : " bytes, not the ones written")};
  const double start = std::strtod(times.c_str(), nullptr);
  if (start <= 0) return {false, 0, "no report from the writer"};
  r.ok = true;
  r.mb_per_s = static_cast<double>(data.size()) / 1e6 / (last - start);
  return r;
}

// The floor of any bridge with a pty: a pty whose master is read 4 KiB at a time, the
// bytes doubled where they are 0xFF (Telnet) and sent to ser2net on one plain TCP
// connection; nothing else (no settings, no negotiation answered, no queue). The same
// writer writes to its slave. What the bridge moves beside it is what the bridge itself
// costs; what it moves beside pyserial's client is what the pty costs as well.
class PtyCopier {
 public:
  PtyCopier(Ipv4 ip, uint16_t port, int cpu) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) std::abort();
    std::array<char, 128> name{};
    if (::ptsname_r(master_, name.data(), name.size()) != 0) std::abort();
    device_ = name.data();
    // Held open so that the master sees no hang-up between the writer's open and close.
    slave_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0) std::abort();
    ::cfmakeraw(&t);
    if (::tcsetattr(slave_, TCSANOW, &t) != 0) std::abort();
    sock_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = SocketAddress(ip, port);
    if (sock_ < 0 || ::connect(sock_, AsSockaddr(to), sizeof to) != 0) std::abort();
    const int one = 1;
    ::setsockopt(sock_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    thread_ = std::thread([this, cpu] {
      Pin(0, cpu);
      Run();
    });
    if (::pthread_getcpuclockid(thread_.native_handle(), &cpu_) != 0) std::abort();
  }
  ~PtyCopier() {
    stop_ = true;
    thread_.join();
    ::close(sock_);
    ::close(slave_);
    ::close(master_);
  }
  PtyCopier(const PtyCopier&) = delete;
  PtyCopier& operator=(const PtyCopier&) = delete;
  const std::string& device() const { return device_; }
  // CPU time of the copier's thread, in seconds.
  double Cpu() const {
    timespec ts{};
    if (::clock_gettime(cpu_, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }

 private:
  void Run() {
    std::array<uint8_t, 4096> in{};
    std::vector<uint8_t> out;
    while (!stop_) {
      pollfd p[2] = {{master_, POLLIN, 0}, {sock_, POLLIN, 0}};
      if (::poll(p, 2, 100) <= 0) continue;
      if ((p[1].revents & POLLIN) != 0) ::recv(sock_, in.data(), in.size(), MSG_DONTWAIT);
      if ((p[0].revents & POLLIN) == 0) continue;
      const ssize_t n = ::read(master_, in.data(), in.size());
      if (n <= 0) continue;
      out.clear();
      for (ssize_t i = 0; i < n; ++i) {
        out.push_back(in[static_cast<size_t>(i)]);
        if (in[static_cast<size_t>(i)] == 0xFF) out.push_back(0xFF);
      }
      for (size_t off = 0; off < out.size();) {
        const ssize_t w = ::send(sock_, out.data() + off, out.size() - off, MSG_NOSIGNAL);
        if (w <= 0) return;
        off += static_cast<size_t>(w);
      }
    }
  }

  int master_ = -1;
  int slave_ = -1;
  int sock_ = -1;
  std::string device_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  clockid_t cpu_{};
};

double LoadAverage() {
  double l[1] = {0};
  ::getloadavg(l, 1);
  return l[0];
}

// The figures of one run, by name, for the summary of a size.
using Figures = std::map<std::string, double>;

bool RunOne(size_t mib, int run, size_t chunk, const Placement& where, bool with_floor,
            std::vector<Figures>& runs) {
  TempDir tmp;
  std::vector<uint8_t> data(mib << 20);
  std::mt19937_64 random(static_cast<uint64_t>(mib * 1000 + static_cast<size_t>(run)));
  for (size_t i = 0; i < data.size(); i += 8) {
    const uint64_t v = random();
    std::memcpy(data.data() + i, &v, std::min<size_t>(8, data.size() - i));
  }
  std::ofstream(tmp.path() / "data.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  std::ofstream(tmp.path() / "writer.py") << kWriter;

  const Ipv4 ip = bench::BenchAddress(17, 10);
  testing::Ser2netFixture s2n;
  std::string error;
  if (!s2n.Start({.rfc2217 = true, .line = "115200n81", .address = ip}, &error)) {
    std::printf("ser2net: %s\n", error.c_str());
    return false;
  }
  const std::string url = "rfc2217://" + AddressToText(ip) + ":" + std::to_string(s2n.port()) +
                          "?ign_set_control";  // a pty device has no modem lines to set
  Pin(s2n.ser2net_pid(), where.far);
  Pin(s2n.socat_pid(), where.far);
  const double load0 = LoadAverage();
  const Result py = Transfer(tmp.path(), url, s2n.line_path(), data, s2n, chunk, where);
  if (!py.ok) {
    std::printf("%zu MiB run %d, pyserial: %s\n", mib, run, py.why.c_str());
    return false;
  }
  Result br;
  double cpu = 0;
  double wakes = 0;
  {
    // One server (serial 100) with port 1 mapped as COM1, its data port at ser2net's.
    RunningBridge b(tmp.path(), ip, 1, 1,
                    "[defaults]\nmode = rfc2217\ndata_port_base = " + std::to_string(s2n.port()) + "\n");
    if (!b.WaitConnected(1, 30)) {
      std::printf("%zu MiB run %d: the bridge does not connect\n", mib, run);
      return false;
    }
    Pin(b.tid(), where.writing);
    const double cpu0 = b.Cpu(), wakes0 = b.Switches();
    br = Transfer(tmp.path(), b.Device(1).string(), s2n.line_path(), data, s2n, chunk, where);
    cpu = b.Cpu() - cpu0;
    wakes = b.Switches() - wakes0;
  }
  if (!br.ok) {
    std::printf("%zu MiB run %d, bridge: %s\n", mib, run, br.why.c_str());
    return false;
  }
  Result floor;
  double floor_cpu = 0;
  if (with_floor) {
    PtyCopier copier(ip, s2n.port(), where.writing);
    const double cpu0 = copier.Cpu();
    floor = Transfer(tmp.path(), copier.device(), s2n.line_path(), data, s2n, chunk, where);
    floor_cpu = copier.Cpu() - cpu0;
    if (!floor.ok) {
      std::printf("%zu MiB run %d, pty copier: %s\n", mib, run, floor.why.c_str());
      return false;
    }
  }
  const double mb = static_cast<double>(data.size()) / 1e6;
  const double load = (load0 + LoadAverage()) / 2;
  std::printf("%3zu MiB run %d: pyserial rfc2217:// %6.2f MB/s, bridge %6.2f MB/s, "
              "ratio %.2f; bridge CPU %.2f ms/MB, %.0f wake-ups/MB; load average %.2f\n",
              mib, run, py.mb_per_s, br.mb_per_s, br.mb_per_s / py.mb_per_s, cpu * 1e3 / mb,
              wakes / mb, load);
  std::printf("           CPU ms/MB  writer / ser2net / socat: pyserial path %.1f / %.1f / %.1f, "
              "bridge path %.1f / %.1f / %.1f (+ bridge %.1f)\n",
              py.writer_cpu * 1e3 / mb, py.ser2net_cpu * 1e3 / mb, py.socat_cpu * 1e3 / mb,
              br.writer_cpu * 1e3 / mb, br.ser2net_cpu * 1e3 / mb, br.socat_cpu * 1e3 / mb,
              cpu * 1e3 / mb);
  if (with_floor)
    std::printf("           pty copier %6.2f MB/s (CPU ms/MB writer %.1f, ser2net %.1f, "
                "socat %.1f, copier %.1f): bridge / copier %.2f, copier / pyserial %.2f\n",
                floor.mb_per_s, floor.writer_cpu * 1e3 / mb, floor.ser2net_cpu * 1e3 / mb,
                floor.socat_cpu * 1e3 / mb, floor_cpu * 1e3 / mb, br.mb_per_s / floor.mb_per_s,
                floor.mb_per_s / py.mb_per_s);
  std::fflush(stdout);
  runs.push_back({{"pyserial MB/s", py.mb_per_s},
                  {"bridge MB/s", br.mb_per_s},
                  {"ratio", br.mb_per_s / py.mb_per_s},
                  {"bridge CPU ms/MB", cpu * 1e3 / mb},
                  {"bridge wake-ups/MB", wakes / mb},
                  {"CPU ms/MB, pyserial path",
                   (py.writer_cpu + py.ser2net_cpu + py.socat_cpu) * 1e3 / mb},
                  {"CPU ms/MB, bridge path",
                   (br.writer_cpu + br.ser2net_cpu + br.socat_cpu + cpu) * 1e3 / mb},
                  {"load average", load}});
  if (with_floor) {
    runs.back()["pty copier MB/s"] = floor.mb_per_s;
    runs.back()["pty copier CPU ms/MB"] = floor_cpu * 1e3 / mb;
    runs.back()["ratio bridge / copier"] = br.mb_per_s / floor.mb_per_s;
    runs.back()["ratio copier / pyserial"] = floor.mb_per_s / py.mb_per_s;
  }
  return true;
}

// Median and range of each figure over the runs of one size.
void Summary(size_t mib, const std::vector<Figures>& runs) {
  if (runs.empty()) return;
  std::printf("%3zu MiB, %zu runs, median [min - max]:\n", mib, runs.size());
  for (const auto& [name, unused] : runs.front()) {
    std::vector<double> v;
    for (const Figures& f : runs) v.push_back(f.at(name));
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    std::printf("    %-26s %8.2f  [%.2f - %.2f]\n", name.c_str(), median, v.front(), v.back());
  }
  std::fflush(stdout);
}

}  // namespace
}  // namespace zelin

int main(int argc, char** argv) {
  if (const std::string why = zelin::testing::Ser2netFixture::Missing(); !why.empty()) {
    std::printf("%s\n", why.c_str());
    return 1;
  }
  if (::access("/usr/bin/python3", X_OK) != 0 ||
      std::system("/usr/bin/python3 -c 'import serial.rfc2217' 2>/dev/null") != 0) {
    std::printf("python3-serial not installed (scripts/setup.sh --interop installs it)\n");
    return 1;
  }
  size_t chunk = 1 << 20;
  zelin::Placement where;
  bool floor = false;
  std::vector<std::string> args(argv + 1, argv + argc);
  while (!args.empty() && args.front().rfind("--", 0) == 0) {  // options, in any order
    const std::string option = args.front();
    args.erase(args.begin());
    if (option.rfind("--chunk-kib=", 0) == 0) {
      chunk = std::max<size_t>(1, std::strtoul(option.c_str() + 12, nullptr, 10)) << 10;
    } else if (option == "--pty-floor") {
      floor = true;
    } else if (option == "--split-cores" && ::sysconf(_SC_NPROCESSORS_ONLN) >= 2) {
      where = {.far = 0, .writing = 1};
      zelin::Pin(0, where.far);  // this thread reads; the threads it starts move as told
    } else {
      std::printf("%s: %s\n", option.c_str(),
                  option == "--split-cores" ? "needs two CPUs" : "not an option");
      return 1;
    }
  }
  const int runs = !args.empty() ? std::max(1, std::atoi(args[0].c_str())) : 3;
  std::vector<size_t> sizes;
  for (size_t i = 1; i < args.size(); ++i)
    sizes.push_back(static_cast<size_t>(std::atoi(args[i].c_str())));
  std::printf("the writer hands pyserial %zu KiB a call%s\n", chunk >> 10,
              where.far >= 0 ? "; ser2net, socat and the reader on CPU 0, the writing side on CPU 1"
                             : "");
  if (sizes.empty()) sizes = {8, 64};
  bool ok = true;
  for (size_t mib : sizes) {
    std::vector<zelin::Figures> figures;
    for (int run = 1; run <= runs; ++run)
      ok = zelin::RunOne(mib, run, chunk, where, floor, figures) && ok;
    zelin::Summary(mib, figures);
  }
  return ok ? 0 : 1;
}
