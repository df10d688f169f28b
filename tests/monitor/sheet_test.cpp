// The "Monitor configuration" sheet: its three pages over the working copy, and what
// OK and Cancel take over.
#include <gtest/gtest.h>

#include "monitor/core/row_table.hpp"
#include "tests/monitor/monitor_fixture.hpp"

namespace zelin::monitor {
namespace {

using testing::FoundServer;
using testing::Lab;
using testing::RecordingMonitoring;
using testing::ScriptedFinder;
using zelin::testing::ScriptedPrompter;

struct SheetTest : ::testing::Test {
  MonitorState state;
  RecordingMonitoring monitoring;
  ScriptedPrompter prompter;
  ScriptedFinder finder;

  SheetTest() {
    finder.network = {FoundServer(1201, 8452, Lab(10), "Bench"),   // 4 ports
                      FoundServer(1202, 9480, Lab(11), "Rack"),    // 8 ports
                      FoundServer(1203, 1234, Lab(12), "Odd")};    // unknown model
  }
  std::vector<std::string> Serials(SelectPortPage& page) {
    std::vector<std::string> serials;
    for (const auto& row : page.ServerRows()) serials.push_back(row.serial);
    return serials;
  }
};

TEST_F(SheetTest, OkWithoutChangeRestartsNothing) {
  ConfigurationSheet sheet(state, monitoring, finder, prompter);
  sheet.Open();
  ASSERT_TRUE(sheet.Activate(ConfigurationSheet::Page::kSelectItem));
  ASSERT_TRUE(sheet.Activate(ConfigurationSheet::Page::kGeneral));
  EXPECT_TRUE(sheet.Ok());
  EXPECT_FALSE(sheet.changed());
  EXPECT_EQ(monitoring.calls, (std::vector<std::string>{"suspend", "resume"}));
  EXPECT_EQ(finder.searches, 1);
  // The next opening reuses the first search.
  sheet.Open();
  sheet.Cancel();
  EXPECT_EQ(finder.searches, 1);
}

TEST_F(SheetTest, AddedServerWatchesItsPortsAndOkRestartsWithItsRows) {
  ConfigurationSheet sheet(state, monitoring, finder, prompter);
  sheet.Open();
  SelectPortPage& page = sheet.select_port();
  ASSERT_EQ(page.DropDown().front(), "127.0.77.10 (Bench, SerialNo:1201)");
  page.ChooseEntry(0);
  ASSERT_EQ(page.PortRows().size(), 4u);
  EXPECT_TRUE(page.PortRows()[3].watched);
  EXPECT_EQ(page.PortRows()[3].number, "4");
  page.SetPortWatched(1, false);
  page.SetPortWatched(3, false);
  page.ChooseEntry(2);  // an unknown model has no port to watch
  EXPECT_TRUE(page.PortRows().empty());
  EXPECT_EQ(page.selected(), 1);
  EXPECT_EQ(Serials(page), (std::vector<std::string>{"1201", "1203"}));
  EXPECT_EQ(state.found->count, 3);  // the search was merged into the monitor's list

  EXPECT_TRUE(sheet.Ok());
  EXPECT_TRUE(sheet.changed());
  EXPECT_EQ(monitoring.calls, (std::vector<std::string>{"suspend", "stop", "start", "resume"}));
  RowTable rows;
  rows.Build(*state.in_use);
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], (Row{0, 2}));

  // Removing every server leaves the columns only.
  monitoring.calls.clear();
  sheet.Open();
  sheet.select_port().DeleteServer();
  sheet.select_port().DeleteServer();
  EXPECT_EQ(sheet.select_port().selected(), -1);
  EXPECT_TRUE(sheet.Ok());
  EXPECT_EQ(monitoring.calls, (std::vector<std::string>{"suspend", "stop", "columns", "resume"}));
}

