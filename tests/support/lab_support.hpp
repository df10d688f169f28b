#pragma once
// The in-process emulated lab of the tests, the same way for every suite: servers on the
// test's own loopback block, the lab made (and checked) with a suite's options, started,
// the client transport opened on the block, and the codes the lab answered. Each
// folder's fixture keeps only its own defaults (models, names, clocks, what else it
// opens). Header only: it is used by the test executables that link the emulator.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "protocol/address.hpp"
#include "protocol/transport.hpp"
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

// A server of model `type` named `name` at `ip` on a /24 network, with `password` and
// `firmware`.
inline emulator::ServerSpec LabServer(uint16_t serial, std::string name, Ipv4 ip,
                                      DeviceType type = 9476, std::string password = "",
                                      uint32_t firmware = emulator::ServerSpec{}.firmware) {
  emulator::ServerSpec s;
  s.type = type;
  s.serial = serial;
  s.name = std::move(name);
  s.ip = ip;
  s.netmask = Ipv4FromOctets(255, 255, 255, 0);
  s.password = std::move(password);
  s.firmware = firmware;
  return s;
}

// How a suite's lab runs (the defaults are the lab's own).
struct LabOptions {
  int64_t restart_ms = 2000;  // how long a restarting server is silent
  bool strict_nonce = false;  // servers take only the newest nonce they handed out
  uint64_t seed = 1;
  Ipv4 broadcast = 0;  // where the lab hears broadcasts; 0: the block's stand-in
  std::vector<emulator::OccupiedAddress> occupied{};
};

// The lab of `servers` on the block, completed and checked (a problem fails the test),
// not started yet, so that a test can change its handler tables first.
inline std::unique_ptr<emulator::Lab> MakeBlockLab(const LoopbackBlock& block,
                                                   std::vector<emulator::ServerSpec> servers,
                                                   Clock& clock, LabOptions options = {}) {
  emulator::LabSpec desc = BlockLab(block, std::move(servers), std::move(options.occupied));
  if (options.broadcast != 0) desc.broadcast = options.broadcast;
  desc.restart_ms = options.restart_ms;
  desc.strict_nonce = options.strict_nonce;
  desc.seed = options.seed;
  const std::string problem = emulator::CompleteAndCheck(desc);
  EXPECT_EQ(problem, "");
  return std::make_unique<emulator::Lab>(std::move(desc), clock);
}

// Starts `lab`; a failure to start fails the test.
inline void StartLabOrFail(emulator::Lab& lab) {
  std::string error;
  EXPECT_TRUE(lab.Start(&error)) << error;
}

// MakeBlockLab, started.
inline std::unique_ptr<emulator::Lab> StartBlockLab(const LoopbackBlock& block,
                                                    std::vector<emulator::ServerSpec> servers,
                                                    Clock& clock, LabOptions options = {}) {
  auto lab = MakeBlockLab(block, std::move(servers), clock, std::move(options));
  StartLabOrFail(*lab);
  return lab;
}

// The client transport of a test on the block's first interface, opened from
// `first_local_port`; a failure to open fails the test.
inline std::unique_ptr<Transport> OpenBlockClient(
    const LoopbackBlock& block, Clock& clock, NoticeSink& notices, Deliverable deliverable,
    uint16_t first_local_port = wire::kManagerFirstLocalPort) {
  auto transport =
      std::make_unique<Transport>(clock, notices, deliverable, block.ClientOptions());
  const Status opened = transport->OpenTransport(first_local_port);
  EXPECT_TRUE(opened) << opened;
  return transport;
}

// Builds and starts the lab on `clock`; a failure to start fails the test (the lab is
// returned all the same, so the caller's pointer is never empty).
inline std::unique_ptr<emulator::Lab> StartedLab(emulator::LabSpec desc, Clock& clock) {
  auto lab = std::make_unique<emulator::Lab>(std::move(desc), clock);
  StartLabOrFail(*lab);
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
