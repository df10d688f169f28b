// The monitor program's parts as they run together: the main window over the real
// polling engine and transport, against emulated servers on the test's loopback block.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <thread>

#include "monitor/core/configuration_sheet.hpp"
#include "monitor/core/polled_monitoring.hpp"
#include "monitor/gui/configuration_dialog.hpp"
#include "protocol/address.hpp"
#include "monitor/gui/main_window.hpp"
#include "platform/notices.hpp"
#include "tests/monitor/monitor_fixture.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/qt_app.hpp"
#include "ui/live_clock.hpp"

namespace zelin::monitor {
namespace {

// Lets queued signals through until `done` holds (at most 1500 rounds).
template <typename Done>
bool ProcessUntil(Done done) {
  return zelin::testing::ProcessEventsUntil(done, 1500);
}

struct LiveTest : ::testing::Test {
  // The application first: the window below needs it.
  const bool app = (zelin::testing::QtApp("monitor_gui_tests"), true);
  zelin::testing::LoopbackBlock block;
  ScaledClock scaled{4.0};
  ui::LiveClock clock{scaled};
  zelin::testing::ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  Transport transport{clock, notices, Deliverable::Monitor, block.ClientOptions()};
  MonitorState state;
  ConnectedMonitoring monitoring;
  testing::ScriptedFiles files;
  testing::ScriptedFinder finder;
  MonitorDocument doc{state, monitoring, prompter, files};
  MonitorWindow window{state, doc, finder, prompter};
  std::unique_ptr<PolledMonitoring> polled;

  void SetUp() override {
    ASSERT_TRUE(transport.OpenTransport(wire::kMonitorFirstLocalPort).ok());
    polled = std::make_unique<PolledMonitoring>(state, transport, *window.list(), prompter);
    monitoring.Connect(polled.get());
  }
  void TearDown() override {
    monitoring.StopMonitoring();
    monitoring.Connect(nullptr);
    transport.CloseTransport();
  }
  MonitoredServer& Watch(size_t index, uint16_t serial, uint8_t host, uint32_t mask) {
    MonitoredServer& s = state.in_use->servers[index];
    state.in_use->server_count = static_cast<uint16_t>(std::max<size_t>(state.in_use->server_count, index + 1));
    s.serial_number = serial;
    s.ip_address = block.Address(host);
    s.port_count = 16;
    s.watched_mask = mask;
    return s;
  }
};

// Locating a server that never answers waits three times a second; the window's timers
// and repaints go on meanwhile.
TEST_F(LiveTest, LocatingKeepsTheWindowLive) {
  Watch(0, 41, 40, 0x1);  // nothing answers at .40
  window.show();
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
  timer.start(20);
  monitoring.StartMonitoring();
  EXPECT_GT(ticks, 0);
  EXPECT_EQ(LoadState(state.in_use->servers[0]), kStateNotAnswered);
}

// A cell write that the receiving thread handed over before the list was rebuilt (a
// refresh, a load, a column change) arrives after the rebuild: it must not land in the
// new rows, whose cells the cache believes it knows.
TEST_F(LiveTest, CellWritesOfAnEndedRunAreDropped) {
  StatusListView& list = *window.list();
  list.ShowColumns({kItemServerName, kItemConnection});
  list.AddRow();
  std::thread old_worker([&list] { list.SetCell(0, 1, "LISTEN"); });
  old_worker.join();  // queued, not yet delivered
  list.ShowColumns({kItemConnection, kItemBaudRate});
  list.AddRow();
  list.SetCell(0, 0, "CLOSE");
  QCoreApplication::processEvents();
  EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("CLOSE"));
  EXPECT_EQ(list.topLevelItem(0)->text(1), QString());
  // Writes of the run that is shown still arrive.
  std::thread worker([&list] { list.SetCell(0, 1, "9600"); });
  worker.join();
  ASSERT_TRUE(ProcessUntil([&] { return list.topLevelItem(0)->text(1) == QStringLiteral("9600"); }));
}

// A server that answers the search but refuses every status query: its rows name it,
// and its values stay empty until the first status reply brings them.
TEST_F(LiveTest, ValuesAppearWithTheFirstStatusReply) {
  emulator::ServerSpec quay;
  quay.type = 771;
  quay.serial = 52;
  quay.ip = block.Address(52);
  quay.name = "Quay";
  quay.faults.refuse = true;
  auto lab = zelin::testing::StartedLab(zelin::testing::BlockLab(block, {quay}), SystemClock());
  Watch(0, 52, 52, 0x3);
  state.in_use->column_mask = (1u << kItemServerName) | (1u << kItemPortNumber) |
                              (1u << kItemConnection) | (1u << kItemBaudRate) |
                              (1u << kItemTxTotal);
  monitoring.StartMonitoring();
  StatusListView& list = *window.list();
  ASSERT_EQ(list.topLevelItemCount(), 2);
  EXPECT_EQ(LoadState(state.in_use->servers[0]), kStateAnswered);
  QCoreApplication::processEvents();
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(list.topLevelItem(row)->text(0), QStringLiteral("Quay"));
    EXPECT_EQ(list.topLevelItem(row)->text(1), QString::number(row + 1));
    for (int column = 2; column < 5; ++column)
      EXPECT_EQ(list.topLevelItem(row)->text(column), QString()) << row << "," << column;
  }
  lab->SetFaults(52, emulator::FaultSettings{});
  ASSERT_TRUE(ProcessUntil([&] {
    polled->RunDueTimers();
    return list.topLevelItem(1)->text(3) == QStringLiteral("9600");
  }));
  EXPECT_FALSE(list.topLevelItem(1)->text(2).isEmpty());
  EXPECT_FALSE(list.topLevelItem(1)->text(4).isEmpty());
  lab->Stop();
}

