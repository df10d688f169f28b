// The document's rules that need no server on the network: selection and port
// rows, command enabling, Delete Server, Map Port / UnMap Port, the COM conflict
// check and the exit check.

#include <gtest/gtest.h>

#include "srvmanager/core/strings.hpp"
#include "tests/srvmanager/fixture.hpp"

namespace zelin::manager::testing {
namespace {

using ManagerDocTest = OfflineDocTest;

TEST_F(ManagerDocTest, TreeLabelsIconsAndPortRows) {
  auto& doc = MakeDoc(kMultiHost,
                      {MakeEntry(11, "alpha", Addr(10)), MakeEntry(12, "beta", Addr(11)),
                       MakeEntry(13, "odd", Addr(12), 4242)},
                      {MakeRecord(11, "alpha-net", Addr(10), 9476, {2, 6, 18, 7}),
                       MakeRecord(13, "odd", Addr(12), 4242, {})});
  ASSERT_EQ(doc.server_tree().items().size(), 3u);
  EXPECT_EQ(doc.server_tree().items()[0].label, "alpha-net(QX404)");
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOnline);
  EXPECT_EQ(doc.server_tree().items()[1].label, "beta");
  EXPECT_EQ(doc.server_tree().items()[1].icon, kIconOffline);
  // An unknown model: name with empty parentheses.
  EXPECT_EQ(doc.server_tree().items()[2].label, "odd()");
  EXPECT_TRUE(doc.server_tree().in_tree(0));

  doc.tables().server(0).port_mapped[0] = 1;
  doc.tables().server(0).com_number[0] = 0;
  doc.server_tree().SelectTreeItem(0);
  const auto rows = doc.ports().PortRows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].port, "   1");
  EXPECT_EQ(rows[0].com, "COM256");
  EXPECT_TRUE(rows[0].mapped);
  EXPECT_EQ(rows[0].status, "Available");
  EXPECT_EQ(rows[1].com, "---");
  EXPECT_EQ(rows[1].status, "Not Available");
  EXPECT_EQ(rows[2].status, "Non-authorize");
  EXPECT_EQ(rows[3].status, "Not Available");

  doc.server_tree().SelectTreeItem(1);  // offline: rows without status
  const auto offline_rows = doc.ports().PortRows();
  ASSERT_EQ(offline_rows.size(), 4u);
  EXPECT_EQ(offline_rows[0].status, "");
  doc.server_tree().SelectTreeItem(-1);  // root: nothing
  EXPECT_TRUE(doc.ports().PortRows().empty());
  EXPECT_EQ(
      PortMapper::PortColumns(),
      (std::vector<std::string>{"     Port      ", "     COM         ", " Status           "}));
}

