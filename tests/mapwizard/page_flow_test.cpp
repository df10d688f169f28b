// The page flow of the wizard for the three installation types, against an emulated
// lab: every Back and Next of the flow table, the buttons each page offers, and the
// ways the wizard ends.
#include "mapwizard/core/strings.hpp"
#include "tests/mapwizard/wizard_fixture.hpp"

namespace zelin::wizard::testing {
namespace {

constexpr uint16_t kOpen = 101;    // no password
constexpr uint16_t kLocked = 102;  // password "secret"

class PageFlowTest : public WizardFixture {
 protected:
  void SetUp() override { StartLab({Server(kOpen, 10), Server(kLocked, 11, 8452, "secret")}); }
  // Next shows the page `next`, and Back from there returns to `back`.
  static void NextThenBack(WizardFlow& f, int next, int back) {
    f.Next();
    ASSERT_EQ(f.page(), next);
    f.Back();
    EXPECT_EQ(f.page(), back);
  }
  // Choosing the password-protected server leads to `password_page` and Back returns to
  // the list; then it is chosen again and the flow goes on to that page.
  void ChooseLockedServer(WizardFlow& f, int password_page) {
    SelectSerial(f, kLocked);
    ASSERT_NO_FATAL_FAILURE(NextThenBack(f, password_page, kPageServerList));
    SelectSerial(f, kLocked);
    f.Next();
  }
};

TEST_F(PageFlowTest, StartPageOffersNextOnlyAndNoEndsWithResultZero) {
  WizardFlow& f = Flow(kSingleHost);
  EXPECT_EQ(f.page(), kPageBegin);
  EXPECT_EQ(f.buttons(), (Buttons{false, true, false}));
  f.Back();  // not offered: nothing happens
  EXPECT_EQ(f.page(), kPageBegin);
  f.begin().ChooseNo();
  f.Next();
  EXPECT_FALSE(f.running());
  EXPECT_EQ(f.result(), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(PageFlowTest, SingleHostServerWithPasswordGoesThroughThePasswordPage) {
  WizardFlow& f = FlowAtList(kSingleHost);
  EXPECT_EQ(f.buttons(), (Buttons{true, true, false}));
  ASSERT_NO_FATAL_FAILURE(ChooseLockedServer(f, kPageSinglePassword));
  f.single_password().SetPassword("secret");
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageComMap, kPageSinglePassword));
  f.Next();
  f.Next();
  ASSERT_EQ(f.page(), kPageComplete);  // password set: no "Set Server Password"
  EXPECT_EQ(f.buttons(), (Buttons{true, false, true}));
  f.Back();
  EXPECT_EQ(f.page(), kPageComMap);
  f.Next();
  f.Finish();
  EXPECT_EQ(f.result(), 1);
  EXPECT_EQ(count, 1);
}

TEST_F(PageFlowTest, SingleHostServerWithoutPasswordIsOfferedAPassword) {
  WizardFlow& f = FlowAtList(kSingleHost);
  EXPECT_FALSE(f.server_list().radios_visible());
  SelectSerial(f, kOpen);
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageComMap, kPageServerList));
  SelectSerial(f, kOpen);
  f.Next();
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageSetPassword, kPageComMap));
  f.Next();
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageComplete, kPageSetPassword));
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(PageFlowTest, MultiHostAdministratorChecksPasswordThenAddress) {
  WizardFlow& f = FlowAtList(kMultiHost);
  EXPECT_TRUE(f.server_list().radios_visible());
  // Back goes to the list: the server was chosen from it, not typed.
  ASSERT_NO_FATAL_FAILURE(ChooseLockedServer(f, kPageMultiPassword));
  f.multi_password().SetPassword("secret");
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageNewAddress, kPageMultiPassword));
  f.Next();
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageComMap, kPageMultiPassword));
  f.Next();
  f.Next();
  f.Next();
  EXPECT_EQ(f.page(), kPageComplete);
}

TEST_F(PageFlowTest, MultiHostServerWithoutPasswordGoesToTheAddressPage) {
  WizardFlow& f = FlowAtList(kMultiHost);
  SelectSerial(f, kOpen);
  f.Next();
  ASSERT_EQ(f.page(), kPageNewAddress);
  EXPECT_EQ(f.new_address().address_text(), AddressToText(block.Address(10)));
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageComMap, kPageNewAddress));
  f.Back();
  EXPECT_EQ(f.page(), kPageServerList);
}

TEST_F(PageFlowTest, CustomManualEntryComesBackToTheAddressPage) {
  WizardFlow& f = FlowAtList(kCustom);
  f.server_list().ChooseManual();
  EXPECT_FALSE(f.server_list().list_enabled());
  EXPECT_FALSE(f.server_list().find_enabled());
  EXPECT_FALSE(f.server_list().locate_enabled());
  ASSERT_NO_FATAL_FAILURE(NextThenBack(f, kPageAssignAddress, kPageServerList));
  f.Next();
  f.assign_address().SetAddressText(AddressToText(block.Address(11)));
  f.Next();
  ASSERT_EQ(f.page(), kPageMultiPassword);
  EXPECT_TRUE(f.context().state.manual_entry);
  f.Back();
  EXPECT_EQ(f.page(), kPageAssignAddress);
}

TEST_F(PageFlowTest, CancelAsksAndOnlyYesEnds) {
  WizardFlow& f = FlowAtList(kMultiHost);
  prompter.QueueAnswer(MsgAnswer::No);
  EXPECT_FALSE(f.Cancel());
  EXPECT_TRUE(f.running());
  EXPECT_EQ(prompter.shown().back().text, WizardString(kStrCancelQuestion));
  EXPECT_EQ(prompter.shown().back().buttons, MsgButtons::YesNo);
  prompter.QueueAnswer(MsgAnswer::Yes);
  EXPECT_TRUE(f.Cancel());
  EXPECT_EQ(f.result(), 0);
}

TEST_F(PageFlowTest, InvalidTablesEndAtOnce) {
  count = 33;
  WizardFlow& f = Flow(kSingleHost);
  EXPECT_FALSE(f.running());
  EXPECT_EQ(f.result(), 0);
}

}  // namespace
}  // namespace zelin::wizard::testing
