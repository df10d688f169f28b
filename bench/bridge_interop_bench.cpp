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
// last byte at the far end. Reported: MB/s of each, the ratio bridge / pyserial, and the
// bridge thread's CPU time per MB (user + system, its thread CPU clock).
// Usage: bridge_interop_bench [runs (default 3)] [MiB ... (default 8 64)].
// Needs ser2net, socat and python3-serial (scripts/setup.sh --interop).

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_bridge.hpp"
#include "bench/bench_lab.hpp"
#include "bridge/core/bridge.hpp"
#include "platform/notices.hpp"
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
url, data_path, report = sys.argv[1:4]
with open(data_path, 'rb') as f:
    data = f.read()
port = serial.serial_for_url(url, baudrate=115200, timeout=1)
start = time.monotonic()
for at in range(0, len(data), 1 << 20):  # pyserial's socket timeout bounds one write
    port.write(data[at:at + (1 << 20)])
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

std::string ReadText(const fs::path& p) {
  std::ifstream in(p);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Result {
  bool ok = false;
  double mb_per_s = 0;
  std::string why;
};

// Runs the writer on `url` and reads `data.size()` bytes at `line`, byte-exact.
Result Transfer(const fs::path& dir, const std::string& url, const std::string& line,
                const std::vector<uint8_t>& data) {
  const int fd = ::open(line.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {false, 0, "cannot open " + line};
  std::vector<uint8_t> buf(1 << 16);
  while (::read(fd, buf.data(), buf.size()) > 0) {
  }
  const fs::path report = dir / "writer.report";
  fs::remove(report);
  const pid_t writer = testing::SpawnLogged({"/usr/bin/python3", (dir / "writer.py").string(), url,
                              (dir / "data.bin").string(), report.string()},
                             (dir / "writer.log").string());
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
  testing::StopChild(writer);
  if (got != data.size() || !same)
    return {false, 0,
            "got " + std::to_string(got) + " of " + std::to_string(data.size()) +
                (same ? " bytes" : " bytes, not the ones written")};
  const double start = std::strtod(times.c_str(), nullptr);
  if (start <= 0) return {false, 0, "no report from the writer"};
  return {true, static_cast<double>(data.size()) / 1e6 / (last - start), {}};
}

double LoadAverage() {
  double l[1] = {0};
  ::getloadavg(l, 1);
  return l[0];
}

bool RunOne(size_t mib, int run) {
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
  const double load0 = LoadAverage();
  const Result py = Transfer(tmp.path(), url, s2n.line_path(), data);
  if (!py.ok) {
    std::printf("%zu MiB run %d, pyserial: %s\n", mib, run, py.why.c_str());
    return false;
  }
  Result br;
  double cpu = 0;
  {
    // One server (serial 100) with port 1 mapped as COM1, its data port at ser2net's.
    RunningBridge b(tmp.path(), ip, 1, 1,
                    "[defaults]\nmode = rfc2217\ndata_port_base = " + std::to_string(s2n.port()) + "\n");
    if (!b.WaitConnected(1, 30)) {
      std::printf("%zu MiB run %d: the bridge does not connect\n", mib, run);
      return false;
    }
    const double cpu0 = b.Cpu();
    br = Transfer(tmp.path(), b.Device(1).string(), s2n.line_path(), data);
    cpu = b.Cpu() - cpu0;
  }
  if (!br.ok) {
    std::printf("%zu MiB run %d, bridge: %s\n", mib, run, br.why.c_str());
    return false;
  }
  std::printf("%3zu MiB run %d: pyserial rfc2217:// %6.2f MB/s, bridge %6.2f MB/s, "
              "ratio %.2f; bridge CPU %.2f ms/MB; load average %.2f\n",
              mib, run, py.mb_per_s, br.mb_per_s, br.mb_per_s / py.mb_per_s,
              cpu * 1e3 / (static_cast<double>(data.size()) / 1e6), (load0 + LoadAverage()) / 2);
  std::fflush(stdout);
  return true;
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
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<size_t> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(static_cast<size_t>(std::atoi(argv[i])));
  if (sizes.empty()) sizes = {8, 64};
  bool ok = true;
  for (size_t mib : sizes)
    for (int run = 1; run <= runs; ++run) ok = zelin::RunOne(mib, run) && ok;
  return ok ? 0 : 1;
}
