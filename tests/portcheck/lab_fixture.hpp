#pragma once
// A lab of emulated servers on the test's own loopback block, the diagnostic session
// on it, and a configuration that lists servers of the lab.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/notices.hpp"
#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/session.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::portcheck {

class PortcheckLab : public ::testing::Test {
 protected:
  emulator::ServerSpec Server(uint16_t serial, uint8_t host, std::string password = "",
                              DeviceType type = 9480) {
    emulator::ServerSpec s;
    s.type = type;
    s.serial = serial;
    s.name = "Bench " + std::to_string(serial);
    s.ip = block_.Address(host);
    s.password = std::move(password);
    return s;
  }
  void Start(std::vector<emulator::ServerSpec> servers) {
    lab_ = testing::StartedLab(testing::BlockLab(block_, std::move(servers)), clock_);
  }
  // Server 91 at .10, started and configured, with ports 1 and 2 wired together and two
  // scripted failures: an internal loopback one and an external Tx/Rx one.
  void StartFailingServer() {
    auto bench = Server(91, 10);
    bench.diag.pairs = {{0, 1}};
    bench.diag.failures = {{wire::kItemInternal, wire::kSubLoopback, 2, 2},
                           {wire::kItemExternal, wire::kSubTxRx, 0, 11}};
    Start({bench});
    Configure(91, 10);
  }
  // Adds a server to the configuration as the Test Object page would (port mask
  // 0xFFFF, status 1).
  void Configure(uint16_t serial, uint8_t host, std::string password = "",
                 DeviceType type = 9480) {
    ServerImage im;
    PutLe16(im.bytes, wire::kSrDeviceType, type);
    PutLe16(im.bytes, wire::kSrSerial, serial);
    PutIpv4(im.bytes, wire::kSrIpAddress, block_.Address(host));
    im.bytes[wire::kSrPortCount] = static_cast<uint8_t>(ModelPortCount(type));
    const std::string name = "Bench " + std::to_string(serial);
    for (size_t i = 0; i < name.size(); ++i) im.bytes[wire::kSrName + i] = static_cast<uint8_t>(name[i]);
    ServerTestSettings s;
    s.password = std::move(password);
    s.port_mask = kNewServerPortMask;
    s.status = kStatusReached;
    config_.AddServer(im, s);
  }

  ScaledClock clock_{50};
  testing::ScriptedPrompter prompter_;
  PrompterNotices notices_{prompter_};
  testing::LoopbackBlock block_;
  std::unique_ptr<emulator::Lab> lab_;
  HostInterfaces interfaces_{clock_, notices_, block_.ClientOptions()};
  DiagSession session_{clock_, notices_, block_.ClientOptions()};
  DiagConfig config_ = DiagConfig::Defaults();
};

}  // namespace zelin::portcheck
