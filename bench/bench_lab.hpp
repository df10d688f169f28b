#pragma once
// What the benchmarks share: each one's own loopback block and a started lab of one
// emulated server in it. A benchmark aborts when its lab cannot start.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "protocol/address.hpp"
#include "tests/support/devsim_process.hpp"

namespace zelin::bench {

// Benchmark number `block` uses 127.201.<block>.0/24 and nothing else.
inline Ipv4 BenchAddress(uint8_t block, uint8_t host) {
  return Ipv4FromOctets(127, 201, block, host);
}

// Server 1, a 16-port model, at .10 of the block, with `password`.
inline emulator::ServerSpec BenchServer(uint8_t block, std::string password) {
  emulator::ServerSpec s;
  s.type = 9476;
  s.serial = 1;
  s.ip = BenchAddress(block, 10);
  s.password = std::move(password);
  return s;
}

// A started lab of `server` that broadcasts within the block.
inline std::unique_ptr<emulator::Lab> StartBenchLab(uint8_t block, const emulator::ServerSpec& server) {
  emulator::LabSpec desc;
  desc.broadcast = BenchAddress(block, 255);
  desc.servers.push_back(server);
  if (!emulator::CompleteAndCheck(desc).empty()) std::abort();
  auto lab = std::make_unique<emulator::Lab>(desc);
  std::string error;
  if (!lab->Start(&error)) std::abort();
  return lab;
}

// A program of the build: the path in the environment variable `env`, else `relative`
// to the top of this program's build tree.
inline std::string BesideBuild(const char* env, const std::string& relative) {
  if (const char* e = std::getenv(env)) return e;
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string dir(self, static_cast<size_t>(n > 0 ? n : 0));
  return dir.substr(0, dir.rfind('/')) + "/../" + relative;
}

// The devsim program: $DEVSIM, else beside this program's build tree.
inline std::string DevsimPath() { return BesideBuild("DEVSIM", "emulator/devsim"); }

// Starts devsim with `broadcast` and one --server flag per entry of `servers`, and waits
// for its ready line. Returns its pid, or -1 when it did not become ready.
inline pid_t StartDevsimProcess(Ipv4 broadcast, const std::vector<std::string>& servers) {
  return testing::SpawnDevsim(DevsimPath(), broadcast, servers);
}

// The value at quantile `q` (0 to 1) of `v`; 0 for none.
inline double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

}  // namespace zelin::bench
