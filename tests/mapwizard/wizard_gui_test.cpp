// The real wizard sheet, clicked through from page 0 to Finish against the emulated lab,
// with a PNG of every page it passes through in <build>/screenshots/wizard/.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>

#include "mapwizard/core/strings.hpp"
#include "mapwizard/gui/add_server_wizard.hpp"
#include "mapwizard/gui/wizard_dialogs.hpp"
#include "mapwizard/gui/wizard_pages.hpp"
#include "tests/mapwizard/wizard_fixture.hpp"
#include "tests/support/qt_app.hpp"
#include "ui/snapshot.hpp"

namespace zelin::wizard::testing {
namespace {

class WizardGuiTest : public WizardFixture {
 protected:
  void SetUp() override { zelin::testing::QtApp(); }

  gui::AddServerWizard& Sheet(int type) {
    Flow(type);  // started by the sheet below as well; Begin() does not start twice
    sheet = std::make_unique<gui::AddServerWizard>(*flow);
    sheet->Begin();
    sheet->show();
    QApplication::processEvents();
    return *sheet;
  }

  void Click(const char* button_name) {
    auto* b = sheet->findChild<QAbstractButton*>(QString::fromLatin1(button_name));
    ASSERT_NE(b, nullptr) << button_name;
    ASSERT_TRUE(b->isVisible()) << button_name << " is not offered on page " << flow->page();
    QTest::mouseClick(b, Qt::LeftButton);
    QApplication::processEvents();
  }

  template <typename W>
  W* On(const char* name) {
    auto* w = sheet->flow_page(flow->page())->findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name << " on page " << flow->page();
    return w;
  }

  void Snap(const QString& file) {
    EXPECT_TRUE(ui::SaveWidgetPng(sheet.get(), QStringLiteral(ZELIN_SCREENSHOT_DIR "/") + file));
  }

  std::unique_ptr<gui::AddServerWizard> sheet;
};

TEST_F(WizardGuiTest, SingleHostWithoutPasswordFromStartToFinish) {
  StartLab({Server(1, 10, 771, {}, "Warehouse"), Server(2, 11, 8452, {}, "Office")});
  Configure(900, block.Address(50), {5});
  auto& w = Sheet(kSingleHost);
  EXPECT_EQ(w.windowTitle(), "Zelin Wizard - Traditional");
  EXPECT_EQ(w.currentId(), kPageBegin);
  EXPECT_EQ(w.currentPage()->title(), "Add Server Wizard");
  EXPECT_FALSE(w.button(gui::AddServerWizard::kBackButton)->isVisible());
  Snap("00_begin.png");

  Click("next");
  ASSERT_EQ(w.currentId(), kPageServerList);
  auto* list = On<QTreeWidget>("serverList");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->headerItem()->text(2), "  IP address  ");
  EXPECT_EQ(list->topLevelItem(1)->text(0), "QX104");
  EXPECT_EQ(list->topLevelItem(1)->text(1), "Office");
  EXPECT_FALSE(On<QRadioButton>("manual")->isVisible());
  list->clearSelection();
  Click("next");
  ASSERT_EQ(w.currentId(), kPageServerList);
  EXPECT_EQ(prompter.texts().back(), WizardString(kStrSelectServer));
  prompter.Clear();
  list = On<QTreeWidget>("serverList");
  list->setCurrentItem(list->topLevelItem(1));
  Snap("01_server_list.png");

  Click("next");
  ASSERT_EQ(w.currentId(), kPageComMap);
  auto* com = On<QComboBox>("comName");
  EXPECT_EQ(com->currentText(), "COM3");
  EXPECT_EQ(com->findText("COM5"), -1);  // in use
  com->setCurrentIndex(com->findText("COM4"));
  Snap("02_com_map.png");