TEST_F(ManagerDocTest, EnableTableOfBothViews) {
  ServerConfig added = MakeEntry(12, "added", Addr(11));
  added.write_state = kWriteAlways;
  auto& doc = MakeDoc(
      kCustom, {MakeEntry(11, "a", Addr(10)), added, MakeEntry(13, "off", Addr(12))},
      {MakeRecord(11, "a", Addr(10), 9476, {2, 6, 18, 9}), MakeRecord(12, "added", Addr(11))});
  const auto on = [&](int cmd, ActiveView v) { return doc.rules().IsEnabled(cmd, v); };
  constexpr auto T = ActiveView::Tree;
  constexpr auto L = ActiveView::PortList;

  // Nothing selected.
  EXPECT_FALSE(on(kCmdDeleteServer, T));
  EXPECT_TRUE(on(kCmdAddServerWizard, T));
  EXPECT_TRUE(on(kCmdAddServerWizard, L));
  EXPECT_FALSE(on(kCmdSaveConfiguration, T));

  doc.server_tree().SelectTreeItem(0);  // online, write state 0
  EXPECT_TRUE(on(kCmdDeleteServer, T));
  EXPECT_TRUE(on(kCmdServerProperties, T));
  EXPECT_TRUE(on(kCmdUpgradeFirmware, T));
  EXPECT_FALSE(on(kCmdReplaceServer, T));
  for (int cmd : {kCmdDeleteServer, kCmdServerProperties, kCmdUpgradeFirmware, kCmdReplaceServer})
    EXPECT_FALSE(on(cmd, L)) << cmd;
  EXPECT_FALSE(on(kCmdMapPort, L));  // no row yet
  doc.server_tree().SelectPortRow(0);
  EXPECT_TRUE(on(kCmdMapPort, L));
  EXPECT_FALSE(on(kCmdMapPort, T));
  EXPECT_FALSE(on(kCmdUnMapPort, L));  // not mapped
  doc.tables().server(0).port_mapped = {1, 1, 1, 1};
  EXPECT_TRUE(on(kCmdUnMapPort, L));
  EXPECT_FALSE(on(kCmdUnMapPort, T));
  doc.server_tree().SelectPortRow(1);  // status 6
  EXPECT_FALSE(on(kCmdMapPort, L));
  EXPECT_FALSE(on(kCmdUnMapPort, L));
  doc.server_tree().SelectPortRow(2);  // status 18
  EXPECT_FALSE(on(kCmdUnMapPort, L));
  doc.server_tree().SelectPortRow(3);  // status 9: Custom may unmap it
  EXPECT_TRUE(on(kCmdUnMapPort, L));
  EXPECT_FALSE(on(kCmdMapPort, L));

  doc.server_tree().SelectTreeItem(1);  // online, added by the wizard (write state 1)
  EXPECT_TRUE(on(kCmdServerProperties, T));
  EXPECT_FALSE(on(kCmdUpgradeFirmware, T));
  EXPECT_FALSE(doc.rules().IsContextEnabled(kCmdCtxUpgradeFirmware));
  EXPECT_TRUE(doc.rules().IsContextEnabled(kCmdCtxServerProperties));

  doc.server_tree().SelectTreeItem(2);  // offline, not Single-Host
  EXPECT_TRUE(on(kCmdDeleteServer, T));
  EXPECT_FALSE(on(kCmdServerProperties, T));
  EXPECT_FALSE(on(kCmdReplaceServer, T));
  EXPECT_TRUE(doc.rules().IsContextEnabled(kCmdCtxDeleteServer));
  EXPECT_FALSE(doc.rules().IsContextEnabled(kCmdCtxReplaceServer));
  doc.server_tree().SelectPortRow(0);
  EXPECT_FALSE(on(kCmdMapPort, L));

  doc.tables().SetModified(true);
  EXPECT_TRUE(on(kCmdSaveConfiguration, T));
  EXPECT_TRUE(on(kCmdSaveConfiguration, L));
}

TEST_F(ManagerDocTest, SingleHostOffersReplaceForOfflineOnlyAndNeverUnmapsUnavailablePorts) {
  auto& doc = MakeDoc(kSingleHost, {MakeEntry(11, "a", Addr(10)), MakeEntry(13, "off", Addr(12))},
                      {MakeRecord(11, "a", Addr(10), 9476, {2, 9, 2, 2})});
  doc.server_tree().SelectTreeItem(1);
  EXPECT_TRUE(doc.rules().IsEnabled(kCmdReplaceServer, ActiveView::Tree));
  EXPECT_TRUE(doc.rules().IsContextEnabled(kCmdCtxReplaceServer));
  doc.server_tree().SelectTreeItem(0);
  EXPECT_FALSE(doc.rules().IsContextEnabled(kCmdCtxReplaceServer));
  doc.tables().server(0).port_mapped[1] = 1;
  doc.server_tree().SelectPortRow(1);
  EXPECT_FALSE(doc.rules().IsEnabled(kCmdUnMapPort, ActiveView::PortList));
}

TEST_F(ManagerDocTest, DeleteServerRemovesFirstEntryOfTheSerialAndAsksFirst) {
  auto& doc = MakeDoc(kMultiHost,
                      {MakeEntry(11, "first", Addr(10)), MakeEntry(20, "other", Addr(11)),
                       MakeEntry(11, "second", Addr(12))},
                      {});
  doc.server_tree().SelectTreeItem(2);  // the second entry with serial 11
  prompter_.QueueAnswer(MsgAnswer::Cancel);
  doc.DeleteServer();
  EXPECT_EQ(doc.tables().count(), 3);
  EXPECT_FALSE(doc.tables().modified());
  EXPECT_EQ(prompter_.texts().back(), "Do you really want to delete this server?");

  doc.server_tree().SelectTreeItem(2);
  doc.DeleteServer();  // default answer OK
  ASSERT_EQ(doc.tables().count(), 2);
  EXPECT_EQ(doc.tables().server(0).name(), "other");
  EXPECT_EQ(doc.tables().server(1).name(), "second");
  EXPECT_EQ(doc.tables().server(2), ServerConfig{});  // freed slot cleared
  EXPECT_TRUE(doc.tables().modified());
  EXPECT_EQ(doc.server_tree().items().size(), 2u);
  EXPECT_EQ(store_.saves, 0);  // the store changes only on Save Configuration
}

