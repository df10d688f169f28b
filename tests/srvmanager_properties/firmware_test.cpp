// Upgrade Firmware against the emulated lab: the progress window model through a
// whole download, a failing upgrade, and a cancelled file choice.
#include <gtest/gtest.h>

#include <fstream>

#include "srvmanager/properties/core/firmware_upgrade.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "tests/srvmanager_properties/lab_fixture.hpp"

namespace zelin::manager::testing {
namespace {

class ChooserStub final : public FirmwareFileChooser {
 public:
  std::optional<std::string> path;
  int asked = 0;
  std::optional<std::string> ChooseFirmwareFile() override {
    ++asked;
    return path;
  }
};

class UpgradeFirmwareTest : public LabTest {
 protected:
  std::string WriteImage(size_t size, uint8_t first = 0x5A) {
    const std::string path = ::testing::TempDir() + "props_fw_" +
                             std::to_string(reinterpret_cast<uintptr_t>(this)) + ".rom";
    std::ofstream f(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i) f.put(static_cast<char>(i == 0 ? first : i * 7));
    return path;
  }
  UpgradeFirmwareCommand::Result Run() {
    UpgradeFirmwareCommand command(*doc_host, chooser, progress);
    return command.Run(doc->server_tree().selected_server(), doc->server_tree().selected_found());
  }
  bool AnyTcp() const {
    for (const auto& e : lab->Log())
      if (e.proto == "tcp") return true;
    return false;
  }
  ChooserStub chooser;
  UpgradeProgress progress;
};

TEST_F(UpgradeFirmwareTest, OneBlockImageStepsOnceAndReportsSuccess) {
  StartLab({Server(10, 10)});
  Configure(10, 10, 9476, "Lab10");
  LoadDoc(kSingleHost);
  Select(10);
  EXPECT_EQ(progress.percent_text(), " 0 %");
  chooser.path = WriteImage(1000);
  EXPECT_EQ(Run(), UpgradeFirmwareCommand::Result::kUpgraded);
  EXPECT_EQ(progress.steps(), 1);
  EXPECT_EQ(progress.position(), 10);
  EXPECT_EQ(progress.percent_text(), "10%");
  EXPECT_EQ(progress.message(), UpgradingText("Lab10", 10, block.Address(10)));
  EXPECT_FALSE(progress.shown());
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{std::string(ManagerString(kStrUpgradeOk))});
  EXPECT_EQ(prompter.wait_depth(), 0);
  const auto state = lab->Snapshot(10);
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->upgrades, 1);
  ASSERT_TRUE(state->last_image.has_value());
  EXPECT_EQ(state->last_image->size, 1000u);
}

TEST_F(UpgradeFirmwareTest, RejectedImageShowsFailureAndLeavesTheModel) {
  emulator::ServerSpec s = Server(10, 10);
  s.password = "pw";
  s.firmware_rule.prefix = {0xAA, 0x55};
  StartLab({s});
  ServerConfig& c = Configure(10, 10, 9476, "Lab10");
  c.set_password("pw");
  LoadDoc(kSingleHost);
  Select(10);
  const ServerConfig entry = doc->tables().server(0);
  const ServerRecord record = Found(10);
  chooser.path = WriteImage(5000);
  EXPECT_EQ(Run(), UpgradeFirmwareCommand::Result::kFailed);
  EXPECT_EQ(prompter.texts(),
            std::vector<std::string>{std::string(ManagerString(kStrUpgradeFail))});
  EXPECT_FALSE(progress.shown());
  EXPECT_EQ(doc->tables().server(0), entry);
  EXPECT_EQ(Found(10).search_reply, record.search_reply);
  EXPECT_FALSE(doc->tables().modified());
  EXPECT_EQ(lab->Snapshot(10)->upgrades, 0);

  // A wrong password fails before any byte of the file is sent.
  doc->tables().server(0).set_password("nope");
  prompter.Clear();
  EXPECT_EQ(Run(), UpgradeFirmwareCommand::Result::kFailed);
  EXPECT_EQ(prompter.texts(),
            std::vector<std::string>{std::string(ManagerString(kStrUpgradeFail))});
}

TEST_F(UpgradeFirmwareTest, CancelledFileChoiceSendsNothing) {
  StartLab({Server(10, 10)});
  Configure(10, 10);
  LoadDoc(kSingleHost);
  Select(10);
  lab->ClearLog();
  EXPECT_EQ(Run(), UpgradeFirmwareCommand::Result::kCancelled);
  EXPECT_EQ(chooser.asked, 1);
  EXPECT_FALSE(AnyTcp());
  EXPECT_TRUE(prompter.texts().empty());

  // Without a found server the command does not even ask.
  doc->server_tree().SelectTreeItem(-1);
  EXPECT_EQ(Run(), UpgradeFirmwareCommand::Result::kNothing);
  EXPECT_EQ(chooser.asked, 1);
}

}  // namespace
}  // namespace zelin::manager::testing
