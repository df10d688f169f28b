// The monitor's widgets offscreen: the main window over a loaded configuration (rows in
// the colours of their servers' states), the port status window and the configuration
// sheet, each saved as a PNG.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QMenuBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>

#include "monitor/gui/configuration_dialog.hpp"
#include "monitor/gui/main_window.hpp"
#include "monitor/gui/port_status_dialog.hpp"
#include "tests/monitor/monitor_fixture.hpp"
#include "tests/support/qt_app.hpp"
#include "ui/snapshot.hpp"

namespace zelin::monitor {
namespace {

using testing::FoundServer;
using testing::Lab;
using testing::RecordingMonitoring;
using testing::ScriptedFiles;
using testing::ScriptedFinder;
using testing::TempFolder;
using zelin::testing::ScriptedPrompter;

const QString kShots = QStringLiteral(ZELIN_BUILD_DIR "/screenshots/monitor/");

int CountColour(const QImage& image, QRgb colour) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
  return n;
}

struct GuiTest : ::testing::Test {
  GuiTest() { zelin::testing::QtApp("monitor_gui_tests"); }
  MonitorState state;
  ConnectedMonitoring monitoring;
  ScriptedPrompter prompter;
  ScriptedFiles files;
  ScriptedFinder finder;
  MonitorDocument doc{state, monitoring, prompter, files};
  TempFolder dir;

