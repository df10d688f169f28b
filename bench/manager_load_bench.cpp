// Timed tool: how long the manager takes from start to a filled server tree with
// 32 configured servers of which 0, 2, 10 or 30 stay silent, split into the search
// floor (the fixed broadcasts and reply rounds of discovery), the probes of the silent
// servers (side by side, as the load runs them), and everything else (store read,
// matching, tree contents).
//
//   manager_load_bench [--speedup N] [--runs N] [--silent N]
//
// Uses the real clock by default (speedup 1). Everything runs on 127.201.7.0/24.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "protocol/discovery.hpp"
#include "protocol/transport.hpp"
#include "srvmanager/core/manager_document.hpp"
#include "srvmanager/core/manager_store.hpp"

using namespace zelin;

namespace {

Ipv4 Addr(uint8_t host) {
  return Ipv4FromOctets(127, 201, 7, host);
}

class Store final : public manager::ManagerStore {
 public:
  std::vector<ServerConfig> servers;
  Result<int> Load(ServerConfig* table, int capacity) override {
    int n = 0;
    for (const auto& s : servers)
      if (n < capacity) table[n++] = s;
    return n;
  }
  Status Save(const ServerConfig*, int, const ServerConfig*, int) override { return {}; }
  Result<int> ReadInstallationType() override { return kMultiHost; }
  Status RemoveAllServers() override { return {}; }
};

class QuietPrompter final : public Prompter {
 public:
  MsgAnswer Message(std::string_view, MsgButtons, MsgIcon, std::string_view) override {
    return MsgAnswer::Cancel;
  }
  std::optional<std::string> AskPassword(std::string_view, size_t) override { return std::nullopt; }
  void BeginWait() override {}
  void EndWait() override {}
};

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// One start-up case: 32 configured servers, the last `silent` of them not in the lab.
int RunCase(Clock& clock, double speedup, int runs, int silent) {
  emulator::LabSpec desc;
  desc.broadcast = Addr(255);
  Store store;
  for (int i = 0; i < 32; ++i) {
    const auto host = static_cast<uint8_t>(10 + i);
    const auto serial = static_cast<uint16_t>(1000 + i);
    const DeviceType type = (i % 2 == 0) ? 9476 : 771;
    ServerConfig c;
    c.device_type = type;
    c.serial_number = serial;
    c.set_name("bench-" + std::to_string(i));
    c.ip_address = Addr(host);
    c.netmask = Ipv4FromOctets(255, 255, 255, 0);
    store.servers.push_back(c);
    if (i < 32 - silent) {
      emulator::ServerSpec s;
      s.type = type;
      s.serial = serial;
      s.name = c.name();
      s.ip = c.ip_address;
      s.netmask = c.netmask;
      desc.servers.push_back(s);
    }
  }
  if (const std::string problem = emulator::CompleteAndCheck(desc); !problem.empty()) {
    std::fprintf(stderr, "lab: %s\n", problem.c_str());
    return 1;
  }
  emulator::Lab lab(desc, clock);
  std::string error;
  if (!lab.Start(&error)) {
    std::fprintf(stderr, "lab: %s\n", error.c_str());
    return 1;
  }

  QuietPrompter prompter;
  PrompterNotices notices(prompter);
  Transport transport(
      clock, notices, Deliverable::Manager,
      TransportOptions{.interfaces = {Addr(1)}, .broadcast = Addr(255), .loopback_only = true});
  if (!transport.OpenTransport()) {
    std::fprintf(stderr, "transport cannot open\n");
    return 1;
  }

  std::printf("32 configured servers, %d silent, clock speedup %.0f, %d run(s)\n", silent, speedup,
              runs);
  std::printf("%-6s %12s %12s %12s %12s %8s\n", "run", "total ms", "search ms", "probes ms",
              "rest ms", "online");
  for (int r = 0; r < runs; ++r) {
    // The search alone: its waits are fixed, so this is the floor of every start.
    ServerList list;
    auto t0 = std::chrono::steady_clock::now();
    if (silent < 32) SearchServers(transport, list, 1);
    const double search = Ms(std::chrono::steady_clock::now() - t0);

    // The silent servers' probes, side by side (four attempts each).
    std::vector<Ipv4> addresses;
    for (int i = 32 - silent; i < 32; ++i)
      addresses.push_back(store.servers[static_cast<size_t>(i)].ip_address);
    t0 = std::chrono::steady_clock::now();
    ProbeAddressesRetry(transport, list, addresses, 1);
    const double probes = Ms(std::chrono::steady_clock::now() - t0);

    // The whole load as the manager runs it at start.
    manager::ManagerDocument doc(transport, prompter, store, kMultiHost, nullptr);
    t0 = std::chrono::steady_clock::now();
    doc.Load();
    const double total = Ms(std::chrono::steady_clock::now() - t0);
    int online = 0;
    for (const auto& item : doc.server_tree().items()) online += item.icon == manager::kIconOnline ? 1 : 0;
    std::printf("%-6d %12.1f %12.1f %12.1f %12.1f %8d\n", r + 1, total, search, probes,
                total - search - probes, online);
  }
  transport.CloseTransport();
  lab.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  double speedup = 1.0;
  int runs = 1;
  int only = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--speedup") == 0) speedup = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--silent") == 0) only = std::atoi(argv[i + 1]);
  }
  if (speedup <= 0 || runs <= 0 || only < -1 || only > 32) {
    std::fprintf(stderr, "usage: %s [--speedup N] [--runs N] [--silent 0..32]\n", argv[0]);
    return 2;
  }
  RealClock real;
  ScaledClock scaled(speedup);
  Clock& clock = speedup == 1.0 ? static_cast<Clock&>(real) : scaled;
  const std::vector<int> cases = only >= 0 ? std::vector<int>{only} : std::vector<int>{0, 2, 10, 30};
  for (int silent : cases)
    if (const int rc = RunCase(clock, speedup, runs, silent); rc != 0) return rc;
  return 0;
}
