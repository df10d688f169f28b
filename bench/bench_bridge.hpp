#pragma once
// The bridge of the bridge benchmarks: a store of 16-port servers with their ports mapped,
// a settings file, and the bridge running on a thread of its own on the real clock. It
// aborts when it cannot start.

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bridge/core/bridge.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "store/hive_file.hpp"
#include "store/server_store.hpp"

namespace zelin::bench {

class RunningBridge {
 public:
  // `servers` servers (serials from 100) at `ip`, each with its first `ports` ports mapped
  // (COM numbers from 1), and `config` as the settings file, all below `dir`.
  RunningBridge(const std::filesystem::path& dir, Ipv4 ip, int servers, int ports,
                const std::string& config) {
    std::vector<ServerConfig> table;
    int com = 1;
    for (int s = 0; s < servers; ++s) {
      ServerConfig c;
      c.device_type = 9747;  // 16 ports
      c.serial_number = static_cast<uint16_t>(100 + s);
      c.port_count = static_cast<uint32_t>(PortCountOf(c.device_type));
      c.ip_address = ip;
      c.netmask = Ipv4FromOctets(255, 255, 255, 0);
      for (int p = 0; p < ports; ++p) {
        c.port_mapped[static_cast<size_t>(p)] = 1;
        c.com_number[static_cast<size_t>(p)] = static_cast<uint8_t>(com++ % 256);
      }
      table.push_back(c);
    }
    options_.store = dir / "registry.reg";
    options_.config = dir / "bridge.conf";
    options_.dir = dir / "run";
    options_.state = dir / "run" / "bridge-state.json";
    options_.loopback_only = true;
    HiveFile hive(options_.store);
    if (!SaveServerStore(hive, table, {})) std::abort();
    std::ofstream(options_.config) << config;
    bridge_ = std::make_unique<bridge::Bridge>(options_, SystemClock(), notices_);
    if (!bridge_->Start()) std::abort();
    thread_ = std::thread([this] {
      tid_ = static_cast<pid_t>(::syscall(SYS_gettid));
      bridge_->Run();
    });
    if (::pthread_getcpuclockid(thread_.native_handle(), &cpu_) != 0) std::abort();
    while (tid_ == 0) std::this_thread::yield();
  }
  ~RunningBridge() {
    bridge_->Stop();
    thread_.join();
  }
  RunningBridge(const RunningBridge&) = delete;
  RunningBridge& operator=(const RunningBridge&) = delete;

  std::filesystem::path Device(int com) const {
    return options_.dir / ("COM" + std::to_string(com));
  }
  std::string StateText() const {
    std::ifstream in(options_.state);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // Connected ports, read from the state file (the loop owns the ports).
  int Connected() const {
    const std::string text = StateText();
    int n = 0;
    for (size_t at = 0; (at = text.find("\"connected\"", at)) != std::string::npos; ++at) ++n;
    return n;
  }
  // Waits (polling the state file) until `n` ports are connected; false after `seconds`.
  bool WaitConnected(int n, double seconds) const {
    const auto start = std::chrono::steady_clock::now();
    while (Connected() < n) {
      if (std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds))
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }
  // The bridge thread's id (for its CPU placement).
  pid_t tid() const { return tid_.load(); }
  // CPU time of the bridge's thread, in seconds.
  double Cpu() const {
    timespec ts{};
    ::clock_gettime(cpu_, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }
  // Voluntary + involuntary context switches of the bridge's thread: its wake-ups.
  double Switches() const {
    std::ifstream in("/proc/self/task/" + std::to_string(tid_.load()) + "/status");
    std::string key;
    double total = 0;
    while (in >> key) {
      if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
        double v = 0;
        in >> v;
        total += v;
      }
      in.ignore(1 << 20, '\n');
    }
    return total;
  }

 private:
  bridge::BridgeOptions options_;
  ConsoleNotices notices_{true};
  std::unique_ptr<bridge::Bridge> bridge_;
  std::thread thread_;
  clockid_t cpu_{};
  std::atomic<pid_t> tid_{0};
};

}  // namespace zelin::bench