  // Three servers: one answering, one silent (red), one in conflict (magenta).
  void LoadThreeServers(MonitorWindow& window) {
    MonitorConfig& c = *state.in_use;
    c.server_count = 3;
    c.column_mask = MonitorConfig::kDefaultColumnMask | (1u << kItemModel);
    const char* names[] = {"Dock North with a name too long for its column", "Workshop", "Spare Bay"};
    for (size_t i = 0; i < 3; ++i) {
      MonitoredServer& s = c.servers[i];
      s.serial_number = static_cast<uint16_t>(1201 + i);
      s.device_type = 8452;
      s.port_count = 4;
      s.watched_mask = i == 0 ? 0xF : 0x3;
      s.ip_address = Lab(static_cast<uint8_t>(10 + i));
      s.set_name(names[i]);
    }
    files.answers = {dir / "lab.mnt"};
    ASSERT_TRUE(doc.SaveConfiguration());
    ListOnlyMonitoring list(state, *window.list());
    monitoring.Connect(&list);
    ASSERT_TRUE(doc.LoadConfiguration(dir / "lab.mnt"));
    monitoring.Connect(nullptr);
    StoreState(c.servers[1], kStateSilent);
    StoreState(c.servers[2], kStateAddressConflict);
    window.UpdateDocument();
  }
};

TEST_F(GuiTest, MainWindowDrawsRowsInTheirServersColours) {
  MonitorWindow window(state, doc, finder, prompter);
  // Menus and toolbar from the one table.
  QStringList menus;
  for (QAction* a : window.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&File", "&Monitor", "&Help"}));
  auto* bar = window.findChild<QToolBar*>(QStringLiteral("toolbar"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->actions().size(), 10);
  EXPECT_FALSE(window.action(Command::kRefreshMonitor)->isEnabled());

  LoadThreeServers(window);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("lab.mnt - Zelin Server Monitor"));
  ASSERT_EQ(window.list()->topLevelItemCount(), 8);
  EXPECT_EQ(window.list()->headerItem()->text(0), QStringLiteral("Model No."));
  EXPECT_EQ(window.list()->topLevelItem(4)->text(0), QStringLiteral("QX104"));
  window.UpdateActions();
  EXPECT_TRUE(window.action(Command::kRefreshMonitor)->isEnabled());
  EXPECT_FALSE(window.action(Command::kPortStatus)->isEnabled());
  window.list()->setCurrentItem(window.list()->topLevelItem(5));  // the silent server
  EXPECT_FALSE(window.action(Command::kPortStatus)->isEnabled());
  window.list()->setCurrentItem(window.list()->topLevelItem(1));
  EXPECT_TRUE(window.action(Command::kResetServer)->isEnabled());

  window.resize(900, 300);
  ASSERT_TRUE(ui::SaveWidgetPng(&window, kShots + QStringLiteral("main_window.png")));
  const QImage shot(kShots + QStringLiteral("main_window.png"));
  EXPECT_GT(CountColour(shot, qRgb(255, 0, 0)), 0);
  EXPECT_GT(CountColour(shot, qRgb(255, 0, 255)), 0);
}

TEST_F(GuiTest, EmptyListSaysHowToBeginUntilThereIsARow) {
  MonitorWindow window(state, doc, finder, prompter);
  window.resize(900, 300);
  StatusListView& list = *window.list();
  // Text on the empty list: pixels that are not the list's base colour.
  auto inked = [&list] {
    const QImage image = list.viewport()->grab().toImage();
    const QRgb base = list.palette().color(QPalette::Base).rgb();
    return image.width() * image.height() - CountColour(image, base);
  };
  EXPECT_EQ(list.Hint().toStdString(), kEmptyListHint);
  EXPECT_GT(inked(), 0);
  ASSERT_TRUE(ui::SaveWidgetPng(&window, kShots + QStringLiteral("empty_list.png")));
  LoadThreeServers(window);
  EXPECT_TRUE(list.Hint().isEmpty());
}

TEST_F(GuiTest, PortStatusWindowFollowsTheBlock) {
  MonitoredServer server;
  server.set_name("Workshop");
  server.ip_address = Lab(11);
  PortStatusBlock& b = server.blocks[0];
  b.baud_rate = 9600;
  b.line_format = 0x1B;
  b.flow_control = kFlowRts;
  b.connection_state = 13;
  b.login_host = Lab(1);
  b.login_time = 25555;
  b.time_stamp = 1000;
  PortStatusModel model(server, 0, *state.found, state.mappings);
  PortStatusDialog dialog(model, 3);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Port 1 of 127.0.77.11(Workshop) status"));
  EXPECT_EQ(dialog.timer().interval(), 3000);
  b.tx_total = 2000;  // 2000 characters in a second: the bar is full at 960
  b.rx_total = 300;
  b.tx_count = 2000;
  b.time_stamp = 2000;
  dialog.Tick();
  EXPECT_EQ(dialog.field(QStringLiteral("Parity"))->text(), QStringLiteral("EVEN"));
  EXPECT_EQ(dialog.field(QStringLiteral("RTS Flow Control"))->text(), QStringLiteral("ON"));
  EXPECT_EQ(dialog.field(QStringLiteral("Login Time (HH:MM:SS)"))->text(), QStringLiteral(" 7: 5:55"));
  EXPECT_EQ(dialog.field(QStringLiteral("Count/Tx (bytes)"))->text(), QStringLiteral("2000"));
  EXPECT_EQ(model.tx().value, 960u);
  ASSERT_TRUE(ui::SaveWidgetPng(&dialog, kShots + QStringLiteral("port_status.png")));
  EXPECT_GT(CountColour(QImage(kShots + QStringLiteral("port_status.png")), qRgb(0, 255, 0)), 0);
  dialog.accept();
  EXPECT_FALSE(dialog.timer().isActive());
}

TEST_F(GuiTest, ConfigurationSheetAddsAServerAndTakesItOver) {
  finder.network = {FoundServer(1201, 8452, Lab(10), "Bench"), FoundServer(1202, 9480, Lab(11), "Rack")};
  RecordingMonitoring recording;
  monitoring.Connect(&recording);
  ConfigurationSheet sheet(state, monitoring, finder, prompter);
  ConfigurationDialog dialog(sheet);
  ASSERT_EQ(dialog.address_box()->count(), 2);
  EXPECT_EQ(dialog.address_box()->itemText(1), QStringLiteral("127.0.77.11 (Rack, SerialNo:1202)"));
  emit dialog.address_box()->activated(0);
  ASSERT_EQ(dialog.server_list()->topLevelItemCount(), 1);
  ASSERT_EQ(dialog.port_list()->topLevelItemCount(), 4);
  dialog.port_list()->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
  ASSERT_TRUE(ui::SaveWidgetPng(&dialog, kShots + QStringLiteral("select_port.png")));
  dialog.tabs()->setCurrentIndex(1);
  dialog.item_box(kItemModel)->click();
  ASSERT_TRUE(ui::SaveWidgetPng(&dialog, kShots + QStringLiteral("select_item.png")));
  dialog.tabs()->setCurrentIndex(2);
  dialog.interval_box()->setCurrentIndex(9);
  ASSERT_TRUE(ui::SaveWidgetPng(&dialog, kShots + QStringLiteral("general.png")));
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(state.in_use->servers[0].watched_mask, 0xBu);
  EXPECT_EQ(state.in_use->interval, 10);
  EXPECT_TRUE(state.in_use->column_mask & (1u << kItemModel));
  EXPECT_EQ(recording.calls, (std::vector<std::string>{"suspend", "stop", "start", "resume"}));
  EXPECT_TRUE(doc.IsModified());
  monitoring.Connect(nullptr);
}

}  // namespace
}  // namespace zelin::monitor
