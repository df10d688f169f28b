#pragma once
// A document over an emulated lab on the test's own loopback block.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "protocol/address.hpp"
#include "tests/srvmanager/fixture.hpp"
#include "tests/support/lab_support.hpp"

namespace zelin::manager::testing {

using zelin::testing::LabServer;

class LabDocTest : public OfflineDocTest {
 protected:
  double Speedup() const override { return 25.0; }
  // Whether the labs' servers take only the newest nonce they handed out.
  virtual bool StrictNonce() const { return false; }

  void TearDown() override {
    for (auto& lab : labs_) lab->Stop();
    OfflineDocTest::TearDown();
  }

  // Starts a lab answering on `broadcast` (the block's broadcast address by default).
  emulator::Lab& StartLab(std::vector<emulator::ServerSpec> servers, Ipv4 broadcast = 0) {
    labs_.push_back(zelin::testing::StartBlockLab(
        block_, std::move(servers), *clock_,
        {.restart_ms = 200, .strict_nonce = StrictNonce(), .broadcast = broadcast}));
    return *labs_.back();
  }

  // Loads the store's `entries` with the network as the labs make it.
  ManagerDocument& LoadDoc(int type, std::vector<ServerConfig> entries) {
    store_.servers = std::move(entries);
    store_.type = type;
    doc_ = std::make_unique<ManagerDocument>(*transport_, prompter_, store_, type,
                                             [this] { ++fresh_ports_; });
    doc_->Load();
    return *doc_;
  }

  // The codes of the answered UDP requests to the server with `serial`, in order.
  std::vector<int> Codes(emulator::Lab& lab, uint16_t serial) {
    return zelin::testing::UdpCodes(lab, serial);
  }

  int FoundIndex(uint16_t serial) { return doc_->tables().found().FindSerial(serial); }
  ServerRecord& Found(uint16_t serial) {
    const int i = FoundIndex(serial);
    if (i < 0) throw std::runtime_error("server " + std::to_string(serial) + " was not found");
    return doc_->tables().found().records[static_cast<size_t>(i)];
  }

  std::vector<std::unique_ptr<emulator::Lab>> labs_;
};

// A LabDocTest that runs once against lenient servers and once against strict-nonce
// servers: instantiate with ::testing::Bool() and NonceModeName.
class NonceModesLabDocTest : public LabDocTest, public ::testing::WithParamInterface<bool> {
 protected:
  bool StrictNonce() const override { return GetParam(); }
};
inline std::string NonceModeName(const ::testing::TestParamInfo<bool>& info) {
  return info.param ? "StrictNonce" : "Lenient";
}

}  // namespace zelin::manager::testing
