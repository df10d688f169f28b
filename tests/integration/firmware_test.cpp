// Firmware download over the TCP session to emulated servers.

#include <cstdio>
#include <fstream>
#include <map>
#include <random>

#include "emulator/request_log.hpp"
#include "protocol/address.hpp"
#include "protocol/firmware.hpp"
#include "protocol/md5.hpp"
#include "tests/integration/lab_fixture.hpp"

namespace zelin::testing {
namespace {

class LabFirmwareTest : public LabTest {
 protected:
  void TearDown() override {
    LabTest::TearDown();
    for (const auto& p : files_) std::remove(p.c_str());
  }

  // A file of `size` seeded random bytes that starts with `prefix`.
  std::string Image(size_t size, std::vector<uint8_t> prefix = {}) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 rng(static_cast<uint32_t>(size));
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    std::copy_n(prefix.begin(), std::min(prefix.size(), size), bytes.begin());
    const std::string path = ::testing::TempDir() + "image_" + std::to_string(size) + "_" +
                             std::to_string(files_.size()) + ".rom";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    files_.push_back(path);
    digests_[path] = emulator::HexOf(Md5({Bytes(bytes)}));
    return path;
  }

  Status Download(const std::string& path) {
    progress_ = RecordingProgress{};
    return DownloadFirmware(*transport_, record_, path, 20, progress_);
  }

  void StartOne(emulator::ServerSpec desc) {
    StartLab({desc});
    OpenClient();
    record_ = Found(desc.serial);
    record_.password = desc.password;
  }

  ServerRecord record_;
  RecordingProgress progress_;
  std::vector<std::string> files_;
  std::map<std::string, std::string> digests_;
};

TEST_F(LabFirmwareTest, ImagesOfSeveralSizesArriveWholeWithTheirProgressSteps) {
  auto desc = Server(5, 10, "pw");
  desc.firmware_rule.min_size = 0;
  StartOne(desc);
  struct Case {
    size_t size;
    int steps;
  };
  // 2048 bytes are one piece and one step; 20000 bytes step after the pieces that
  // pass 2000, 4000, ... 18000 (the last piece reaches 20000 exactly, no step). An
  // empty image is never "ready" (see below).
  for (const Case c : {Case{2048, 1}, Case{20000, 9}, Case{1, 1}}) {
    SCOPED_TRACE(c.size);
    const std::string path = Image(c.size);
    ASSERT_EQ(Download(path), DownloadResult::kSuccess);
    EXPECT_EQ(progress_.shows, 1);
    EXPECT_EQ(progress_.steps, c.steps);
    EXPECT_EQ(progress_.closes, 1);
    ASSERT_EQ(progress_.texts.size(), 2u);
    EXPECT_EQ(progress_.texts[0],
              "Server Name : Server5 \n\nSerial No.: 5\n\nServer IP address : " +
                  AddressToText(block_.Address(10)) + " \n\n\tDownloading...");
    EXPECT_NE(progress_.texts[1].find("Server is upgrading, Please wait..."), std::string::npos);
    const auto st = lab_->Snapshot(5);
    ASSERT_TRUE(st->last_image);
    EXPECT_EQ(st->last_image->size, c.size);
    EXPECT_EQ(st->last_image->md5_hex, digests_[path]);
    EXPECT_TRUE(st->last_image->accepted);
    // The server restarts after an accepted image; wait until it answers again.
    ServerList probed;
    ASSERT_TRUE(ProbeAddressRetry(*transport_, probed, block_.Address(10), 1));
  }
  EXPECT_EQ(lab_->Snapshot(5)->upgrades, 3);
}

TEST_F(LabFirmwareTest, LoginFailures) {
  auto desc = Server(5, 10, "pw");
  StartOne(desc);
  const std::string path = Image(100);

  record_.password = "wrong";
  EXPECT_EQ(Download(path), DownloadResult::kLoginRefused);
  EXPECT_EQ(progress_.shows, 0);
  record_.password = std::string(17, 'p');
  EXPECT_EQ(Download(path), DownloadResult::kPasswordTooLong);
  record_.password = "pw";

  emulator::FaultSettings f;
  f.tcp_refuse_login = true;
  lab_->SetFaults(5, f);
  EXPECT_EQ(Download(path), DownloadResult::kLoginRefused);
  f = {};
  f.tcp_challenge = emulator::ChallengeFault::kSevenBytes;
  lab_->SetFaults(5, f);
  EXPECT_EQ(Download(path), DownloadResult::kNoChallengeOrReady);
  f.tcp_challenge = emulator::ChallengeFault::kWrongTag;
  lab_->SetFaults(5, f);
  EXPECT_EQ(Download(path), DownloadResult::kNoChallengeOrReady);
  EXPECT_EQ(progress_.shows, 0);
  EXPECT_FALSE(lab_->Snapshot(5)->last_image);

  lab_->SetFaults(5, {});
  EXPECT_EQ(Download(::testing::TempDir() + "no_such_image.rom"), DownloadResult::kFileFailed);
  EXPECT_EQ(Download(path), DownloadResult::kSuccess);

  // Nobody listens at .60.
  record_.set_ip_address(block_.Address(60));
  EXPECT_EQ(Download(path), DownloadResult::kConnectFailed);
}

TEST_F(LabFirmwareTest, RejectedImageIsNoVerdictAndTheServerKeepsItsFirmware) {
  auto desc = Server(5, 10);
  desc.firmware_rule.prefix = {'Z', 'F', 'W'};
  desc.firmware_rule.reject_status = 0x02;
  StartOne(desc);
  EXPECT_EQ(Download(Image(5000, {'X', 'F', 'W'})), DownloadResult::kNoVerdict);
  EXPECT_EQ(progress_.closes, 1);
  auto st = lab_->Snapshot(5);
  ASSERT_TRUE(st->last_image);
  EXPECT_FALSE(st->last_image->accepted);
  EXPECT_EQ(st->upgrades, 0);
  EXPECT_EQ(st->firmware, desc.firmware);

  // An empty image is announced with length 0, which the server answers "not ready".
  EXPECT_EQ(Download(Image(0)), DownloadResult::kNoChallengeOrReady);
  EXPECT_EQ(progress_.shows, 0);
  EXPECT_EQ(lab_->Snapshot(5)->last_image->size, 5000u);

  EXPECT_EQ(Download(Image(5000, {'Z', 'F', 'W'})), DownloadResult::kSuccess);
  EXPECT_EQ(lab_->Snapshot(5)->firmware, desc.firmware + 1);
}

}  // namespace
}  // namespace zelin::testing
