#pragma once
// The client against an in-process emulated lab on the test's own loopback block.
// The lab and the client share one ScaledClock, so the protocol's waits (3 s reply
// rounds, 6 s restarts) run ten times faster with the product's constants.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "platform/clock.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"
#include "protocol/transport.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::testing {

// Bytes of a log entry's hex text.
std::vector<uint8_t> FromHex(const std::string& hex);

class LabTest : public ::testing::Test {
 protected:
  static constexpr double kSpeedup = 10;

  void TearDown() override;
  // Whether the lab's servers take only the newest nonce they handed out.
  virtual bool StrictNonce() const { return false; }

  // A server of model 9476 at block address `host`.
  emulator::ServerSpec Server(uint16_t serial, uint8_t host,
                              const std::string& password = "") const;

  // Builds the lab (not started) so that a test can change its handler tables first.
  emulator::Lab& MakeLab(std::vector<emulator::ServerSpec> servers, uint64_t seed = 1);
  void StartLab();
  emulator::Lab& StartLab(std::vector<emulator::ServerSpec> servers, uint64_t seed = 1) {
    MakeLab(std::move(servers), seed);
    StartLab();
    return *lab_;
  }
  // Opens the client transport on the block's first interface.
  void OpenClient();
  // Searches and returns the record of `serial` (fails the test when it is missing).
  ServerRecord& Found(uint16_t serial);
  // A lab of one server at block address `host` with `password`, started; the client
  // open; and the server's record, found by a search, with that password to send.
  ServerRecord& StartAndLogIn(uint16_t serial, uint8_t host, const std::string& password);

  // The requests a server answered or refused (not the ignored ones), in order.
  std::vector<emulator::LogEntry> Requests(int code = -1, const std::string& server = "") const;

  ScaledClock clock_{kSpeedup};
  ScriptedPrompter prompter_;
  PrompterNotices notices_{prompter_};
  LoopbackBlock block_;
  std::unique_ptr<emulator::Lab> lab_;
  std::unique_ptr<Transport> transport_;
  ServerList list_;
};

// A LabTest that runs once against lenient servers and once against strict-nonce
// servers: instantiate with ::testing::Bool() and NonceModeName.
class NonceModesLabTest : public LabTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool StrictNonce() const override { return GetParam(); }
};
std::string NonceModeName(const ::testing::TestParamInfo<bool>& info);

}  // namespace zelin::testing