TEST_F(SheetTest, SelectPortRefusalsAndDeletion) {
  ConfigurationSheet sheet(state, monitoring, finder, prompter);
  sheet.Open();
  SelectPortPage& page = sheet.select_port();
  page.ChooseEntry(0);
  page.ChooseEntry(1);
  page.ChooseEntry(2);
  page.ChooseEntry(0);  // already watched: only selected
  EXPECT_EQ(page.selected(), 0);
  EXPECT_EQ(state.working->server_count, 3);

  // Typed addresses: the text up to its first blank is probed.
  page.EnterAddress("300.1.1.1 x");
  page.EnterAddress("127.0.77.99 (spare)");
  ServerRecord moved = FoundServer(1201, 8452, Lab(20), "Bench");
  ServerRecord taken = FoundServer(1300, 8452, Lab(11), "Usurper");
  finder.network = {moved, taken};
  page.EnterAddress("127.0.77.20");
  page.EnterAddress("127.0.77.11 (conflict)");
  ASSERT_EQ(prompter.texts().size(), 4u);
  EXPECT_EQ(prompter.texts()[0], "Invalid IP address!");
  EXPECT_EQ(prompter.texts()[1], "Can not found the Zelin Server!");
  EXPECT_TRUE(prompter.texts()[2].starts_with("There is already a Zelin Server with the same \nserial number"));
  EXPECT_TRUE(prompter.texts()[3].starts_with("There is already a Zelin server with the same \nIP adress"));
  EXPECT_EQ(finder.probed.size(), 3u);
  EXPECT_EQ(finder.probed[0], Lab(99));
  EXPECT_EQ(state.working->server_count, 3);

  // A new server typed in is added and merged, and the drop-down keeps its contents.
  finder.network = {FoundServer(1400, 9480, Lab(30), "Annex")};
  const size_t dropdown = page.DropDown().size();
  page.EnterAddress("127.0.77.30");
  EXPECT_EQ(Serials(page), (std::vector<std::string>{"1201", "1202", "1203", "1400"}));
  EXPECT_EQ(page.DropDown().size(), dropdown);
  EXPECT_GE(state.found->FindSerial(1400), 0);

  // Deleting the last row selects the one before; a middle row its successor.
  page.SelectServer(3);
  page.DeleteServer();
  EXPECT_EQ(page.selected(), 2);
  page.SelectServer(0);
  page.DeleteServer();
  EXPECT_EQ(page.selected(), 0);
  EXPECT_EQ(Serials(page), (std::vector<std::string>{"1202", "1203"}));
  EXPECT_EQ(state.working->servers[2], MonitoredServer{});
}

TEST_F(SheetTest, ItemAndGeneralPages) {
  ConfigurationSheet sheet(state, monitoring, finder, prompter);
  sheet.Open();
  ASSERT_TRUE(sheet.Activate(ConfigurationSheet::Page::kSelectItem));
  SelectItemPage& items = sheet.select_item();
  EXPECT_TRUE(items.boxes()[kItemServerName]);
  EXPECT_FALSE(items.boxes()[kItemModel]);
  for (size_t i = 0; i < kDisplayItemCount; ++i) items.SetChecked(i, false);
  EXPECT_FALSE(sheet.Activate(ConfigurationSheet::Page::kGeneral));
  EXPECT_FALSE(sheet.Ok());
  EXPECT_EQ(prompter.texts(),
            (std::vector<std::string>{"Please select a item!", "Please select a item!"}));
  items.SetChecked(kItemModel, true);
  ASSERT_TRUE(sheet.Activate(ConfigurationSheet::Page::kGeneral));
  EXPECT_EQ(sheet.general().selected(), 2);  // "3"
  EXPECT_EQ(GeneralPage::Entries().back(), "20");
  sheet.general().Select(19);
  EXPECT_TRUE(sheet.Ok());
  EXPECT_EQ(state.in_use->column_mask, 1u);
  EXPECT_EQ(state.in_use->interval, 20);
  // No server watched: the list keeps its columns only.
  EXPECT_EQ(monitoring.calls, (std::vector<std::string>{"suspend", "stop", "columns", "resume"}));
  sheet.Open();
  sheet.Activate(ConfigurationSheet::Page::kSelectItem);
  sheet.select_item().SelectAll();
  sheet.Ok();
  EXPECT_EQ(state.in_use->column_mask, kAllItemsMask);
}

}  // namespace
}  // namespace zelin::monitor
