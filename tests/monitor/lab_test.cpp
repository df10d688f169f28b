// The "Select Port" page against emulated servers on the test's loopback block: the
// first showing searches, a typed address is probed, and OK takes both servers over.
#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/core/configuration_sheet.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "protocol/address.hpp"
#include "tests/monitor/monitor_fixture.hpp"
#include "tests/support/lab_support.hpp"

namespace zelin::monitor {
namespace {

emulator::ServerSpec Server(uint16_t serial, DeviceType type, const char* name, Ipv4 ip) {
  emulator::ServerSpec s;
  s.type = type;
  s.serial = serial;
  s.name = name;
  s.ip = ip;
  s.netmask = Ipv4FromOctets(255, 255, 255, 0);
  return s;
}

TEST(MonitorLab, SelectPortFindsServersOnTheNetwork) {
  zelin::testing::LoopbackBlock block;
  ScaledClock clock(25.0);
  zelin::testing::ScriptedPrompter prompter;
  PrompterNotices notices(prompter);
  Transport transport(clock, notices, Deliverable::Monitor, block.ClientOptions());
  ASSERT_TRUE(transport.OpenTransport(wire::kMonitorFirstLocalPort).ok());
  emulator::LabSpec desc = zelin::testing::BlockLab(
      block, {Server(3101, 772, "Kiosk", block.Address(20)),      // a 4-port model the monitor alone knows
              Server(3102, 9480, "Gatehouse", block.Address(21))});
  ASSERT_EQ(emulator::CompleteAndCheck(desc), "");
  auto lab = zelin::testing::StartedLab(desc, clock);

  MonitorState state;
  testing::RecordingMonitoring monitoring;
  TransportFinder finder(transport);
  ConfigurationSheet sheet(state, monitoring, finder, prompter);
  sheet.Open();
  SelectPortPage& page = sheet.select_port();
  std::vector<std::string> found = page.DropDown();
  std::sort(found.begin(), found.end());
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], AddressToText(block.Address(20)) + " (Kiosk, SerialNo:3101)");
  const int kiosk = state.page_search->FindSerial(3101);
  ASSERT_GE(kiosk, 0);
  page.ChooseEntry(static_cast<size_t>(kiosk));
  EXPECT_EQ(page.PortRows().size(), 4u);

  // The Gatehouse typed in, with a comment after the address.
  const std::string typed = AddressToText(block.Address(21)) + " (gate)";
  page.EnterAddress(typed);
  EXPECT_TRUE(prompter.texts().empty());
  ASSERT_TRUE(sheet.Ok());
  ASSERT_EQ(state.in_use->server_count, 2);
  EXPECT_EQ(state.in_use->servers[1].serial_number, 3102);
  EXPECT_EQ(state.in_use->servers[1].watched_mask, 0xFFu);
  EXPECT_GE(state.found->FindSerial(3102), 0);
  EXPECT_EQ(state.page_search->count, 2);
  lab->Stop();
  transport.CloseTransport();
}

}  // namespace
}  // namespace zelin::monitor
