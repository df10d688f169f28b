// The monitor's document: load, save, the modified test and the save prompts.
#include <gtest/gtest.h>

#include <fstream>

#include "monitor/core/commands.hpp"
#include "monitor/core/status_display.hpp"
#include "tests/monitor/monitor_fixture.hpp"

namespace zelin::monitor {
namespace {

using testing::Lab;
using testing::RecordingMonitoring;
using testing::ScriptedFiles;
using testing::TempFolder;
using zelin::testing::ScriptedPrompter;

constexpr char kSavePrompt[] = "Save changes to Zelin Server Monitor file?";

struct DocumentTest : ::testing::Test {
  MonitorState state;
  RecordingMonitoring monitoring;
  ScriptedPrompter prompter;
  ScriptedFiles files;
  MonitorDocument doc{state, monitoring, prompter, files};
  TempFolder dir;

  void Watch(size_t servers) {
    state.in_use->server_count = static_cast<uint16_t>(servers);
    for (size_t i = 0; i < servers; ++i) {
      MonitoredServer& s = state.in_use->servers[i];
      s.serial_number = static_cast<uint16_t>(100 + i);
      s.ip_address = Lab(static_cast<uint8_t>(10 + i));
      s.port_count = 4;
      s.watched_mask = 0xF;
    }
  }
};

TEST_F(DocumentTest, SaveThenLoadClearsRunTimeAndRestartsMonitoring) {
  doc.NewConfiguration();
  Watch(2);
  state.in_use->servers[1].state = kStateSilent;
  state.in_use->servers[1].blocks[2].tx_total = 5000;
  state.in_use->servers[1].rates[2].initialised = 1;
  EXPECT_TRUE(doc.IsModified());
  files.answers = {dir / "watch.mnt"};
  ASSERT_TRUE(doc.SaveConfiguration());
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(doc.Title(), "watch.mnt - Zelin Server Monitor");
  MonitorConfig written;
  ASSERT_EQ(ReadMonitorFile(dir / "watch.mnt", written), 2);
  EXPECT_EQ(written.servers[1].blocks[2].tx_total, 0u);  // run-time values are not saved
  EXPECT_EQ(written.servers[1].state, 0);

  const MonitorConfig saved = *state.in_use;
  doc.NewConfiguration();
  state.throughput_gate = true;
  monitoring.calls.clear();
  ASSERT_TRUE(doc.LoadConfiguration(dir / "watch.mnt"));
  EXPECT_EQ(monitoring.calls, (std::vector<std::string>{"stop", "start"}));
  EXPECT_FALSE(state.throughput_gate);
  EXPECT_FALSE(doc.IsModified());
  const MonitoredServer& s = state.in_use->servers[1];
  EXPECT_EQ(s.state, kStateAnswered);
  EXPECT_EQ(s.blocks[2], PortStatusBlock{});
  EXPECT_EQ(s.rates[2], PortRateSamples{});
  EXPECT_EQ(s.serial_number, saved.servers[1].serial_number);
  EXPECT_EQ(doc.recent().entries().front(), dir / "watch.mnt");
}

TEST_F(DocumentTest, BadFilesLeaveTheConfigurationRunning) {
  Watch(1);
  *state.baseline = *state.in_use;
  const MonitorConfig before = *state.in_use;
  files.answers = {dir / "one.mnt"};
  ASSERT_TRUE(doc.SaveConfiguration());
  // The length field claims a second server that the file does not hold.
  std::fstream f(dir / "one.mnt", std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(9);
  f.put(static_cast<char>(0xC8)).put(0x10);
  f.close();
  monitoring.calls.clear();
  EXPECT_FALSE(doc.LoadConfiguration(dir / "one.mnt"));
  EXPECT_FALSE(doc.LoadConfiguration(dir / "missing.mnt"));
  EXPECT_EQ(prompter.texts(),
            (std::vector<std::string>{"Invalid file format!", "Open configuration file error!"}));
  EXPECT_TRUE(monitoring.calls.empty());
  EXPECT_EQ(*state.in_use, before);
  // A save that cannot create its file says so and changes nothing.
  files.answers = {dir / "no-folder" / "x.mnt"};
  state.in_use->interval = 9;
  EXPECT_FALSE(doc.SaveConfiguration());
  EXPECT_EQ(prompter.texts().back(), "Open configuration file error!");
  EXPECT_TRUE(doc.IsModified());
}

TEST_F(DocumentTest, ModifiedCountsOnlyWhatTheUserSets) {
  Watch(20);
  *state.baseline = *state.in_use;
  MonitoredServer& s = state.in_use->servers[17];
  s.set_name("renamed");
  s.device_type = 771;
  s.port_kinds[0] = 0x93;
  s.state = kStateAddressConflict;
  s.blocks[0].tx_total = 9;
  state.in_use->servers[25].serial_number = 9;  // beyond the count
  EXPECT_FALSE(doc.IsModified());
  s.ip_address = Lab(200);
  EXPECT_TRUE(doc.IsModified());
  s.ip_address = state.baseline->servers[17].ip_address;
  s.watched_mask = 0x1;
  EXPECT_TRUE(doc.IsModified());
}

TEST_F(DocumentTest, SavePromptsBeforeOpeningAndClosing) {
  files.answers = {dir / "a.mnt"};
  ASSERT_TRUE(doc.SaveConfiguration());
  // Unmodified: the document's own file is not loaded again; another file is.
  EXPECT_FALSE(doc.OpenFile(dir / "a.mnt"));
  Watch(1);
  files.answers = {dir / "b.mnt"};
  ASSERT_TRUE(doc.SaveConfiguration());
  Watch(2);
  // Modified: Cancel stops the opening; No opens even the current file.
  prompter.QueueAnswer(MsgAnswer::Cancel);
  EXPECT_FALSE(doc.OpenFile(dir / "a.mnt"));
  prompter.QueueAnswer(MsgAnswer::No);
  EXPECT_TRUE(doc.OpenFile(dir / "b.mnt"));
  EXPECT_EQ(state.in_use->server_count, 1);
  EXPECT_EQ(prompter.texts(), (std::vector<std::string>{kSavePrompt, kSavePrompt}));

  // Closing: Cancel keeps the window and monitoring; Yes with a cancelled dialog closes.
  Watch(3);
  monitoring.calls.clear();
  prompter.QueueAnswer(MsgAnswer::Cancel);
  EXPECT_FALSE(doc.CanClose());
  EXPECT_EQ(monitoring.calls, (std::vector<std::string>{"stop", "start"}));
  prompter.QueueAnswer(MsgAnswer::Yes);
  files.answers = {std::nullopt};
  EXPECT_TRUE(doc.CanClose());
  // Yes with a file that cannot be written keeps the window open with the changes.
  prompter.QueueAnswer(MsgAnswer::Yes);
  files.answers = {dir / "no-folder" / "x.mnt"};
  EXPECT_FALSE(doc.CanClose());
  EXPECT_EQ(prompter.texts().back(), "Open configuration file error!");
  EXPECT_TRUE(doc.IsModified());
}

// The baseline is taken from the copy that was written, not from the live blocks that
// the receiving thread writes meanwhile.
TEST_F(DocumentTest, SavedBaselineHoldsNoRunTimeValue) {
  Watch(1);
  state.in_use->servers[0].blocks[1].tx_total = 77;
  files.answers = {dir / "live.mnt"};
  ASSERT_TRUE(doc.SaveConfiguration());
  EXPECT_EQ(state.baseline->servers[0].blocks[1].tx_total, 0u);
  EXPECT_FALSE(doc.IsModified());
}

TEST_F(DocumentTest, FailedSaveBeforeOpenKeepsTheConfiguration) {
  Watch(1);
  files.answers = {dir / "one.mnt"};
  ASSERT_TRUE(doc.SaveConfiguration());
  Watch(3);
  // Yes, and the file cannot be written: the open stops, the three servers stay.
  prompter.QueueAnswer(MsgAnswer::Yes);
  files.answers = {dir / "no-folder" / "x.mnt"};
  EXPECT_FALSE(doc.OpenFile(dir / "one.mnt"));
  EXPECT_EQ(prompter.texts().back(), "Open configuration file error!");
  EXPECT_EQ(state.in_use->server_count, 3);
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(doc.Title(), "one.mnt - " + std::string(kMonitorTitle));
}

}  // namespace
}  // namespace zelin::monitor

namespace zelin::monitor {
namespace {

struct RecordingDisplay final : StatusDisplay {
  void ShowColumns(const std::vector<DisplayItem>& c) override { columns = c, cells.clear(); }
  void AddRow() override { cells.emplace_back(columns.size()); }
  void SetCell(size_t row, size_t column, const std::string& text) override {
    cells.at(row).at(column) = text;
  }
  void RedrawRows(size_t, size_t) override {}
  std::vector<DisplayItem> columns;
  std::vector<std::vector<std::string>> cells;
};

TEST_F(DocumentTest, LoadedConfigurationShowsItsRowsAndEnablesRowCommands) {
  RecordingDisplay display;
  ListOnlyMonitoring list(state, display);
  MonitorDocument shown(state, list, prompter, files);
  EXPECT_FALSE(IsEnabled(Command::kRefreshMonitor, state, -1));
  Watch(2);
  state.in_use->servers[1].watched_mask = 0x2;
  state.in_use->column_mask = (1u << kItemServerAddress) | (1u << kItemPortNumber);
  files.answers = {dir / "two.mnt"};
  ASSERT_TRUE(shown.SaveConfiguration());
  ASSERT_TRUE(shown.LoadConfiguration(dir / "two.mnt"));
  ASSERT_EQ(display.cells.size(), 5u);
  EXPECT_EQ(display.cells[4], (std::vector<std::string>{"127.0.77.11", "2"}));
  EXPECT_TRUE(IsEnabled(Command::kRefreshMonitor, state, -1));
  EXPECT_TRUE(IsEnabled(Command::kPortStatus, state, 4));
  EXPECT_FALSE(IsEnabled(Command::kResetServer, state, 5));
  StoreState(state.in_use->servers[1], kStateSilent);
  EXPECT_FALSE(IsEnabled(Command::kResetPort, state, 4));
  EXPECT_TRUE(IsEnabled(Command::kResetPort, state, 3));
  // The toolbar: Load, Save, gap, five monitor commands, gap, About.
  std::string bar;
  for (const CommandEntry& e : CommandTable())
    if (e.on_toolbar) bar += std::string(e.toolbar_gap_before ? "|" : "") + e.tool_tip.front();
  EXPECT_EQ(bar, "LS|CRPRR|A");
}

}  // namespace
}  // namespace zelin::monitor
