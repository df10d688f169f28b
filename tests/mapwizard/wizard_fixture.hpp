#pragma once
// A manager's tables, sockets and an emulated lab on this test's loopback block, for
// running the wizard's flow as the library runs it: the wizard's Transport adopts the
// sockets that the "manager" transport opened.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "emulator/lab.hpp"
#include "mapwizard/core/wizard_flow.hpp"
#include "platform/clock.hpp"
#include "protocol/address.hpp"
#include "protocol/transport.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::wizard::testing {

using zelin::testing::LoopbackBlock;
using zelin::testing::ScriptedPrompter;

class WizardFixture : public ::testing::Test {
 protected:
  // A server of the lab at 127.X.Y.host.
  emulator::ServerSpec Server(uint16_t serial, uint8_t host, DeviceType type = 8452,
                              std::string password = {}, std::string name = {}) {
    emulator::ServerSpec s;
    s.type = type;
    s.serial = serial;
    s.ip = block.Address(host);
    s.password = std::move(password);
    s.name = name.empty() ? "Lab" + std::to_string(serial) : std::move(name);
    s.hardware = {
        0x02, 0x00, 0x00, 0x00, static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial)};
    return s;
  }

  // Another host on the servers' network that uses 127.X.Y.host.
  emulator::OccupiedAddress Occupied(uint8_t host) {
    return {block.Address(host), {0x02, 0xEE, 0, 0, 0, host}};
  }

  void StartLab(std::vector<emulator::ServerSpec> servers,
                std::vector<emulator::OccupiedAddress> occupied = {}) {
    lab = zelin::testing::StartedLab(
        zelin::testing::BlockLab(block, std::move(servers), std::move(occupied)), clock);
    OpenTransports();
  }

  void OpenTransports() {
    const TransportOptions options = block.ClientOptions();
    manager = std::make_unique<Transport>(clock, notices, Deliverable::Manager, options);
    ASSERT_TRUE(manager->OpenTransport());
    wizard = std::make_unique<Transport>(clock, notices, Deliverable::Wizard, options);
    std::array<int, 1> sockets{manager->socket(0)};
    std::array<Ipv4, 1> addresses{manager->local_address(0)};
    ASSERT_TRUE(wizard->AdoptSockets(sockets.data(), addresses.data(), 1));
  }

  // A configured server in the caller's table (and its saved copy).
  ServerConfig& Configure(uint16_t serial, Ipv4 ip, std::vector<int> coms = {}) {
    ServerConfig& c = config[static_cast<size_t>(count)];
    c = ServerConfig{};
    c.serial_number = serial;
    c.device_type = 8452;
    c.port_count = static_cast<uint32_t>(std::max<size_t>(coms.size(), 4));
    c.ip_address = ip;
    c.set_name("Configured" + std::to_string(serial));
    for (size_t i = 0; i < coms.size(); ++i) {
      c.port_mapped[i] = 1;
      c.com_number[i] = static_cast<uint8_t>(coms[i] == 256 ? 0 : coms[i]);
    }
    saved[static_cast<size_t>(count)] = c;
    ++count;
    return c;
  }

  WizardTables Tables() {
    return {found.get(), saved_found.get(), config.data(), saved.data(), &count};
  }

  WizardFlow& Flow(int type) {
    flow = std::make_unique<WizardFlow>(*wizard, prompter, Tables(), type, dialogs);
    flow->Start();
    return *flow;
  }

  // Page 0 -> page 1 (the search runs).
  WizardFlow& FlowAtList(int type) {
    WizardFlow& f = Flow(type);
    f.Next();
    EXPECT_EQ(f.page(), kPageServerList);
    return f;
  }

  // One single-host server; its set-password page, through the list and password pages.
  WizardFlow& FlowAtSetPassword() {
    StartLab({Server(1, 10)});
    WizardFlow& f = FlowAtList(kSingleHost);
    f.Next();
    f.Next();
    return f;
  }

  // Selects the row that shows `serial`.
  void SelectSerial(WizardFlow& f, uint16_t serial) {
    const auto& rows = f.server_list().rows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].serial == std::to_string(serial))
        return f.server_list().SelectRow(static_cast<int>(i));
    ADD_FAILURE() << "no row for serial " << serial;
  }

  const ServerRecord& Record(uint16_t serial) {
    const int i = found->FindSerial(serial);
    EXPECT_GE(i, 0);
    return found->records[static_cast<size_t>(std::max(i, 0))];
  }

  // The staged slot (the entry just behind the count).
  ServerConfig& Staged() { return config[static_cast<size_t>(count)]; }

  bool Shown(std::string_view text) const {
    for (const auto& t : prompter.texts())
      if (t == text) return true;
    return false;
  }
  bool ShownContaining(std::string_view part) const {
    for (const auto& t : prompter.texts())
      if (t.find(part) != std::string::npos) return true;
    return false;
  }

  LoopbackBlock block;
  ScaledClock clock{20};
  ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  PrompterDialogs dialogs{prompter};
  std::unique_ptr<emulator::Lab> lab;
  std::unique_ptr<Transport> manager, wizard;
  std::unique_ptr<ServerList> found = std::make_unique<ServerList>();
  std::unique_ptr<ServerList> saved_found = std::make_unique<ServerList>();
  std::array<ServerConfig, kMaxConfiguredServers> config{}, saved{};
  int count = 0;
  std::unique_ptr<WizardFlow> flow;
};

}  // namespace zelin::wizard::testing