TEST_F(ManagerDocTest, DeleteServerEmptiesTheFoundRecordInPlace) {
  auto& doc = MakeDoc(kMultiHost, {MakeEntry(11, "a", Addr(10)), MakeEntry(12, "b", Addr(11))},
                      {MakeRecord(11, "a", Addr(10)), MakeRecord(12, "b", Addr(11))});
  doc.server_tree().SelectTreeItem(0);
  doc.DeleteServer();
  EXPECT_EQ(doc.tables().found().count, 2);
  EXPECT_EQ(doc.tables().found().records[0].serial_number(), 0);
  EXPECT_EQ(doc.tables().found().records[1].serial_number(), 12);
  ASSERT_EQ(doc.server_tree().items().size(), 1u);
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOnline);
}

TEST_F(ManagerDocTest, MapPortSingleAndNoneKeepsComByte) {
  auto& doc = MakeDoc(kMultiHost, {MakeEntry(11, "a", Addr(10))}, {MakeRecord(11, "a", Addr(10))});
  doc.server_tree().SelectTreeItem(0);
  doc.server_tree().SelectPortRow(2);
  auto c = doc.ports().BeginMapPort();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->label, "Port 3 at a");
  EXPECT_EQ(c->selection, 0);
  EXPECT_FALSE(c->consecutive_enabled);
  c->selection = 7;
  c->classical = true;
  c->fifo_disabled = true;
  doc.ports().FinishMapPort(*c);
  EXPECT_EQ(doc.tables().server(0).port_mapped[2], 1);
  EXPECT_EQ(doc.tables().server(0).com_number[2], 7);
  EXPECT_EQ(doc.tables().server(0).port_options[2], kOptionClassical | kOptionFifoDisabled);
  EXPECT_TRUE(doc.tables().modified());

  auto again = doc.ports().BeginMapPort();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->selection, 7);
  EXPECT_TRUE(again->classical);
  again->selection = 0;  // NONE
  again->classical = false;
  doc.ports().FinishMapPort(*again);
  EXPECT_EQ(doc.tables().server(0).port_mapped[2], 0);
  EXPECT_EQ(doc.tables().server(0).com_number[2], 7);
  EXPECT_EQ(doc.tables().server(0).port_options[2], kOptionFifoDisabled);
  // An unmapped port keeps its byte but takes no part in the conflict check.
  doc.server_tree().SelectPortRow(0);
  auto other = doc.ports().BeginMapPort();
  other->selection = 7;
  doc.ports().FinishMapPort(*other);
  EXPECT_FALSE(doc.ports().FindComConflict());

  // COM256 is stored as 0 and shows as COM256 again.
  doc.server_tree().SelectPortRow(1);
  auto last = doc.ports().BeginMapPort();
  last->selection = 256;
  doc.ports().FinishMapPort(*last);
  EXPECT_EQ(doc.tables().server(0).com_number[1], 0);
  EXPECT_EQ(doc.ports().BeginMapPort()->selection, 256);

  doc.ports().UnMapPort();
  EXPECT_EQ(doc.tables().server(0).port_mapped[1], 0);
  EXPECT_EQ(doc.tables().server(0).com_number[1], 0);
}

TEST_F(ManagerDocTest, MapPortRefusesWithoutRowOrFoundServer) {
  auto& doc = MakeDoc(kMultiHost, {MakeEntry(11, "a", Addr(10)), MakeEntry(12, "b", Addr(11))},
                      {MakeRecord(11, "a", Addr(10))});
  doc.server_tree().SelectTreeItem(0);
  EXPECT_FALSE(doc.ports().BeginMapPort());
  EXPECT_EQ(prompter_.texts().back(), "Please select server first!");
  doc.server_tree().SelectTreeItem(1);
  doc.server_tree().SelectPortRow(0);
  EXPECT_FALSE(doc.ports().BeginMapPort());
  EXPECT_EQ(prompter_.texts().back(), "Get Interface Error!");
}