  Click("next");
  ASSERT_EQ(w.currentId(), kPageSetPassword);
  auto* password = On<QLineEdit>("password");
  auto* confirmation = On<QLineEdit>("confirmation");
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  QTest::keyClicks(password, "0123456789abcdefXYZ");
  EXPECT_EQ(password->text(), "0123456789abcdef");
  EXPECT_EQ(confirmation->maxLength(), 16);
  EXPECT_EQ(confirmation->echoMode(), QLineEdit::Password);
  password->clear();
  QTest::keyClicks(password, "do or");
  QTest::keyClicks(confirmation, "do or");
  Click("next");
  ASSERT_EQ(w.currentId(), kPageSetPassword);
  EXPECT_EQ(prompter.texts().back(), WizardString(kStrBadPasswordSpace));
  EXPECT_TRUE(password->text().isEmpty());
  EXPECT_TRUE(confirmation->text().isEmpty());
  prompter.Clear();
  QTest::keyClicks(password, "door7");
  QTest::keyClicks(confirmation, "door7");
  On<QCheckBox>("autoSaved")->setChecked(true);
  Snap("03_set_password.png");

  Click("next");
  ASSERT_EQ(w.currentId(), kPageComplete);
  EXPECT_FALSE(w.button(gui::AddServerWizard::kNextButton)->isVisible());
  EXPECT_EQ(On<QLabel>("summary")->text(),
            "Model : QX104\nServer Name : Office\nPorts : COM4-COM8\nServer Serial Number : 2\n"
            "Server IP : " +
                QString::fromStdString(AddressToText(block.Address(11))));
  Snap("04_complete.png");

