#pragma once
// What the benchmarks share: each one's own loopback block and a started lab of one
// emulated server in it. A benchmark aborts when its lab cannot start.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "protocol/address.hpp"

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

// The devsim program: $DEVSIM, else beside this program's build tree.
inline std::string DevsimPath() {
  if (const char* env = std::getenv("DEVSIM")) return env;
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "devsim";
  const std::string dir(self, static_cast<size_t>(n));
  return dir.substr(0, dir.rfind('/')) + "/../emulator/devsim";
}

// Starts devsim with `broadcast` and one --server flag per entry of `servers`, and waits
// for its last ready line. Returns its pid, or -1 when it did not become ready.
inline pid_t StartDevsimProcess(Ipv4 broadcast, const std::vector<std::string>& servers) {
  std::vector<std::string> args = {DevsimPath(), "--broadcast", AddressToText(broadcast)};
  for (const std::string& s : servers) {
    args.push_back("--server");
    args.push_back(s);
  }
  int out[2];
  if (::pipe(out) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::FILE* f = ::fdopen(out[0], "r");
  char line[512];
  bool ready = false;
  while (!ready && std::fgets(line, sizeof line, f) != nullptr)
    ready = std::string(line).rfind("ready broadcast=", 0) == 0;
  std::fclose(f);
  return ready ? pid : -1;
}

}  // namespace zelin::bench
