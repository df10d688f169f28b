// The "Select Port" page against emulated servers on the test's loopback block: the
// first showing searches, a typed address is probed, and OK takes both servers over.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "monitor/core/configuration_sheet.hpp"
#include "monitor/core/polling.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "protocol/address.hpp"
#include "tests/monitor/monitor_fixture.hpp"
#include "tests/support/lab_support.hpp"

namespace zelin::monitor {
namespace {

emulator::ServerSpec Server(uint16_t serial, DeviceType type, const char* name, Ipv4 ip) {
  return zelin::testing::LabServer(serial, name, ip, type);
}

// The monitor's transport on the test's loopback block, on a compressed clock, and the
// configuration sheet searching through it.
class MonitorLab : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(transport.OpenTransport(wire::kMonitorFirstLocalPort).ok()); }
  void TearDown() override { transport.CloseTransport(); }

  zelin::testing::LoopbackBlock block;
  ScaledClock clock{25.0};
  zelin::testing::ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  Transport transport{clock, notices, Deliverable::Monitor, block.ClientOptions()};
  MonitorState state;
  testing::RecordingMonitoring monitoring;
  TransportFinder finder{transport};
  ConfigurationSheet sheet{state, monitoring, finder, prompter};
};

TEST_F(MonitorLab, SelectPortFindsServersOnTheNetwork) {
  emulator::LabSpec desc = zelin::testing::BlockLab(
      block, {Server(3101, 772, "Kiosk", block.Address(20)),      // a 4-port model the monitor alone knows
              Server(3102, 9480, "Gatehouse", block.Address(21))});
  ASSERT_EQ(emulator::CompleteAndCheck(desc), "");
  auto lab = zelin::testing::StartedLab(desc, clock);

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
}

struct QuietObserver final : PollingObserver {
  void RowUpdated(int, size_t, size_t) override {}
  void ServerStateChanged(size_t, ServerState, int, int) override {}
};

// 36 servers on the network: 4 that the sheet's search finds, and 32 typed in by
// address and watched with all 16 ports (512 rows). The monitor's list of found servers
// is full before the last 4 watched ones are typed in; they still get their entries
// (in the place of unwatched ones) when monitoring starts, and answer.
TEST_F(MonitorLab, ThirtyTwoWatchedServersAmongMoreOnTheNetwork) {
  auto lab_of = [&](uint16_t first_serial, uint8_t first_host, int count) {
    std::vector<emulator::ServerSpec> servers;
    for (int i = 0; i < count; ++i)
      servers.push_back(Server(static_cast<uint16_t>(first_serial + i), 771, "Bay",
                               block.Address(static_cast<uint8_t>(first_host + i))));
    return zelin::testing::BlockLab(block, servers);
  };
  emulator::LabSpec others = lab_of(5000, 100, 4);
  emulator::LabSpec watched = lab_of(4000, 20, 32);
  watched.broadcast = block.Address(250);  // these answer only when asked by address
  ASSERT_EQ(emulator::CompleteAndCheck(others), "");
  ASSERT_EQ(emulator::CompleteAndCheck(watched), "");
  auto others_lab = zelin::testing::StartedLab(others, clock);
  auto watched_lab = zelin::testing::StartedLab(watched, clock);

  sheet.Open();
  ASSERT_EQ(state.found->count, 4);
  for (int i = 0; i < 32; ++i)
    sheet.select_port().EnterAddress(AddressToText(block.Address(static_cast<uint8_t>(20 + i))));
  EXPECT_TRUE(prompter.texts().empty());
  ASSERT_TRUE(sheet.Ok());
  MonitorConfig& config = *state.in_use;
  ASSERT_EQ(config.server_count, 32);
  EXPECT_EQ(state.found->count, 32);
  EXPECT_LT(state.found->FindSerial(4031), 0);  // no room was left for the last ones

  QuietObserver observer;
  PortPoller poller(transport, config, *state.found, observer);
  ASSERT_TRUE(poller.StartMonitoring());
  EXPECT_EQ(poller.rows().size(), 512u);
  for (size_t i = 0; i < 32; ++i) EXPECT_GE(poller.RecordOf(i), 0) << i;
  auto all_reported = [&] {
    std::lock_guard lock(poller.records_mutex());
    return std::all_of(config.servers.begin(), config.servers.end(), [](const MonitoredServer& m) {
      return LoadState(m) == kStateAnswered && m.received_mask == m.watched_mask;
    });
  };
  for (int round = 0; round < 3000 && !all_reported(); ++round) {
    poller.RunDueTimers();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(all_reported());
  poller.StopMonitoring();
  watched_lab->Stop();
  others_lab->Stop();
}

}  // namespace
}  // namespace zelin::monitor