  Click("finish");
  EXPECT_EQ(w.result(), QDialog::Accepted);
  ASSERT_EQ(count, 2);
  const ServerConfig& added = config[1];
  EXPECT_EQ(added.serial_number, 2);
  EXPECT_EQ(added.name(), "Office");
  EXPECT_EQ(added.flags, kServerFlagPasswordSaved);
  EXPECT_EQ(added.write_state, kWriteAlways);
  EXPECT_EQ(ComNumberOf(added.com_number[0]), 4);
  EXPECT_EQ(ComNumberOf(added.com_number[1]), 6);
  EXPECT_TRUE(Record(2).password_change_pending);
  EXPECT_EQ(Record(2).new_password, "door7");
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(WizardGuiTest, MultiHostAdministratorWithNewAddress) {
  StartLab({Server(3, 12, 9752, "key", "Lab3")});
  auto& w = Sheet(kMultiHost);
  EXPECT_EQ(w.windowTitle(), "Zelin Wizard - Multi Host");
  Click("next");
  ASSERT_EQ(w.currentId(), kPageServerList);
  EXPECT_TRUE(On<QRadioButton>("existing")->isChecked());
  Click("next");
  ASSERT_EQ(w.currentId(), kPageMultiPassword);
  auto* password = On<QLineEdit>("password");
  EXPECT_EQ(password->maxLength(), 16);
  On<QRadioButton>("generalUser")->click();
  EXPECT_FALSE(password->isEnabled());
  On<QRadioButton>("administrator")->click();
  EXPECT_TRUE(password->isEnabled());
  QTest::keyClicks(password, "key");
  Snap("09_multi_password.png");

  Click("next");
  ASSERT_EQ(w.currentId(), kPageNewAddress);
  auto* address = On<QLineEdit>("address");
  EXPECT_EQ(address->maxLength(), 20);
  EXPECT_EQ(address->text().toStdString(), AddressToText(block.Address(12)));
  EXPECT_EQ(On<QLabel>("label")->text(), "Server IP address:");
  address->clear();
  QTest::keyClicks(address, QString::fromStdString(AddressToText(block.Address(33))));
  Snap("08_new_address.png");

  Click("next");
  ASSERT_EQ(w.currentId(), kPageComMap);
  Click("next");
  ASSERT_EQ(w.currentId(), kPageComplete);  // password set: no "Set Server Password"
  Click("back");
  EXPECT_EQ(w.currentId(), kPageComMap);
  Click("next");
  Click("finish");
  EXPECT_EQ(w.result(), QDialog::Accepted);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(config[0].ip_address, block.Address(33));
  EXPECT_EQ(config[0].password(), "key");
  EXPECT_EQ(config[0].port_count, 8u);
}

TEST_F(WizardGuiTest, SingleHostPasswordPageRetriesAWrongPassword) {
  StartLab({Server(5, 14, 8452, "gate", "Dock")});
  auto& w = Sheet(kSingleHost);
  Click("next");
  Click("next");
  ASSERT_EQ(w.currentId(), kPageSinglePassword);
  auto* password = On<QLineEdit>("password");
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(password->maxLength(), 16);
  QTest::keyClicks(password, "gat");
  Snap("05_single_password.png");
  prompter.QueueAnswer(MsgAnswer::Ok);
  Click("next");
  EXPECT_EQ(w.currentId(), kPageSinglePassword);
  EXPECT_EQ(prompter.texts().back(), WizardString(kStrWrongPassword));
  QTest::keyClicks(password, "e");
  Click("next");
  ASSERT_EQ(w.currentId(), kPageComMap);
  EXPECT_EQ(On<QLabel>("info")->text().toStdString(),
            "Name : Dock    Serial No. : 5\nTotal Port : 4");
  Click("back");
  EXPECT_EQ(w.currentId(), kPageSinglePassword);
  EXPECT_EQ(On<QLineEdit>("password")->text(), "gate");
}

TEST_F(WizardGuiTest, CollidingAddressPageShowsTheWarningAndTheSuggestion) {
  StartLab({Server(6, 20, 8452, {}, "Yard")});
  Configure(900, block.Address(20));
  auto& w = Sheet(kMultiHost);
  Click("next");
  Click("next");
  ASSERT_EQ(w.currentId(), kPageNewAddress);
  EXPECT_EQ(On<QLabel>("label")->text(), "Suggested IP address:");
  EXPECT_EQ(On<QLineEdit>("address")->text().toStdString(), AddressToText(block.Address(21)));
  EXPECT_TRUE(On<QLabel>("message")->text().startsWith("Warning Duplicated IP address"));
  Snap("08_new_address_conflict.png");
}

TEST_F(WizardGuiTest, CustomManualEntryThenCancel) {
  StartLab({Server(4, 13)});
  auto& w = Sheet(kCustom);
  EXPECT_EQ(w.windowTitle(), "Zelin Wizard - Custom");
  Click("next");
  On<QRadioButton>("manual")->click();
  EXPECT_FALSE(On<QTreeWidget>("serverList")->isEnabled());
  EXPECT_FALSE(On<QPushButton>("find")->isEnabled());
  Snap("01_server_list_custom.png");
  Click("next");
  ASSERT_EQ(w.currentId(), kPageAssignAddress);
  auto* address = On<QLineEdit>("address");
  EXPECT_EQ(address->maxLength(), 15);
  QTest::keyClicks(address, "10.0.0.300");
  Snap("07_assign_address.png");
  Click("next");
  EXPECT_EQ(w.currentId(), kPageAssignAddress);
  EXPECT_EQ(prompter.texts().back(), "Invalid IP address!");

  prompter.QueueAnswer(MsgAnswer::No);
  Click("cancel");
  EXPECT_TRUE(w.isVisible());
  prompter.QueueAnswer(MsgAnswer::Yes);
  Click("cancel");
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.result(), QDialog::Rejected);
  EXPECT_EQ(flow->result(), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(WizardGuiTest, SmallDialogsShowTheirTexts) {
  gui::LocateDialog locate("Name : Lab\nIP address : 127.0.0.9\nSerial No : 9", nullptr);
  EXPECT_EQ(locate.windowTitle(), "Add Server Wizard");
  EXPECT_TRUE(ui::SaveWidgetPng(&locate, QStringLiteral(ZELIN_SCREENSHOT_DIR "/145_locate.png")));
  gui::NotFoundDialog missing("The select server 127.0.0.99 cannot be found on your network",
                              nullptr);
  EXPECT_EQ(missing.findChild<QLineEdit*>("info")->text(),
            "The select server 127.0.0.99 cannot be found on your network");
  EXPECT_EQ(missing.findChild<QPushButton*>("cancel")->text(), "&Cancel");
  EXPECT_TRUE(
      ui::SaveWidgetPng(&missing, QStringLiteral(ZELIN_SCREENSHOT_DIR "/146_not_found.png")));
}

}  // namespace
}  // namespace zelin::wizard::testing
