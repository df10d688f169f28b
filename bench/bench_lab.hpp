#pragma once
// What the benchmarks share: each one's own loopback block and a started lab of one
// emulated server in it. A benchmark aborts when its lab cannot start.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "emulator/lab.hpp"

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

}  // namespace zelin::bench