TEST_F(ManagerDocTest, ConsecutiveMappingStopsAfterCom256AndSkipsUnavailablePorts) {
  auto& doc =
      MakeDoc(kMultiHost, {MakeEntry(11, "a", Addr(10)), MakeEntry(12, "b", Addr(11))},
              {MakeRecord(11, "a", Addr(10)), MakeRecord(12, "b", Addr(11), 9476, {2, 6, 2, 2})});
  // Map Port on the first port of tree item `item`: `com` (0 is NONE) with Consecutive
  // ticked.
  auto map_consecutive = [&](int item, int com) {
    doc.server_tree().SelectTreeItem(item);
    doc.server_tree().SelectPortRow(0);
    auto c = doc.ports().BeginMapPort();
    ASSERT_TRUE(c && c->consecutive_enabled);
    c->selection = com;
    c->consecutive = true;
    doc.ports().FinishMapPort(*c);
  };
  ASSERT_NO_FATAL_FAILURE(map_consecutive(0, 255));
  const ServerConfig& a = doc.tables().server(0);
  EXPECT_EQ(a.port_mapped, (std::array<uint8_t, 16>{1, 1, 0, 0}));
  EXPECT_EQ(a.com_number[0], 255);
  EXPECT_EQ(a.com_number[1], 0);  // COM256
  EXPECT_EQ(prompter_.texts(),
            std::vector<std::string>{"Your COM name have exceeded 256 limitation!"});

  ASSERT_NO_FATAL_FAILURE(map_consecutive(1, 5));
  const ServerConfig& b = doc.tables().server(1);
  EXPECT_EQ(b.port_mapped, (std::array<uint8_t, 16>{1, 0, 1, 1}));
  EXPECT_EQ(b.com_number[0], 5);
  EXPECT_EQ(b.com_number[2], 6);
  EXPECT_EQ(b.com_number[3], 7);

  // Consecutive from NONE unmaps every port and clears their numbers.
  ASSERT_NO_FATAL_FAILURE(map_consecutive(1, 0));
  EXPECT_EQ(doc.tables().server(1).port_mapped, (std::array<uint8_t, 16>{}));
  EXPECT_EQ(doc.tables().server(1).com_number, (std::array<uint8_t, 16>{}));
}

TEST_F(ManagerDocTest, ConflictMessagesNameTheEarlierServerFirst) {
  ServerConfig a = MakeEntry(11, "first", Addr(10));
  ServerConfig b = MakeEntry(12, "second", Addr(11));
  a.port_mapped[1] = 1;
  a.com_number[1] = 9;
  b.port_mapped[3] = 1;
  b.com_number[3] = 9;
  auto& doc = MakeDoc(kMultiHost, {a, b}, {});
  EXPECT_EQ(doc.ports().FindComConflict().value_or(""),
            "Server [first] port 2 COM9 conflict with server [second] port 4");
  doc.tables().server(0).com_number[1] = 0;
  doc.tables().server(1).com_number[3] = 0;
  EXPECT_EQ(doc.ports().FindComConflict().value_or(""),
            "Server [first] port 2 COM256 conflict with server [second] port 4");
  doc.tables().server(1).port_mapped[0] = 1;
  doc.tables().server(1).com_number[0] = 0;
  doc.tables().server(0).port_mapped[1] = 0;
  EXPECT_EQ(doc.ports().FindComConflict().value_or(""),
            "Server [second] port 1 COM name conflict with port 4");

  // Save stops at the conflict with nothing written.
  doc.tables().SetModified(true);
  prompter_.Clear();
  EXPECT_FALSE(doc.writer().SaveConfiguration());
  EXPECT_EQ(prompter_.texts().size(), 1u);
  EXPECT_EQ(store_.saves, 0);
  EXPECT_TRUE(doc.tables().modified());
}

