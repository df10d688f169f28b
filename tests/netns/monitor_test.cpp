// The monitor on the real network path: its configuration sheet searches through its
// own sockets (local ports from 5124) on both subnets, and a watched server whose
// link goes dead turns silent (red) after the silence time.

#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/core/configuration_sheet.hpp"
#include "monitor/core/polling.hpp"
#include "protocol/address.hpp"
#include "tests/monitor/monitor_fixture.hpp"
#include "tests/monitor/poll_fixture.hpp"
#include "tests/netns/netns_fixture.hpp"

namespace zelin::testing {
namespace {

using monitor::kStateAnswered;
using monitor::kStateSilent;

// The poller runs on a ManualClock that the test moves; the lab on the real clock, so
// its port time stamps advance as the silence check expects.
class NetnsMonitorTest : public NetnsFixture<ManualClock> {
 protected:
  Clock& lab_clock() override { return SystemClock(); }

  // The monitor's transport inside the client namespace, without stand-ins.
  void OpenMonitorTransport() {
    NetnsLab::Inside client(*netns_, Side::kClient);
    transport_ = std::make_unique<Transport>(clock_, notices_, Deliverable::Monitor);
    ASSERT_TRUE(transport_->OpenTransport(wire::kMonitorFirstLocalPort));
    ASSERT_EQ(transport_->interface_count(), 2);
    for (int j = 0; j < 2; ++j) EXPECT_EQ(transport_->local_port(j), 5124) << j;
  }

  std::unique_ptr<Transport> transport_;
};

TEST_F(NetnsMonitorTest, TheConfigurationSheetFindsTheServersOfBothSubnets) {
  StartLab();
  OpenMonitorTransport();
  monitor::MonitorState state;
  monitor::testing::RecordingMonitoring monitoring;
  monitor::TransportFinder finder(*transport_);
  monitor::ConfigurationSheet sheet(state, monitoring, finder, prompter_);
  const std::vector<std::string> expected = {
      "10.77.1.10 (Quay One, SerialNo:2601)", "10.77.1.11 (Quay Two, SerialNo:2602)",
      "10.77.2.10 (Yard One, SerialNo:2611)", "10.77.2.11 (Yard Two, SerialNo:2612)"};
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  sheet.Open();  // the first showing searches
  monitor::SelectPortPage& page = sheet.select_port();
  EXPECT_EQ(sorted(page.DropDown()), expected);
  page.Search();  // and so does the button
  EXPECT_EQ(sorted(page.DropDown()), expected);

  // A server of the second subnet typed in is probed and taken over.
  page.EnterAddress("10.77.2.11");
  EXPECT_TRUE(prompter_.texts().empty());
  ASSERT_TRUE(sheet.Ok());
  ASSERT_GE(state.in_use->server_count, 1);
  bool yard_two = false;
  for (int i = 0; i < state.in_use->server_count; ++i)
    yard_two = yard_two || state.in_use->servers[static_cast<size_t>(i)].serial_number == 2612;
  EXPECT_TRUE(yard_two);
}

TEST_F(NetnsMonitorTest, AWatchedServerBehindADeadLinkTurnsSilentAfterTheSilenceTime) {
  StartLab();
  OpenMonitorTransport();
  auto config = monitor::MonitorConfig::New();
  auto watch = [&](uint16_t serial, Ipv4 ip) {
    monitor::MonitoredServer& s = config->servers[config->server_count++];
    s.serial_number = serial;
    s.ip_address = ip;
    s.port_count = 16;
    s.watched_mask = 0x0001;
    s.set_name("watched " + std::to_string(serial));
  };
  watch(2601, NetnsLab::ServerAddress(1, 10));
  watch(2611, NetnsLab::ServerAddress(2, 10));
  ServerList list;
  RecordingObserver observer;
  monitor::PortPoller poller(*transport_, *config, list, observer);
  auto state = [&](size_t i) { return monitor::LoadState(config->servers[i]); };
  ASSERT_TRUE(poller.StartMonitoring());
  ASSERT_TRUE(observer.WaitUpdates(2));
  EXPECT_EQ(state(0), kStateAnswered);
  EXPECT_EQ(state(1), kStateAnswered);

  netns_->SetLink(2, false);  // no FIN, no RST: the yard's frames just vanish
  // One sampling tick every 3 s of the poller's clock; the quay answers each.
  for (int t = 3; t <= 2 * monitor::kSilencePeriodMs / 1000; t += 3) {
    const size_t seen = observer.updates();
    clock_.Advance(3000);
    poller.RunDueTimers();
    ASSERT_TRUE(observer.WaitUpdates(seen + 1)) << "tick at " << t << " s";
    EXPECT_EQ(state(0), kStateAnswered) << t;
  }
  EXPECT_EQ(state(1), kStateSilent);
  poller.StopMonitoring();
  const auto states = observer.states();
  EXPECT_NE(std::find(states.begin(), states.end(),
                      std::pair<size_t, monitor::ServerState>{1, kStateSilent}),
            states.end());
}

}  // namespace
}  // namespace zelin::testing
