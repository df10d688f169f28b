// Reset Port and Reset Server as the user runs them: the main window over a monitored
// emulated server, a row selected, the command's action triggered, the password dialog
// answered; the server must receive the ResetCommand for that row.
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>

#include <chrono>
#include <thread>

#include "monitor/core/polled_monitoring.hpp"
#include "monitor/gui/main_window.hpp"
#include "platform/notices.hpp"
#include "tests/monitor/monitor_fixture.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/qt_app.hpp"

namespace zelin::monitor {
namespace {

// Lets queued signals through until `done` holds (at most 1000 rounds).
template <typename Done>
bool ProcessUntil(Done done) {
  return zelin::testing::ProcessEventsUntil(done, 1000);
}

bool SentOverTcp(const emulator::Lab& lab, const std::string& hex) {
  for (const auto& e : lab.Log())
    if (e.proto == "tcp" && e.hex == hex) return true;
  return false;
}

TEST(MonitorWindowReset, ResetPortAndResetServerReachTheServer) {
  zelin::testing::QtApp("monitor_gui_tests");
  zelin::testing::LoopbackBlock block;
  auto desc = zelin::testing::BlockLab(block, {});
  auto& server = desc.servers.emplace_back();
  server.type = 771;
  server.serial = 7;
  server.ip = block.Address(10);
  server.password = "pw";
  desc.restart_ms = 50;
  auto lab = zelin::testing::StartedLab(std::move(desc), SystemClock());

  ScaledClock clock(4.0);
  zelin::testing::ScriptedPrompter prompter;
  PrompterNotices notices(prompter);
  Transport transport(clock, notices, Deliverable::Monitor, block.ClientOptions());
  ASSERT_TRUE(transport.OpenTransport(wire::kMonitorFirstLocalPort).ok());

  MonitorState state;
  MonitoredServer& watched = state.in_use->servers[0];
  state.in_use->server_count = 1;
  watched.serial_number = 7;
  watched.ip_address = block.Address(10);
  watched.port_count = 16;
  watched.watched_mask = 0x0006;  // ports 2 and 3: rows 0 and 1
  watched.set_name("Bench");
  ConnectedMonitoring monitoring;
  testing::ScriptedFiles files;
  testing::ScriptedFinder finder;
  MonitorDocument doc(state, monitoring, prompter, files);
  ResetCommands resets(*state.found, prompter, clock, notices, block.ClientOptions());
  MonitorWindow window(state, doc, finder, prompter, ResetRowCommands(state, resets));
  PolledMonitoring polled(state, transport, *window.list(), prompter);
  monitoring.Connect(&polled);
  monitoring.StartMonitoring();
  ASSERT_TRUE(ProcessUntil([&] { return LoadState(watched) == kStateAnswered; }));
  ASSERT_EQ(window.list()->topLevelItemCount(), 2);

  // Port 3 (the second row).
  window.list()->setCurrentItem(window.list()->topLevelItem(1));
  window.UpdateActions();
  ASSERT_TRUE(window.action(Command::kResetPort)->isEnabled());
  prompter.QueuePassword("pw");
  window.action(Command::kResetPort)->trigger();
  EXPECT_EQ(prompter.texts(),
            (std::vector<std::string>{"Reset serial ports of Zelin Server complete!"}));
  ASSERT_FALSE(prompter.password_prompts().empty());
  EXPECT_NE(prompter.password_prompts().back().find("Reset the port 3 of Zelin Server "),
            std::string::npos);
  EXPECT_TRUE(SentOverTcp(*lab, "0203"));
  EXPECT_EQ(lab->Snapshot(7)->traffic.port_resets[2], 1);

  // The whole server, from the first row.
  prompter.Clear();
  window.list()->setCurrentItem(window.list()->topLevelItem(0));
  window.UpdateActions();
  ASSERT_TRUE(window.action(Command::kResetServer)->isEnabled());
  prompter.QueuePassword("pw");
  window.action(Command::kResetServer)->trigger();
  EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"Reset Zelin Server complete"}));
  EXPECT_TRUE(SentOverTcp(*lab, "0200"));
  EXPECT_EQ(lab->Snapshot(7)->restarts, 1);
  EXPECT_EQ(lab->Snapshot(7)->traffic.port_resets[1], 0);  // port 2 was never reset

  monitoring.StopMonitoring();
  monitoring.Connect(nullptr);
  lab->Stop();
  transport.CloseTransport();
}

}  // namespace
}  // namespace zelin::monitor
