// The Test Object page and the status check against emulated servers.

#include <gtest/gtest.h>

#include <fstream>

#include "portcheck/core/status_check.hpp"
#include "portcheck/core/test_object_page.hpp"
#include "portcheck/core/upgrade_window.hpp"
#include "protocol/address.hpp"
#include "tests/portcheck/lab_fixture.hpp"

namespace zelin::portcheck {
namespace {

using ConfigLab = PortcheckLab;

TEST_F(ConfigLab, TestObjectPageAddsChecksAndEditsServers) {
  Start({Server(61, 10, "pw"), Server(62, 11)});
  ServerSearchResults results;
  ComMappingTable com;
  TestObjectPage page(config_, results, interfaces_, session_, prompter_,
                      PromptedPasswordRunner(prompter_), com);
  page.Open();
  ASSERT_EQ(page.dropdown().size(), 2u);
  const std::string ip10 = AddressToText(block_.Address(10));
  EXPECT_EQ(page.dropdown()[0], ip10 + " (QX408, Bench 61, SerialNo:61)");
  EXPECT_EQ(page.selected_server(), -1);

  page.EnterText("10.1.2");
  page.EnterText("  ");  // nothing before the blank: silently ignored
  page.EnterText(AddressToText(block_.Address(77)) + " whatever");
  prompter_.QueuePassword(std::nullopt);  // the refused empty password, then Cancel
  page.ChooseLine(0);
  EXPECT_EQ(config_.server_count, 0);
  prompter_.QueuePassword("pw");
  page.ChooseLine(0);
  EXPECT_EQ(prompter_.texts(), (std::vector<std::string>{
                                   "Invalid IP address",
                                   "Fail to connect Zelin server (IP = " + AddressToText(block_.Address(77)) + ")!"}));
  ASSERT_EQ(config_.server_count, 1);
  EXPECT_EQ(config_.settings[0].password, "pw");
  EXPECT_EQ(config_.settings[0].port_mask, 0xFFFFu);
  EXPECT_EQ(config_.settings[0].status, 1);
  page.ChooseLine(0);  // already there: only selected
  EXPECT_EQ(config_.server_count, 1);

  // Another address with a serial number already listed is refused with its message.
  PutLe16(config_.images[0].bytes, wire::kSrSerial, 62);
  prompter_.Clear();
  page.ChooseLine(1);
  ASSERT_EQ(prompter_.texts().size(), 1u);
  EXPECT_EQ(prompter_.texts()[0].substr(0, 52), "There is already a Zelin Server with the same serial");
  EXPECT_EQ(config_.server_count, 1);
  PutLe16(config_.images[0].bytes, wire::kSrSerial, 61);
  page.ChooseLine(1);
  ASSERT_EQ(config_.server_count, 2);
  EXPECT_EQ(page.selected_server(), 1);

  // A QX408 lists its printer first, then port 1 onwards.
  ASSERT_EQ(page.port_rows().size(), 9u);
  EXPECT_EQ(page.port_rows()[0].number, "Printer");
  EXPECT_EQ(page.port_rows()[1].number, "1");
  EXPECT_EQ(page.port_rows()[1].mapping, "COM");
  page.SetPortChecked(0, true);
  page.SetPortChecked(1, false);
  EXPECT_EQ(config_.settings[1].server_flags, kTestPrinter);
  EXPECT_EQ(config_.settings[1].port_mask, 0xFFFEu);

  page.DeleteSelected();  // the last row: the new last row is selected
  EXPECT_EQ(page.selected_server(), 0);
  page.DeleteSelected();
  EXPECT_EQ(page.selected_server(), -1);
  EXPECT_TRUE(page.port_rows().empty());
}

TEST_F(ConfigLab, StatusCheckLogsInRefreshesAndReadsPorts) {
  auto a = Server(61, 10, "pw");
  a.diag.open_ports = 0b101;
  Start({a, Server(62, 11)});
  Configure(61, 10);  // stored without password: the dialog asks
  Configure(99, 11);  // answers with serial 62
  Configure(63, 12);  // nobody there
  config_.settings[0].status = config_.settings[1].status = config_.settings[2].status = -1;
  prompter_.QueuePassword("pw");
  StatusCheck check(config_, interfaces_, session_, prompter_, PromptedPasswordRunner(prompter_));
  check.Open();
  check.Wait();
  EXPECT_TRUE(check.Snapshot().close_requested);
  EXPECT_EQ(check.Snapshot().first_line, "Need to search 3 Zelin Server.");
  EXPECT_TRUE(check.SkipAll());  // over: SKIP ALL closes the window

  EXPECT_EQ(config_.settings[0].status, 1);
  EXPECT_EQ(config_.settings[0].password, "pw");
  EXPECT_EQ(config_.images[0].firmware_version(), 0x02200100u);  // refreshed image
  EXPECT_EQ(config_.settings[1].status, 1);
  EXPECT_EQ(config_.images[1].serial_number(), 99);  // another serial: not replaced
  EXPECT_EQ(config_.settings[2].status, -1);

  ComMappingTable com;
  ComMappingTable::Server mapped;
  mapped.address = block_.Address(10);
  mapped.serial = 61;
  mapped.port_flag[0] = 1;
  mapped.com[0] = 5;
  com.Add(mapped);
  const auto lines = ServerStatusLines(config_, com);
  const std::string ip10 = AddressToText(block_.Address(10));
  ASSERT_EQ(lines.size(), 2u + 8u + 2u + 8u + 2u);
  EXPECT_EQ(lines[0].text, "Bench 61 , " + ip10);
  EXPECT_EQ(lines[0].icon, StatusLine::Icon::kFound);
  EXPECT_EQ(lines[1].text, "(QX408,Serial No: 61 , Ver: 2.20)");
  EXPECT_EQ(lines[2].text, "    Port 1 - COM5 ,Open ");
  EXPECT_EQ(lines[3].text, "    Port 2 - COM port,Close");
  EXPECT_EQ(lines[4].text, "    Port 3 - COM port,Open ");
  EXPECT_EQ(lines[20].icon, StatusLine::Icon::kNotFound);
}

TEST_F(ConfigLab, SkipAllLeavesTheLaterServersAsTheyWere) {
  Start({Server(71, 10)});
  Configure(71, 10);
  Configure(72, 20);
  Configure(73, 21);
  config_.settings[1].status = 0;
  config_.settings[2].status = 0;
  StatusCheck check(config_, interfaces_, session_, prompter_, PromptedPasswordRunner(prompter_));
  bool pressed = false;
  check.set_changed([&] {
    if (!pressed && check.Snapshot().second_line.rfind("Connecting 1/3", 0) == 0) {
      pressed = true;
      EXPECT_FALSE(check.SkipAll());
    }
  });
  check.Open();
  check.Wait();
  EXPECT_EQ(config_.settings[0].status, 1);  // the current server ends its steps
  EXPECT_EQ(config_.settings[1].status, 0);
  EXPECT_EQ(config_.settings[2].status, 0);
}

TEST_F(ConfigLab, UpgradeWindowAsksThePasswordAndShowsTheVerdict) {
  auto slow = Server(82, 11);
  slow.firmware_rule.prefix = {0x5A};
  slow.firmware_rule.reject_status = wire::kTcpDownloadServerTimeout;
  Start({Server(81, 10, "pw"), slow});
  Configure(81, 10, "old");
  Configure(82, 11);
  PutLe32(config_.images[0].bytes, wire::kSrFirmware, 0x02200000 | 'b' << 8);
  const std::string image = ::testing::TempDir() + "/portcheck_upgrade.rom";
  const std::string empty = ::testing::TempDir() + "/portcheck_upgrade_empty.rom";
  std::ofstream(image, std::ios::binary) << std::string(3000, 'x');
  std::ofstream(empty, std::ios::binary).flush();

  UpgradeWindow window(config_, 0, session_, prompter_, PromptedPasswordRunner(prompter_));
  EXPECT_EQ(window.firmware_version(), "2.20b");
  EXPECT_FALSE(window.Start());  // no file name yet
  prompter_.QueuePassword(std::nullopt);
  EXPECT_FALSE(window.Browse(image));  // a cancelled password ends silently
  prompter_.QueuePassword("pw");
  EXPECT_TRUE(window.Start());
  EXPECT_EQ(config_.settings[0].password, "pw");
  EXPECT_EQ(lab_->Snapshot(81)->last_image->size, 3000u);

  UpgradeWindow other(config_, 1, session_, prompter_, PromptedPasswordRunner(prompter_));
  EXPECT_FALSE(other.Browse(image));
  EXPECT_FALSE(other.Browse(empty));
  EXPECT_FALSE(other.Browse(image + ".missing"));
  EXPECT_EQ(prompter_.texts(), (std::vector<std::string>{
                                   "Missing firmware file name!", "Firmware upgrade ok",
                                   "Download Timeout!", "Download fail (-6)!",
                                   "Can't open firmware file!"}));
  EXPECT_EQ(DownloadResultMessage(-12), "Invalid firmware format!");
  EXPECT_EQ(UpgradeVersionText(0x01230000), "1.23");
}

}  // namespace
}  // namespace zelin::portcheck
