// The General, Password and Advanced pages and the sheet's page flow, without a network.
#include <gtest/gtest.h>

#include "protocol/device_text.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "srvmanager/properties/core/property_sheet.hpp"
#include "tests/srvmanager_properties/fakes.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::manager {
namespace {

using testing::Ip;
using testing::MakeEntry;
using testing::MakeRecord;
using testing::ScriptedDialogs;
using testing::ScriptedPrompter;

std::string S(int id) {
  return std::string(ManagerString(id));
}

// The numbered messages these commands show, as the user reads them.
TEST(PropertiesStringsTest, NumberedTextsAreExact) {
  EXPECT_EQ(S(kStrSheetCaption), "Server Properties");
  EXPECT_EQ(S(kStrUpgradeCaption), "Zelin Server Upgrade");
  EXPECT_EQ(S(kStrUpgradeOk), "Upgrade server firmware OK!");
  EXPECT_EQ(S(kStrUpgradeFail), "Upgrade server firmware Fail!");
  EXPECT_EQ(S(kStrSelectServerFirst), "Please select server first!");
  EXPECT_EQ(S(kStrPasswordMismatch),
            "Fail to change server password! New password and new password confirmation "
            "don't match!");
  EXPECT_EQ(S(kStrNoServer), "No server exists on your network!");
  EXPECT_EQ(S(kStrWrongCurrentPassword), "You have input a error Current Password!");
  EXPECT_EQ(S(kStrPasswordSpace),
            "Bad Password : No SPACE character is allowed in Server password.\nPlease try "
            "again!");
  EXPECT_EQ(S(kStrDeviceTypeMismatch), "Device type no match!");
  EXPECT_EQ(S(kStrInvalidAddress), "Invalid IP address!");
  EXPECT_EQ(S(kStrGetDhcpError), "Get DHCP Error!");
  EXPECT_EQ(S(kStrReplaceDhcpWarning),
            "Warning ! For replacing server, this Zelin Server's DHCP mode will be disabled. "
            "Before re-enable this Zelin Server's DHCP mode, you should check this Zelin Port "
            "Server 's MAC address and re-configure your DHCP server.");
  EXPECT_EQ(DownloadingText("Lab", 9476, Ip("10.0.0.5")),
            "Server Name : Lab \n\nSerial No.: 9476\n\nServer IP address : 10.0.0.5 "
            "\n\n\tDownloading...");
  EXPECT_EQ(UpgradingText("Lab", 9476, Ip("10.0.0.5")),
            "Server Name : Lab \n\nSerial No.: 9476\n\nServer IP address : 10.0.0.5 "
            "\n\nServer is upgrading, Please wait...");
}

class PropertyPagesTest : public ::testing::Test {
 protected:
  PropertyPagesTest()
      : entry(MakeEntry(9476, 12, "Lab", Ip("10.0.0.5"))),
        record(MakeRecord(9476, 12, "Lab", Ip("10.0.0.5"), Ip("10.0.0.1"), 4)) {
    entry.set_password("old");
    record.dhcp = 1;
  }
  // Fills the password page's three fields and validates them: whether they pass, and
  // what the user was told.
  std::pair<bool, std::vector<std::string>> Validated(PasswordPage& page, const std::string& cur,
                                                      const std::string& neu,
                                                      const std::string& conf) {
    page.current_password = cur;
    page.new_password = neu;
    page.confirm_password = conf;
    prompter.Clear();
    const bool ok = page.Validate();
    return {ok, prompter.texts()};
  }
  ServerConfig entry;
  ServerRecord record;
  ScriptedPrompter prompter;
  ScriptedDialogs dialogs;
};

TEST_F(PropertyPagesTest, SheetPagesByInstallationType) {
  auto kinds = [&](int type) {
    PropertySheet sheet(prompter, type, entry, record, dialogs);
    std::vector<PageKind> out;
    for (int i = 0; i < sheet.page_count(); ++i) out.push_back(sheet.page_kind(i));
    return out;
  };
  using K = PageKind;
  EXPECT_EQ(kinds(1), (std::vector<K>{K::kGeneral, K::kPassword}));
  EXPECT_EQ(kinds(2), (std::vector<K>{K::kGeneral, K::kPassword, K::kAccessControl}));
  EXPECT_EQ(kinds(3), (std::vector<K>{K::kGeneral, K::kPassword, K::kAccessControl, K::kAdvanced}));
  EXPECT_EQ(kinds(0), (std::vector<K>{K::kGeneral, K::kPassword}));
  EXPECT_EQ(PropertySheet::Caption(), "Server Properties");
}

TEST_F(PropertyPagesTest, GeneralPageValidatesAddressesWhenLeftAndOnOk) {
  PropertySheet sheet(prompter, kMultiHost, entry, record, dialogs);
  GeneralPage& general = sheet.general();
  EXPECT_EQ(general.serial_text, "12");
  EXPECT_EQ(general.address_text, "10.0.0.5");
  EXPECT_FALSE(general.address_read_only());

  general.address_text = "1.2.3";
  EXPECT_FALSE(sheet.SetActivePage(1));
  EXPECT_EQ(sheet.active_page(), 0);
  EXPECT_FALSE(sheet.Ok());
  EXPECT_EQ(prompter.texts(), (std::vector<std::string>(2, S(kStrInvalidAddress))));
  EXPECT_EQ(entry.ip_address, Ip("10.0.0.5"));

  general.address_text = "...";
  general.name = "Renamed";
  general.dhcp_enable = false;
  ASSERT_TRUE(sheet.Ok());
  EXPECT_EQ(entry.ip_address, 0u);
  EXPECT_EQ(record.ip_address(), 0u);
  EXPECT_EQ(entry.name(), "Renamed");
  EXPECT_EQ(record.name(), "Renamed");
  EXPECT_EQ(record.dhcp, 0);
}

// The server reads its name and passwords as one byte a character: anything but
// printable ASCII is refused where it is typed, and nothing reaches the entry or record.
TEST_F(PropertyPagesTest, NamesAndPasswordsMustBePrintableAscii) {
  const std::vector<std::string> refused{std::string(kDeviceTextRefused)};
  PropertySheet sheet(prompter, kMultiHost, entry, record, dialogs);
  GeneralPage& general = sheet.general();
  for (const char* name : {"Caf\xC3\xA9", "Tab\there", "Bell\x07", "Del\x7F"}) {
    prompter.Clear();
    general.name = name;
    EXPECT_FALSE(sheet.SetActivePage(1)) << name;
    EXPECT_FALSE(sheet.Ok()) << name;
    EXPECT_EQ(prompter.texts(), (std::vector<std::string>(2, refused[0]))) << name;
  }
  EXPECT_EQ(sheet.active_page(), 0);
  EXPECT_EQ(entry.name(), "Lab");
  EXPECT_EQ(record.name(), "Lab");
  general.name = "Plain ~ name!";
  prompter.Clear();
  ASSERT_TRUE(sheet.Ok());
  EXPECT_TRUE(prompter.texts().empty());
  EXPECT_EQ(entry.name(), "Plain ~ name!");

  PasswordPage page(prompter, entry, record);
  auto check = [&](const std::string& cur, const std::string& neu, const std::string& conf) {
    page.focus_new_password = false;
    return Validated(page, cur, neu, conf);
  };
  using R = std::pair<bool, std::vector<std::string>>;
  const std::string umlaut = "p\xC3\xBCw";  // 3 characters, 4 bytes
  EXPECT_EQ(check(umlaut, "new", "new"), (R{false, refused}));
  EXPECT_EQ(check("old", umlaut, umlaut), (R{false, refused}));
  EXPECT_TRUE(page.new_password.empty());
  EXPECT_TRUE(page.confirm_password.empty());
  EXPECT_TRUE(page.focus_new_password);
  EXPECT_EQ(check("old", "n\x01w", "n\x01w"), (R{false, refused}));
  // Mismatched fields are still reported as a mismatch.
  EXPECT_EQ(check("old", umlaut, "new"), (R{false, {S(kStrPasswordMismatch)}}));
  // The OK step never records such a password, even without Validate.
  page.current_password = "old";
  page.new_password = umlaut;
  page.OnOk();
  EXPECT_FALSE(record.password_change_pending);
}

TEST_F(PropertyPagesTest, GeneralPageSingleHostAndDhcpCapability) {
  GeneralPage single(prompter, kSingleHost, entry, record);
  EXPECT_TRUE(single.address_read_only());
  EXPECT_TRUE(single.dhcp_radios_enabled());  // 9476 with firmware 0x0220
  EXPECT_TRUE(single.dhcp_enable);

  ServerRecord old_firmware = MakeRecord(9476, 12, "Lab", 0, 0, 4, 0x021FFFFF);
  GeneralPage old(prompter, kCustom, entry, old_firmware);
  EXPECT_FALSE(old.dhcp_radios_enabled());
  ServerRecord no_dhcp = MakeRecord(8452, 12, "Lab", 0, 0, 4, 0x09990000);
  EXPECT_FALSE(GeneralPage(prompter, kCustom, entry, no_dhcp).dhcp_radios_enabled());
}

TEST_F(PropertyPagesTest, PasswordValidationOrder) {
  PasswordPage page(prompter, entry, record);
  auto check = [&](const char* cur, const char* neu, const char* conf) {
    return Validated(page, cur, neu, conf);
  };
  using R = std::pair<bool, std::vector<std::string>>;
  EXPECT_EQ(check("", "", ""), (R{true, {}}));
  // A wrong current password is reported before anything about the new one.
  EXPECT_EQ(check("bad", "a b", "x"), (R{false, {S(kStrWrongCurrentPassword)}}));
  EXPECT_EQ(check("old", "new", "nwe"), (R{false, {S(kStrPasswordMismatch)}}));
  EXPECT_EQ(check("old", "n w", "n w"), (R{false, {S(kStrPasswordSpace)}}));
  EXPECT_TRUE(page.new_password.empty());
  EXPECT_TRUE(page.confirm_password.empty());
  EXPECT_TRUE(page.focus_new_password);
  EXPECT_EQ(check("old", "new", "new"), (R{true, {}}));
  EXPECT_EQ(check("old", "", ""), (R{true, {}}));
  EXPECT_FALSE(record.password_change_pending);  // validation alone changes nothing
}

TEST_F(PropertyPagesTest, PasswordOkStepRecordsTheChange) {
  entry.flags = 0x0102;
  PasswordPage page(prompter, entry, record);
  EXPECT_FALSE(page.auto_save);
  page.auto_save = true;
  page.current_password = "old";
  page.new_password = page.confirm_password = "";
  ASSERT_TRUE(page.Validate());
  page.OnOk();
  EXPECT_EQ(entry.flags, 0x0103);
  // An empty new password with the right current one is a change to no password.
  EXPECT_TRUE(record.password_change_pending);
  EXPECT_EQ(record.new_password, "");

  ServerRecord other = record;
  other.password_change_pending = false;
  PasswordPage same(prompter, entry, other);
  same.current_password = same.new_password = same.confirm_password = "old";
  same.auto_save = false;
  same.OnOk();
  EXPECT_FALSE(other.password_change_pending);
  EXPECT_EQ(entry.flags, 0x0102);
}

TEST_F(PropertyPagesTest, OkRunsTheOkStepOfShownPagesOnly) {
  record.set_port_kind(0, kPortNoAccess);  // the access page would make it 2 (empty table)
  {
    PropertySheet sheet(prompter, kCustom, entry, record, dialogs);
    sheet.password().auto_save = true;
    ASSERT_TRUE(sheet.Ok());
    EXPECT_EQ(entry.flags & kServerFlagPasswordSaved, 0);
    EXPECT_EQ(record.port_kind(0), kPortNoAccess);
  }
  PropertySheet sheet(prompter, kCustom, entry, record, dialogs);
  ASSERT_TRUE(sheet.SetActivePage(2));
  ASSERT_TRUE(sheet.SetActivePage(1));
  sheet.password().auto_save = true;
  ASSERT_TRUE(sheet.Ok());
  EXPECT_NE(entry.flags & kServerFlagPasswordSaved, 0);
  EXPECT_EQ(record.port_kind(0), kPortMappable);
  EXPECT_FALSE(sheet.shown(3));
}

// --- Advanced page ---------------------------------------------------------------------

class AdvancedPageTest : public PropertyPagesTest {
 protected:
  void AddRoute(const char* dest, uint16_t metric) {
    record.route_table[record.route_total++] = {Ip("10.0.0.1"), Ip(dest), Ip("255.255.255.0"),
                                                metric};
  }
  static std::function<bool(GatewaySettingsDialog&)> Type(std::string dest, std::string metric) {
    return [dest, metric](GatewaySettingsDialog& d) {
      d.destination_text = dest;
      d.gateway_text = "10.0.0.1";
      d.netmask_text = "255.255.255.0";
      d.metric_text = metric;
      return d.Ok();
    };
  }
};

TEST_F(AdvancedPageTest, ListsLiveRoutesAndRemoveMarksThem) {
  AddRoute("192.168.1.0", 1);
  AddRoute("192.168.2.0", 0xFFFF);
  AddRoute("192.168.3.0", 3);
  AdvancedPage page(prompter, record, dialogs);
  ASSERT_EQ(page.rows().size(), 2u);
  EXPECT_EQ(page.rows()[1].destination, "192.168.3.0");
  EXPECT_EQ(page.rows()[1].gateway, "10.0.0.1");
  EXPECT_EQ(page.rows()[1].metric, "3");
  EXPECT_EQ(page.selected_row(), 0);

  page.SelectRow(0);
  page.Remove();
  EXPECT_EQ(record.route_table[0].metric, 0xFFFF);
  EXPECT_EQ(record.route_total, 3);  // removing never shrinks the table
  ASSERT_EQ(page.rows().size(), 1u);
  EXPECT_EQ(page.selected_row(), 0);
  page.Remove();
  EXPECT_TRUE(page.rows().empty());
  EXPECT_FALSE(page.remove_enabled());
  EXPECT_FALSE(page.modify_enabled());
  EXPECT_EQ(page.selected_row(), -1);
}

TEST_F(AdvancedPageTest, ModifyAppendsOneRemovalEntryOnlyWhenChanged) {
  AddRoute("192.168.1.0", 1);
  AdvancedPage page(prompter, record, dialogs);
  dialogs.gateway = [](GatewaySettingsDialog& d) {
    EXPECT_EQ(d.destination_text, "192.168.1.0");
    EXPECT_EQ(d.metric_text, "1");
    return d.Ok();
  };
  page.Modify();
  EXPECT_EQ(record.route_total, 1);

  // A metric-only change is the route alone: it keeps its slot with the new metric.
  dialogs.gateway = Type("192.168.1.0", "5");
  page.Modify();
  ASSERT_EQ(record.route_total, 1);
  EXPECT_EQ(record.route_table[0].metric, 5);

  // A change of key appends the removal of the old route.
  dialogs.gateway = Type("192.168.4.0", "5");
  page.Modify();
  ASSERT_EQ(record.route_total, 2);
  EXPECT_EQ(record.route_table[0],
            (RouteEntry{Ip("10.0.0.1"), Ip("192.168.4.0"), Ip("255.255.255.0"), 5}));
  EXPECT_EQ(record.route_table[1],
            (RouteEntry{Ip("10.0.0.1"), Ip("192.168.1.0"), Ip("255.255.255.0"), 0xFFFF}));
  EXPECT_EQ(page.rows().size(), 1u);
}

TEST_F(AdvancedPageTest, AddAppendsOnOkOnlyAndRefusesAFullTable) {
  AdvancedPage page(prompter, record, dialogs);
  dialogs.gateway = [](GatewaySettingsDialog& d) {
    EXPECT_EQ(d.destination_text, "");
    EXPECT_EQ(d.metric_text, "1");
    d.destination_text = "1.2.3";
    EXPECT_FALSE(d.Ok());
    return false;  // Cancel
  };
  page.Add();
  EXPECT_EQ(record.route_total, 0);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{S(kStrInvalidAddress)});

  dialogs.gateway = Type("172.16.0.0", "2");
  page.Add();
  ASSERT_EQ(record.route_total, 1);
  EXPECT_EQ(record.route_table[0].destination, Ip("172.16.0.0"));
  EXPECT_EQ(record.route_table[0].metric, 2);

  while (record.route_total < 32) AddRoute("192.168.9.0", 1);
  AdvancedPage full(prompter, record, dialogs);
  prompter.Clear();
  const int gateways = dialogs.gateways;
  full.Add();
  EXPECT_EQ(dialogs.gateways, gateways);  // not even opened
  dialogs.gateway = Type("192.168.9.0", "9");
  full.Modify();  // would need a removal entry
  EXPECT_EQ(dialogs.gateways, gateways);  // refused before Gateway Settings opens
  EXPECT_EQ(record.route_total, 32);
  EXPECT_EQ(record.route_table[0].metric, 2);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>(2, std::string(kPsRouteTableFull)));

  // Another entry has row 1's route, so its Modify needs no removal entry.
  full.SelectRow(1);
  full.Modify();
  EXPECT_EQ(record.route_table[1].metric, 9);
  EXPECT_EQ(prompter.texts().size(), 2u);
}

}  // namespace
}  // namespace zelin::manager
