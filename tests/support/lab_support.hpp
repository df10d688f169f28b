#pragma once
// What every lab fixture does the same way: describe an emulated lab on the test's own
// loopback block, start it, and read the codes it answered. Each folder's fixture keeps
// only its own defaults (models, names, clocks, what else it opens). Header only: it is
// used by the test executables that link the emulator.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "platform/clock.hpp"
#include "protocol/wire.hpp"
#include "tests/support/loopback.hpp"

namespace zelin::testing {

// A lab answering on the block's broadcast stand-in.
inline emulator::LabSpec BlockLab(const LoopbackBlock& block,
                                  std::vector<emulator::ServerSpec> servers,
                                  std::vector<emulator::OccupiedAddress> occupied = {}) {
  emulator::LabSpec desc;
  desc.broadcast = block.Broadcast();
  desc.servers = std::move(servers);
  desc.occupied = std::move(occupied);
  return desc;
}

// Builds and starts the lab on `clock`; a failure to start fails the test (the lab is
// returned all the same, so the caller's pointer is never empty).
inline std::unique_ptr<emulator::Lab> StartedLab(emulator::LabSpec desc, Clock& clock) {
  auto lab = std::make_unique<emulator::Lab>(std::move(desc), clock);
  std::string error;
  EXPECT_TRUE(lab->Start(&error)) << error;
  return lab;
}

// The codes of the UDP requests that the server `serial` answered or refused, in order;
// searches are left out when `with_searches` is false.
inline std::vector<int> UdpCodes(const emulator::Lab& lab, uint16_t serial,
                                 bool with_searches = true) {
  std::vector<int> codes;
  for (const auto& e : lab.Log()) {
    if (e.proto != "udp" || e.ignored() || e.server != std::to_string(serial)) continue;
    if (!with_searches && e.code == wire::kSearch) continue;
    codes.push_back(e.code);
  }
  return codes;
}

}  // namespace zelin::testing