// The configuration sheet as a new user meets it: the dialog's first search and its
// Search button, over the program's transport and clock, against the demo lab's kinds
// of server; every server must be in the "Server IP Address" drop-down.
TEST_F(LiveTest, SheetSearchListsEveryServerInTheDropDown) {
  std::vector<emulator::ServerSpec> servers;
  const std::pair<DeviceType, const char*> kinds[] = {
      {771, "Dock North"}, {771, "Dock South"}, {9480, "Workshop"}, {9480, "Spare Bay"}};
  for (size_t i = 0; i < 4; ++i) {
    emulator::ServerSpec& s = servers.emplace_back();
    s.type = kinds[i].first;
    s.serial = static_cast<uint16_t>(1201 + i);
    s.name = kinds[i].second;
    s.ip = block.Address(static_cast<uint8_t>(10 + i));
  }
  servers[1].password = "harbour";
  auto lab = zelin::testing::StartedLab(zelin::testing::BlockLab(block, servers), SystemClock());
  TransportFinder real_finder(transport);
  ConfigurationSheet sheet(state, monitoring, real_finder, prompter);
  ConfigurationDialog dialog(sheet, &window);
  auto entries = [&dialog] {
    QStringList texts;
    for (int i = 0; i < dialog.address_box()->count(); ++i) texts << dialog.address_box()->itemText(i);
    texts.sort();
    return texts;
  };
  const QStringList expected = {
      QString::fromStdString(AddressToText(block.Address(10)) + " (Dock North, SerialNo:1201)"),
      QString::fromStdString(AddressToText(block.Address(11)) + " (Dock South, SerialNo:1202)"),
      QString::fromStdString(AddressToText(block.Address(12)) + " (Workshop, SerialNo:1203)"),
      QString::fromStdString(AddressToText(block.Address(13)) + " (Spare Bay, SerialNo:1204)")};
  EXPECT_EQ(entries(), expected);
  dialog.show();
  QPushButton* search = nullptr;
  for (QPushButton* b : dialog.findChildren<QPushButton*>())
    if (b->text() == QStringLiteral("&Search")) search = b;
  ASSERT_NE(search, nullptr);
  search->click();
  EXPECT_EQ(entries(), expected);
  dialog.address_box()->hidePopup();
  dialog.reject();
  lab->Stop();
}

}  // namespace
}  // namespace zelin::monitor
