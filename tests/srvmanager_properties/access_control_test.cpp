// The Access Control page: MergeAccessPorts, the tree in both views, the button
// enabling, every command, the full table, and the port status refresh.
#include <gtest/gtest.h>

#include "srvmanager/properties/core/access_control_page.hpp"
#include "srvmanager/properties/core/access_table.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "tests/srvmanager_properties/fakes.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::manager {
namespace {

using testing::Ip;
using testing::MakeRecord;
using testing::ScriptedDialogs;
using testing::ScriptedPrompter;
using testing::TypeGrant;

constexpr Ipv4 kOne = 0xFFFFFFFFu;

class AccessControlPageTest : public ::testing::Test {
 protected:
  AccessControlPageTest()
      : record(MakeRecord(9476, 7, "Lab", Ip("127.0.0.10"), Ip("127.0.0.1"), 4)) {}

  void AddEntry(const char* ip, const char* mask, uint16_t ports) {
    ASSERT_TRUE(MergeAccessPorts(record, Ip(ip), Ip(mask), Ip(ip), Ip(mask), ports, true));
  }
  std::vector<std::string> Texts(const AccessTreeNode& n) {
    std::vector<std::string> out;
    for (const auto& c : n.children) out.push_back(c.text);
    return out;
  }

  ServerRecord record;
  ScriptedPrompter prompter;
  ScriptedDialogs dialogs;
};

TEST_F(AccessControlPageTest, MergeAddsClearsMovesAndAppends) {
  AddEntry("10.0.0.1", "255.255.255.255", 0x1);
  EXPECT_EQ(record.access_total, 1);
  EXPECT_EQ(record.access_count, 1);
  AddEntry("10.0.0.1", "255.255.255.255", 0x4);
  EXPECT_EQ(record.access_total, 1);
  EXPECT_EQ(record.access_table[0].port_mask, 0x5);

  // Clearing bits of the pair.
  EXPECT_TRUE(MergeAccessPorts(record, Ip("10.0.0.1"), kOne, Ip("10.0.0.1"), kOne, 0x1, false));
  EXPECT_EQ(record.access_table[0].port_mask, 0x4);
  // Clearing a pair that is not there adds nothing.
  EXPECT_TRUE(MergeAccessPorts(record, Ip("10.0.0.9"), kOne, Ip("10.0.0.9"), kOne, 0x1, false));
  EXPECT_EQ(record.access_total, 1);

  // Moving port 3 to another pair: the old entry keeps its place with an empty mask.
  EXPECT_TRUE(MergeAccessPorts(record, Ip("10.0.0.1"), kOne, Ip("10.0.1.0"), Ip("255.255.255.0"),
                               0x4, true));
  ASSERT_EQ(record.access_total, 2);
  EXPECT_EQ(record.access_table[0].port_mask, 0);
  EXPECT_EQ(record.access_table[1], (AccessEntry{Ip("10.0.1.0"), Ip("255.255.255.0"), 0x4}));
}

TEST_F(AccessControlPageTest, FullTableRefusesNewEntriesAndChangesNothing) {
  for (int i = 0; i < 32; ++i)
    AddEntry(("10.0.0." + std::to_string(i + 1)).c_str(), "255.255.255.255", 0x1);
  const ServerRecord before = record;
  EXPECT_FALSE(MergeAccessPorts(record, Ip("10.9.9.9"), kOne, Ip("10.9.9.9"), kOne, 0x2, true));
  EXPECT_FALSE(MergeAccessPorts(record, Ip("10.0.0.1"), kOne, Ip("10.9.9.9"), kOne, 0x1, true));
  EXPECT_EQ(record.access_table, before.access_table);
  EXPECT_EQ(record.access_total, 32);
  // Existing pairs still take ports.
  EXPECT_TRUE(MergeAccessPorts(record, Ip("10.0.0.5"), kOne, Ip("10.0.0.5"), kOne, 0x2, true));

  // Through the page: Add IP on a port and Modify to a new pair show the message.
  AccessControlPage page(prompter, record, dialogs);
  dialogs.grant = TypeGrant("10.9.9.9", "");
  ASSERT_TRUE(page.Select({0, -1}));
  page.AddIp();
  ASSERT_TRUE(page.Select({0, 0}));
  page.Modify();
  EXPECT_EQ(prompter.texts(), std::vector<std::string>(2, std::string(kPsAccessTableFull)));
  EXPECT_EQ(record.access_total, 32);
  EXPECT_EQ(FindAccessEntry(record, Ip("10.9.9.9"), kOne), -1);
  EXPECT_EQ(record.access_table[0].port_mask, 0x1);

  // In the IP view a new address replaces the entry: the table does not grow, so a
  // full table takes it.
  prompter.Clear();
  page.SetView(AccessView::kByAddress);
  ASSERT_TRUE(page.Select({0, -1}));
  page.Modify();
  EXPECT_TRUE(prompter.texts().empty());
  EXPECT_EQ(record.access_total, 32);
  EXPECT_EQ(FindAccessEntry(record, Ip("10.0.0.1"), kOne), -1);
  EXPECT_EQ(record.access_table[31], (AccessEntry{Ip("10.9.9.9"), kOne, 0x1}));
  EXPECT_EQ(record.access_table[0].address, Ip("10.0.0.2"));
}

TEST_F(AccessControlPageTest, TreeByPortAndByAddress) {
  AddEntry("10.0.0.1", "255.255.255.255", 0x5);  // ports 1 and 3
  AddEntry("10.0.1.0", "255.255.255.0", 0x2);    // port 2
  AccessControlPage page(prompter, record, dialogs);
  EXPECT_EQ(page.tree().text, "Lab(127.0.0.10)");
  EXPECT_EQ(Texts(page.tree()), (std::vector<std::string>{"Port 1", "Port 2", "Port 3", "Port 4"}));
  EXPECT_EQ(Texts(page.tree().children[0]),
            std::vector<std::string>{"10.0.0.1       255.255.255.255"});
  EXPECT_EQ(Texts(page.tree().children[1]),
            std::vector<std::string>{"10.0.1.0       255.255.255.0"});
  EXPECT_TRUE(page.tree().children[3].children.empty());

  page.SetView(AccessView::kByAddress);
  EXPECT_EQ(Texts(page.tree()), (std::vector<std::string>{"10.0.0.1      255.255.255.255",
                                                          "10.0.1.0      255.255.255.0"}));
  EXPECT_EQ(Texts(page.tree().children[0]), (std::vector<std::string>{"Port 1", "Port 3"}));
  EXPECT_EQ(page.selection(), AccessTreePath{});
  EXPECT_FALSE(page.Select({2, -1}));
  EXPECT_FALSE(page.Select({0, 2}));
}

TEST_F(AccessControlPageTest, ButtonsFollowTheSelectionInBothViews) {
  AddEntry("10.0.0.1", "255.255.255.255", 0x1);
  AccessControlPage page(prompter, record, dialogs);
  EXPECT_EQ(page.buttons(), (AccessButtons{false, false, false, false}));
  page.Select({0, -1});
  EXPECT_EQ(page.buttons(), (AccessButtons{true, false, false, false}));
  page.Select({0, 0});
  EXPECT_EQ(page.buttons(), (AccessButtons{false, false, true, true}));

  page.SetView(AccessView::kByAddress);
  EXPECT_EQ(page.buttons(), (AccessButtons{true, false, false, false}));
  page.Select({0, -1});
  EXPECT_EQ(page.buttons(), (AccessButtons{false, true, true, true}));
  page.Select({0, 0});
  EXPECT_EQ(page.buttons(), (AccessButtons{false, false, true, false}));
}

TEST_F(AccessControlPageTest, AddIpByPortGrantsThatPortToASingleComputer) {
  AccessControlPage page(prompter, record, dialogs);
  std::string info;
  bool single_on_open = false;
  dialogs.grant = [&](GrantAccessIpDialog& d) {
    info = d.info_text;
    single_on_open = d.single_computer() && d.netmask_text.empty() && !d.netmask_enabled();
    d.address_text = "192.168.1.20";
    return d.Ok();
  };
  page.Select({1, -1});
  page.AddIp();
  EXPECT_EQ(info, "Server Name : Lab\nPort 2");
  EXPECT_TRUE(single_on_open);
  ASSERT_EQ(record.access_total, 1);
  EXPECT_EQ(record.access_table[0], (AccessEntry{Ip("192.168.1.20"), kOne, 0x2}));
  EXPECT_EQ(page.selection(), AccessTreePath{});  // the root after the rebuild
  EXPECT_EQ(page.tree().children[1].children.size(), 1u);
}

TEST_F(AccessControlPageTest, AddIpByAddressThenAddPort) {
  AccessControlPage page(prompter, record, dialogs);
  page.SetView(AccessView::kByAddress);
  dialogs.grant = TypeGrant("10.1.0.0", "255.255.0.0");
  std::vector<std::string> items;
  dialogs.add_port = [&](AddPortDialog& d) {
    items = d.items;
    EXPECT_EQ(d.address_text, "10.1.0.0");
    EXPECT_EQ(d.netmask_text, "255.255.0.0");
    d.selected[0] = d.selected[3] = true;
    return true;
  };
  page.AddIp();
  EXPECT_EQ(items, (std::vector<std::string>{"Port 1", "Port 2", "Port 3", "Port 4"}));
  ASSERT_EQ(record.access_total, 1);
  EXPECT_EQ(record.access_table[0], (AccessEntry{Ip("10.1.0.0"), Ip("255.255.0.0"), 0x9}));

  // Cancelling Add Port keeps the new entry with an empty mask.
  dialogs.grant = TypeGrant("10.2.0.1", "");
  dialogs.add_port = nullptr;
  page.AddIp();
  ASSERT_EQ(record.access_total, 2);
  EXPECT_EQ(record.access_table[1], (AccessEntry{Ip("10.2.0.1"), kOne, 0}));

  // Add Port on an address adds to its mask.
  dialogs.add_port = [](AddPortDialog& d) {
    d.selected[1] = true;
    return true;
  };
  page.Select({1, -1});
  page.AddPort();
  EXPECT_EQ(record.access_table[1].port_mask, 0x2);
}

TEST_F(AccessControlPageTest, RemoveInBothViews) {
  AddEntry("10.0.0.1", "255.255.255.255", 0x2);
  AddEntry("10.0.0.2", "255.255.255.255", 0x3);
  AddEntry("10.0.0.3", "255.255.255.255", 0x1);
  AccessControlPage page(prompter, record, dialogs);

  // By port: removing the only port of the first entry keeps it with an empty mask.
  page.Select({1, 0});  // Port 2 -> 10.0.0.1
  page.Remove();
  EXPECT_EQ(record.access_table[0].port_mask, 0);
  EXPECT_EQ(record.access_total, 3);
  page.SetView(AccessView::kByAddress);
  ASSERT_EQ(page.tree().children.size(), 3u);
  EXPECT_TRUE(page.tree().children[0].children.empty());

  // By address: a port under an address, then a whole entry (later ones move down).
  page.Select({1, 1});  // 10.0.0.2 -> Port 2
  page.Remove();
  EXPECT_EQ(record.access_table[1].port_mask, 0x1);
  page.Select({0, -1});
  page.Remove();
  ASSERT_EQ(record.access_total, 2);
  EXPECT_EQ(record.access_count, 2);
  EXPECT_EQ(record.access_table[0].address, Ip("10.0.0.2"));
  EXPECT_EQ(record.access_table[1].address, Ip("10.0.0.3"));
  EXPECT_EQ(record.access_table[2], AccessEntry{});
}

TEST_F(AccessControlPageTest, ModifyByPortMovesOnlyThatPort) {
  AddEntry("10.0.0.1", "255.255.255.255", 0x3);
  AccessControlPage page(prompter, record, dialogs);
  std::string info;
  dialogs.grant = [&](GrantAccessIpDialog& d) {
    info = d.info_text;
    EXPECT_EQ(d.address_text, "10.0.0.1");
    d.address_text = "10.0.0.9";
    return d.Ok();
  };
  page.Select({1, 0});  // Port 2 -> 10.0.0.1
  page.Modify();
  EXPECT_EQ(info, "Server Name : Lab\nPort 2");
  ASSERT_EQ(record.access_total, 2);
  EXPECT_EQ(record.access_table[0].port_mask, 0x1);
  EXPECT_EQ(record.access_table[1], (AccessEntry{Ip("10.0.0.9"), kOne, 0x2}));
}

TEST_F(AccessControlPageTest, ModifyByAddress) {
  AddEntry("10.0.0.1", "255.255.255.255", 0x3);
  AddEntry("10.0.0.2", "255.255.255.255", 0x4);
  AccessControlPage page(prompter, record, dialogs);
  page.SetView(AccessView::kByAddress);

  // OK without a change leaves the table as it was.
  const auto before = record.access_table;
  dialogs.grant = [](GrantAccessIpDialog& d) { return d.Ok(); };
  page.Select({0, -1});
  page.Modify();
  EXPECT_EQ(record.access_table, before);
  EXPECT_EQ(record.access_total, 2);

  // A new pair: the entry moves to the end with its whole mask.
  dialogs.grant = TypeGrant("10.0.5.0", "255.255.255.0");
  page.Select({0, -1});
  page.Modify();
  ASSERT_EQ(record.access_total, 2);
  EXPECT_EQ(record.access_table[0].address, Ip("10.0.0.2"));
  EXPECT_EQ(record.access_table[1], (AccessEntry{Ip("10.0.5.0"), Ip("255.255.255.0"), 0x3}));

  // Onto an existing pair: the masks join and the old entry goes.
  dialogs.grant = TypeGrant("10.0.5.0", "255.255.255.0");
  page.Select({0, -1});
  page.Modify();
  ASSERT_EQ(record.access_total, 1);
  EXPECT_EQ(record.access_table[0].port_mask, 0x7);
}

TEST_F(AccessControlPageTest, GrantDialogValidation) {
  GrantAccessIpDialog d(prompter, "info", "", "255.255.0.0");
  EXPECT_FALSE(d.single_computer());
  EXPECT_TRUE(d.netmask_enabled());
  d.address_text = "1.2.3";
  EXPECT_FALSE(d.Ok());
  d.address_text = "192.168.1.1.7";
  d.netmask_text = "";
  ASSERT_TRUE(d.Ok());
  EXPECT_EQ(d.address(), Ip("192.168.1.1"));
  EXPECT_EQ(d.netmask(), kOne);
  d.ChooseSingleComputer();
  EXPECT_EQ(d.netmask_text, "255.255.255.255");
  EXPECT_FALSE(d.netmask_enabled());
  // Addresses that end the table on the server are refused.
  d.address_text = "...";
  EXPECT_FALSE(d.Ok());
  d.address_text = "255.255.255.255";
  EXPECT_FALSE(d.Ok());
  EXPECT_EQ(prompter.texts(),
            (std::vector<std::string>{std::string(ManagerString(kStrInvalidAddress)),
                                      std::string(kPsInvalidHostAddress),
                                      std::string(kPsInvalidHostAddress)}));
}

TEST_F(AccessControlPageTest, PortStatusRefreshMatchesThisHostThroughTheNetmask) {
  record.set_port_kind(2, kPortWan);
  record.set_port_kind(3, kPortNoAccess);
  // The host 127.0.0.1 is inside 127.0.0.0/8 for port 1 only; the entry for
  // 10.0.0.0/8 grants port 2 to somebody else.
  AddEntry("127.5.6.7", "255.0.0.0", 0x1 | 0x4 | 0x8);
  AddEntry("10.0.0.0", "255.0.0.0", 0x2);
  AccessControlPage page(prompter, record, dialogs);
  page.OnOk();
  EXPECT_EQ(record.port_kind(0), kPortMappable);
  EXPECT_EQ(record.port_kind(1), kPortNoAccess);
  EXPECT_EQ(record.port_kind(2), kPortWan);  // other kinds stay
  EXPECT_EQ(record.port_kind(3), kPortMappable);

  // An empty table opens every mappable port.
  record.access_total = 0;
  record.set_port_kind(1, kPortNoAccess);
  RefreshPortStatus(record);
  EXPECT_EQ(record.port_kind(1), kPortMappable);
  EXPECT_EQ(record.port_kind(2), kPortWan);
}

}  // namespace
}  // namespace zelin::manager