TEST_F(ManagerDocTest, SaveDeclinedWritesNothingAndStoreFailureKeepsModifiedMark) {
  auto& doc = MakeDoc(kMultiHost, {MakeEntry(11, "a", Addr(10))}, {});
  doc.tables().SetModified(true);
  prompter_.QueueAnswer(MsgAnswer::No);
  EXPECT_FALSE(doc.writer().SaveConfiguration());
  EXPECT_EQ(prompter_.shown().at(0).icon, MsgIcon::Warning);
  EXPECT_EQ(store_.saves, 0);

  store_.fail_save = true;
  doc.tables().server(0).port_mapped[0] = 1;
  EXPECT_FALSE(doc.writer().SaveConfiguration());
  EXPECT_TRUE(doc.tables().modified());
  EXPECT_EQ(fresh_ports_, 0);
  EXPECT_TRUE(doc.tables().ConfigurationChanged());

  store_.fail_save = false;
  EXPECT_TRUE(doc.writer().SaveConfiguration());
  EXPECT_FALSE(doc.tables().modified());
  EXPECT_EQ(fresh_ports_, 1);
  EXPECT_EQ(store_.servers.at(0).port_mapped[0], 1);
  EXPECT_FALSE(doc.tables().ConfigurationChanged());
}

TEST_F(ManagerDocTest, ExitCheckAsksOnlyAfterAChange) {
  auto& doc = MakeDoc(kMultiHost, {MakeEntry(11, "a", Addr(10))}, {});
  EXPECT_TRUE(doc.CanClose());
  EXPECT_TRUE(prompter_.texts().empty());

  doc.tables().server(0).port_mapped[0] = 1;
  prompter_.QueueAnswer(MsgAnswer::Cancel);
  EXPECT_FALSE(doc.CanClose());
  EXPECT_EQ(prompter_.texts().back(),
            "You have changed Zelin configuration. Do you want to save before exit?");
  EXPECT_EQ(prompter_.shown().back().buttons, MsgButtons::YesNoCancel);

  prompter_.QueueAnswer(MsgAnswer::No);
  EXPECT_TRUE(doc.CanClose());
  EXPECT_EQ(store_.saves, 0);

  prompter_.QueueAnswer(MsgAnswer::Yes);  // save before exit
  prompter_.QueueAnswer(MsgAnswer::Yes);  // the restart warning
  EXPECT_TRUE(doc.CanClose());
  EXPECT_EQ(store_.saves, 1);
  EXPECT_TRUE(doc.CanClose());  // nothing changed any more

  // Yes closes even when the save stops at the warning (port 2 on a COM number of its
  // own: with port 1's it would stop at the conflict instead).
  doc.tables().server(0).port_mapped[1] = 1;
  doc.tables().server(0).com_number[1] = 2;
  prompter_.QueueAnswer(MsgAnswer::Yes);
  prompter_.QueueAnswer(MsgAnswer::No);
  EXPECT_TRUE(doc.CanClose());
  EXPECT_EQ(store_.saves, 1);
}

// A save at exit that stops at a conflict or cannot write the store keeps the program
// open with its changes.
TEST_F(ManagerDocTest, ExitCheckStaysOpenWhenTheSaveFails) {
  auto& doc = MakeDoc(kMultiHost, {MakeEntry(11, "a", Addr(10))}, {});
  doc.tables().server(0).port_mapped[0] = doc.tables().server(0).port_mapped[1] = 1;  // both on COM256
  doc.tables().SetModified(true);
  prompter_.QueueAnswer(MsgAnswer::Yes);  // save before exit
  EXPECT_FALSE(doc.CanClose());
  doc.tables().server(0).com_number[1] = 2;
  store_.fail_save = true;
  prompter_.QueueAnswer(MsgAnswer::Yes);  // and the restart warning answers Yes by default
  EXPECT_FALSE(doc.CanClose());
  EXPECT_EQ(store_.saves, 1);
  EXPECT_TRUE(doc.tables().modified());
}

TEST_F(ManagerDocTest, StoreThatCannotBeReadLeavesAnEmptyModel) {
  store_.fail_load = true;
  doc_ = std::make_unique<ManagerDocument>(*transport_, prompter_, store_, kMultiHost, nullptr);
  doc_->Load();
  EXPECT_EQ(doc_->tables().count(), 0);
  EXPECT_TRUE(doc_->server_tree().items().empty());
  ASSERT_FALSE(prompter_.texts().empty());
  EXPECT_EQ(
      prompter_.texts().back(),
      "Fail to load Zelin parameter from registery! Please reinstall Zelin Server software! \n");
}

}  // namespace
}  // namespace zelin::manager::testing
