// The server list, the address pages and the password pages against an emulated lab.
#include "mapwizard/core/strings.hpp"
#include "protocol/device_text.hpp"
#include "tests/mapwizard/wizard_fixture.hpp"

namespace zelin::wizard::testing {
namespace {

using ServerListTest = WizardFixture;

TEST_F(ServerListTest, ListsOnlyServersNotConfiguredAndKeepsConfiguredRecords) {
  StartLab({Server(1, 10), Server(2, 11, 776, {}, "KivoServer"), Server(3, 12, 9752)});
  Configure(3, block.Address(12));
  // The manager's record of its configured server carries state a search cannot know.
  found->count = 1;
  found->records[0].search_reply[wire::kSrSerial] = 3;
  found->records[0].search_reply[wire::kSrSerial + 1] = 0;
  found->records[0].password = "kept";

  WizardFlow& f = FlowAtList(kMultiHost);
  const auto& rows = f.server_list().rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].model, "QX104");
  EXPECT_EQ(rows[0].name, "Lab1");
  EXPECT_EQ(rows[0].address, AddressToText(block.Address(10)));
  EXPECT_EQ(rows[0].serial, "1");
  EXPECT_EQ(rows[1].model, "VR-18");
  EXPECT_EQ(rows[1].name, "Server2");  // the default name is replaced, also in the record
  EXPECT_EQ(Record(2).name(), "Server2");
  EXPECT_EQ(f.server_list().selected_row(), 0);
  EXPECT_TRUE(f.server_list().locate_enabled());
  EXPECT_EQ(Record(3).password, "kept");
  EXPECT_EQ(saved_found->count, found->count);
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(ServerListTest, AllConfiguredOrNoneFoundLeavesBackOnlyWithTheMatchingWarning) {
  StartLab({Server(1, 10), Server(2, 11), Server(3, 12)});
  for (uint16_t s : {1, 2, 3}) Configure(s, block.Address(static_cast<uint8_t>(9 + s)));
  WizardFlow& f = FlowAtList(kMultiHost);
  EXPECT_TRUE(f.server_list().rows().empty());
  EXPECT_EQ(f.buttons(), (Buttons{true, false, false}));
  EXPECT_FALSE(f.server_list().locate_enabled());
  EXPECT_EQ(prompter.texts(),
            std::vector<std::string>{std::string(WizardString(kStrAllServersAdded))});
  f.Next();  // not offered
  EXPECT_EQ(f.page(), kPageServerList);
  // Manual entry stays possible on a multi-host installation.
  f.server_list().ChooseManual();
  EXPECT_EQ(f.buttons(), (Buttons{true, true, false}));
  f.server_list().ChooseExisting();
  EXPECT_EQ(f.buttons(), (Buttons{true, false, false}));

  lab->Stop();
  prompter.Clear();
  found->count = 0;
  f.Back();
  f.Next();
  EXPECT_EQ(prompter.texts(),
            std::vector<std::string>{std::string(WizardString(kStrNoServersAnswered))});
}

TEST_F(ServerListTest, NextWithoutSelectionAsksForOne) {
  StartLab({Server(1, 10)});
  WizardFlow& f = FlowAtList(kSingleHost);
  f.server_list().SelectRow(5);
  f.Next();
  EXPECT_EQ(f.page(), kPageServerList);
  EXPECT_TRUE(Shown(WizardString(kStrSelectServer)));
}

TEST_F(ServerListTest, LocateShowsTheServerAndSwitchesTheLightOff) {
  StartLab({Server(7, 10)});
  WizardFlow& f = FlowAtList(kSingleHost);
  f.server_list().Locate();
  ASSERT_EQ(prompter.texts().size(), 1u);
  EXPECT_NE(prompter.texts()[0].find("Name : Lab7\nIP address : " +
                                     AddressToText(block.Address(10)) + "\nSerial No : 7"),
            std::string::npos);
  EXPECT_FALSE(lab->Snapshot(7)->locating);
  lab->Stop();
  f.server_list().Locate();
  EXPECT_TRUE(Shown(WizardString(kStrCannotLocate)));
}

TEST_F(ServerListTest, CollidingServerWithoutPasswordMovesToTheNextFreeAddressWithWrap) {
  // A configured server holds .254; other hosts use .1 and .2; the search wraps from
  // .254 to .1 and settles on .3.
  StartLab({Server(5, 254)}, {Occupied(1), Occupied(2)});
  Configure(900, block.Address(254));
  WizardFlow& f = FlowAtList(kMultiHost);
  SelectSerial(f, 5);
  f.Next();
  ASSERT_EQ(f.page(), kPageNewAddress);
  EXPECT_TRUE(f.context().state.conflict);
  EXPECT_EQ(f.context().state.found_address, block.Address(254));
  EXPECT_EQ(Record(5).ip_address(), block.Address(3));
  EXPECT_EQ(f.new_address().address_text(), AddressToText(block.Address(3)));
  EXPECT_EQ(f.new_address().label(), "Suggested IP address:");
  EXPECT_EQ(f.new_address().message().rfind(
                "Warning Duplicated IP address\n\nServer Name : Lab5 \n IP address : " +
                    AddressToText(block.Address(254)),
                0),
            0u);
  // Back to the list puts the found address back into the record.
  f.Back();
  EXPECT_EQ(Record(5).ip_address(), block.Address(254));
}

// A server whose address another host already uses says so in its search reply: the
// wizard finds a free address at once and shows it as the suggestion.
TEST_F(ServerListTest, ServerReportingAnAddressInUseGetsASuggestedAddress) {
  StartLab({Server(5, 13)}, {Occupied(13)});
  WizardFlow& f = FlowAtList(kMultiHost);
  SelectSerial(f, 5);
  f.Next();
  ASSERT_EQ(f.page(), kPageNewAddress);
  EXPECT_EQ(f.new_address().label(), "Suggested IP address:");
  EXPECT_EQ(f.new_address().address_text(), AddressToText(block.Address(14)));
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(ServerListTest, NextCandidateWrapsAsTheAddressSearchExpects) {
  EXPECT_EQ(ServerListPage::NextCandidate(Ipv4FromOctets(10, 0, 0, 7)),
            Ipv4FromOctets(10, 0, 0, 8));
  EXPECT_EQ(ServerListPage::NextCandidate(Ipv4FromOctets(10, 0, 0, 254)),
            Ipv4FromOctets(10, 0, 0, 1));
  EXPECT_EQ(ServerListPage::NextCandidate(Ipv4FromOctets(10, 0, 0, 255)),
            Ipv4FromOctets(10, 0, 0, 0));
}

TEST_F(ServerListTest, AddressSearchThatCannotAskTheServerStaysAndRestores) {
  StartLab({Server(5, 20)});
  Configure(900, block.Address(20));
  WizardFlow& f = FlowAtList(kMultiHost);
  lab->Stop();
  SelectSerial(f, 5);
  f.Next();
  EXPECT_EQ(f.page(), kPageServerList);
  EXPECT_TRUE(Shown("CALL IP Conflict fail"));
  EXPECT_EQ(Record(5).ip_address(), block.Address(20));
}

using AddressPageTest = WizardFixture;

TEST_F(AddressPageTest, ManualEntryRefusesBadTextAndUnknownOrConfiguredServers) {
  StartLab({Server(1, 10), Server(2, 11)});
  Configure(2, block.Address(11));
  WizardFlow& f = FlowAtList(kCustom);
  f.server_list().ChooseManual();
  f.Next();
  ASSERT_EQ(f.page(), kPageAssignAddress);
  for (const char* bad :
       {"", "...", "1.2.3", "300.1.1.1", "a.b.c.d", "0.0.0.0", "255.255.255.255"}) {
    prompter.Clear();
    f.assign_address().SetAddressText(bad);
    f.Next();
    EXPECT_EQ(f.page(), kPageAssignAddress) << bad;
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Invalid IP address!"}) << bad;
  }
  f.assign_address().SetAddressText("127.0.0.1.1.1.1.1.1");
  EXPECT_EQ(f.assign_address().address_text().size(), kAssignAddressEditLimit);

  prompter.Clear();
  found->records[static_cast<size_t>(found->FindSerial(2))].set_name("Edited");  // not saved
  f.assign_address().SetAddressText(AddressToText(block.Address(11)));
  f.Next();
  EXPECT_EQ(f.page(), kPageAssignAddress);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{"This server has already been added!"});
  EXPECT_EQ(Record(2).name(), "Edited");  // the probe did not refresh the manager's record

  prompter.Clear();
  const std::string missing = AddressToText(block.Address(99));
  f.assign_address().SetAddressText(missing);
  prompter.QueueAnswer(MsgAnswer::Ok);
  f.Next();
  EXPECT_EQ(f.page(), kPageAssignAddress);
  EXPECT_TRUE(ShownContaining("The select server " + missing + " cannot be found on your network"));
  EXPECT_TRUE(ShownContaining("Click OK to enter another server IP address or Cancel to exit."));
  prompter.QueueAnswer(MsgAnswer::Cancel);
  f.Next();
  EXPECT_FALSE(f.running());
  EXPECT_EQ(count, 1);
}

TEST_F(AddressPageTest, ManualEntryGrantsThisHostTheServerOnce) {
  StartLab({Server(1, 10)});
  WizardFlow& f = FlowAtList(kMultiHost);
  f.server_list().ChooseManual();
  f.Next();
  f.assign_address().SetAddressText(AddressToText(block.Address(10)));
  f.Next();
  ASSERT_EQ(f.page(), kPageNewAddress);
  EXPECT_EQ(Staged().serial_number, 1);
  EXPECT_EQ(Staged().write_state, kWriteAlways);
  const ServerRecord& r = Record(1);
  ASSERT_EQ(r.access_count, 1);
  EXPECT_EQ(r.access_table[0], (AccessEntry{block.Address(10), 0xFFFFFFFFu, 0xFFFF}));
  f.Back();  // to the list, manual entry still chosen
  f.Next();
  ASSERT_EQ(f.page(), kPageAssignAddress);
  f.Next();  // the same server again: no second entry
  ASSERT_EQ(f.page(), kPageNewAddress);
  EXPECT_EQ(Record(1).access_count, 1);
}

TEST_F(AddressPageTest, NewAddressIsCheckedAndAConflictKeepsThePage) {
  StartLab({Server(1, 10), Server(2, 11)}, {Occupied(40)});
  WizardFlow& f = FlowAtList(kMultiHost);
  SelectSerial(f, 1);
  f.Next();
  ASSERT_EQ(f.page(), kPageNewAddress);
  EXPECT_EQ(f.new_address().label(), "Server IP address:");
  EXPECT_EQ(f.new_address().message(), WizardString(kStrEnterAddress));

  f.new_address().SetAddressText("12.1");
  f.Next();
  EXPECT_TRUE(Shown("Invalid IP address!"));

  f.new_address().SetAddressText(AddressToText(block.Address(40)));
  prompter.QueueAnswer(MsgAnswer::Ok);
  f.Next();
  EXPECT_EQ(f.page(), kPageNewAddress);
  const std::string warning = prompter.texts().back();
  EXPECT_EQ(warning.rfind("Warning Duplicated IP address\n\nServer Name : Lab1    IP addr : " +
                              AddressToText(block.Address(40)) + "\n",
                          0),
            0u);
  EXPECT_NE(warning.find("Press OK to go back to previous menu or Cancel to exit.\n"),
            std::string::npos);

  f.new_address().SetAddressText(AddressToText(block.Address(41)));
  f.Next();
  EXPECT_EQ(f.page(), kPageComMap);
  EXPECT_EQ(Staged().ip_address, block.Address(41));
}

using PasswordPageTest = WizardFixture;

TEST_F(PasswordPageTest, WrongPasswordRetriesOnOkAndEndsOnCancelWithoutAdding) {
  StartLab({Server(1, 10, 8452, "right")});
  WizardFlow& f = FlowAtList(kSingleHost);
  f.Next();
  ASSERT_EQ(f.page(), kPageSinglePassword);
  f.single_password().SetPassword("wrong");
  prompter.QueueAnswer(MsgAnswer::Ok);
  f.Next();
  EXPECT_EQ(f.page(), kPageSinglePassword);
  EXPECT_EQ(prompter.shown().back().text, WizardString(kStrWrongPassword));
  EXPECT_EQ(prompter.shown().back().buttons, MsgButtons::OkCancel);
  prompter.QueueAnswer(MsgAnswer::Cancel);
  f.Next();
  EXPECT_FALSE(f.running());
  EXPECT_EQ(f.result(), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(PasswordPageTest, AcceptedPasswordGoesToBothEntries) {
  StartLab({Server(1, 10, 8452, "right")});
  WizardFlow& f = FlowAtList(kSingleHost);
  f.Next();
  f.single_password().SetPassword("right");
  f.Next();
  ASSERT_EQ(f.page(), kPageComMap);
  EXPECT_EQ(Staged().flags, 0);
  EXPECT_EQ(saved[0].flags, 1);
  EXPECT_EQ(Staged().password(), "right");
  EXPECT_EQ(saved[0].password(), "right");
  EXPECT_EQ(Record(1).new_password, "right");
}

TEST_F(PasswordPageTest, GeneralUserIsNeverWrittenUnlessTheAddressCollides) {
  StartLab({Server(1, 10, 8452, "pw"), Server(2, 11, 8452, "pw")});
  Configure(900, block.Address(11));
  WizardFlow& f = FlowAtList(kCustom);
  SelectSerial(f, 2);
  f.Next();
  ASSERT_EQ(f.page(), kPageMultiPassword);
  f.multi_password().ChooseGeneralUser();
  EXPECT_FALSE(f.multi_password().password_enabled());
  prompter.QueueAnswer(MsgAnswer::Ok);
  f.Next();
  EXPECT_EQ(f.page(), kPageMultiPassword);
  EXPECT_EQ(prompter.texts().back(), WizardString(kStrDuplicatedAddress));

  f.Back();
  SelectSerial(f, 1);
  f.Next();
  f.multi_password().ChooseGeneralUser();
  f.Next();
  ASSERT_EQ(f.page(), kPageComMap);
  EXPECT_EQ(Staged().write_state, kWriteNever);
  // Changing one's mind to administrator makes the entry writable again.
  f.Back();
  f.multi_password().ChooseAdministrator();
  f.multi_password().SetPassword("pw");
  f.Next();
  EXPECT_EQ(f.page(), kPageNewAddress);
  EXPECT_EQ(Staged().write_state, kWriteAlways);
}

TEST_F(PasswordPageTest, NewPasswordMustMatchHaveNoSpaceAndFitSixteenCharacters) {
  WizardFlow& f = FlowAtSetPassword();
  ASSERT_EQ(f.page(), kPageSetPassword);
  SetPasswordPage& p = f.set_password();
  p.SetPassword("abc");
  p.SetConfirmation("abd");
  f.Next();
  EXPECT_EQ(f.page(), kPageSetPassword);
  EXPECT_EQ(prompter.texts().back(), "Password not match!");

  p.SetPassword("a b");
  p.SetConfirmation("a b");
  f.Next();
  EXPECT_EQ(f.page(), kPageSetPassword);
  EXPECT_EQ(prompter.texts().back(), WizardString(kStrBadPasswordSpace));
  EXPECT_EQ(p.password(), "");
  EXPECT_EQ(p.confirmation(), "");
  EXPECT_EQ(p.password_focus_requests(), 1);

  p.SetPassword("0123456789abcdefXYZ");
  p.SetConfirmation("0123456789abcdef");
  EXPECT_EQ(p.password(), "0123456789abcdef");
  p.SetAutoSaved(true);
  f.Next();
  ASSERT_EQ(f.page(), kPageComplete);
  EXPECT_TRUE(Record(1).password_change_pending);
  EXPECT_EQ(Record(1).new_password, "0123456789abcdef");
  EXPECT_EQ(Staged().flags, kServerFlagPasswordSaved);

  // Going back and leaving the password empty sets none.
  f.Back();
  p.SetPassword("");
  p.SetConfirmation("");
  p.SetAutoSaved(false);
  f.Next();
  EXPECT_FALSE(Record(1).password_change_pending);
  EXPECT_EQ(Staged().flags, 0);
}

// A password outside printable ASCII would reach the server as other bytes than the
// ones it checks: the login pages refuse it before sending anything.
TEST_F(PasswordPageTest, LoginPagesRefuseNonAsciiPasswordsWithoutAsking) {
  StartLab({Server(1, 10, 8452, "a ~!"), Server(2, 11, 8452, "pw")});
  WizardFlow& f = FlowAtList(kSingleHost);
  SelectSerial(f, 1);
  f.Next();
  ASSERT_EQ(f.page(), kPageSinglePassword);
  const std::string before = Record(1).password;
  for (const char* typed : {"a ~!\xC3\xA9", "a\t~!", "a ~!\x7F"}) {
    SCOPED_TRACE(::testing::PrintToString(typed));
    const uint64_t datagrams = lab->Stats().datagrams;
    f.single_password().SetPassword(typed);
    f.Next();
    EXPECT_EQ(f.page(), kPageSinglePassword);
    ASSERT_FALSE(prompter.shown().empty());
    EXPECT_EQ(prompter.shown().back().text, kDeviceTextRefused);
    EXPECT_EQ(prompter.shown().back().buttons, MsgButtons::Ok);
    EXPECT_EQ(lab->Stats().datagrams, datagrams);
    EXPECT_EQ(Record(1).password, before);
    EXPECT_EQ(Record(1).new_password, "");
  }
  // Space and tilde are the ends of the accepted range.
  f.single_password().SetPassword("a ~!");
  f.Next();
  EXPECT_EQ(f.page(), kPageComMap);
  EXPECT_EQ(Staged().password(), "a ~!");

  // Page 9: the administrator's password is checked; a general user sends none.
  WizardFlow& g = FlowAtList(kCustom);
  SelectSerial(g, 2);
  g.Next();
  ASSERT_EQ(g.page(), kPageMultiPassword);
  const uint64_t datagrams = lab->Stats().datagrams;
  g.multi_password().SetPassword("pw\xE2\x82\xAC");
  g.Next();
  EXPECT_EQ(g.page(), kPageMultiPassword);
  EXPECT_EQ(prompter.texts().back(), kDeviceTextRefused);
  EXPECT_EQ(lab->Stats().datagrams, datagrams);
  EXPECT_EQ(Record(2).new_password, "");
  g.multi_password().ChooseGeneralUser();
  g.Next();
  EXPECT_EQ(g.page(), kPageComMap);
  EXPECT_EQ(Staged().write_state, kWriteNever);
}

TEST_F(PasswordPageTest, NewPasswordOutsidePrintableAsciiIsRefusedAndCleared) {
  WizardFlow& f = FlowAtSetPassword();
  ASSERT_EQ(f.page(), kPageSetPassword);
  SetPasswordPage& p = f.set_password();
  p.SetPassword("p\xC3\xA4ss");
  p.SetConfirmation("p\xC3\xA4ss");
  p.SetAutoSaved(true);
  f.Next();
  ASSERT_EQ(f.page(), kPageSetPassword);
  EXPECT_EQ(prompter.texts().back(), kDeviceTextRefused);
  EXPECT_EQ(p.password(), "");
  EXPECT_EQ(p.confirmation(), "");
  EXPECT_EQ(p.password_focus_requests(), 1);
  EXPECT_FALSE(Record(1).password_change_pending);
  EXPECT_EQ(Record(1).new_password, "");
  EXPECT_EQ(Staged().flags, 0);

  // A control character typed into both fields is refused the same way.
  p.SetPassword("ab\x1B");
  p.SetConfirmation("ab\x1B");
  f.Next();
  EXPECT_EQ(f.page(), kPageSetPassword);
  EXPECT_EQ(p.password_focus_requests(), 2);
  EXPECT_FALSE(Record(1).password_change_pending);
}

}  // namespace
}  // namespace zelin::wizard::testing
