// The diagnostic session against an in-process lab on the test's own loopback block.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/notices.hpp"
#include "portcheck/core/session.hpp"
#include "protocol/address.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::portcheck {
namespace {

using testing::LoopbackBlock;
using testing::ScriptedPrompter;

class SessionTest : public ::testing::Test {
 protected:
  emulator::ServerSpec Server(uint16_t serial, uint8_t host, std::string password = "") {
    emulator::ServerSpec s;
    s.type = 9476;
    s.serial = serial;
    s.name = "Bench " + std::to_string(serial);
    s.ip = block_.Address(host);
    s.password = std::move(password);
    return s;
  }
  emulator::Lab& Start(std::vector<emulator::ServerSpec> servers) {
    emulator::LabSpec desc = testing::BlockLab(block_, std::move(servers));
    desc.restart_ms = 50;
    lab_ = testing::StartedLab(std::move(desc), clock_);
    return *lab_;
  }

  ScaledClock clock_{20};
  ScriptedPrompter prompter_;
  PrompterNotices notices_{prompter_};
  LoopbackBlock block_;
  std::unique_ptr<emulator::Lab> lab_;
  HostInterfaces interfaces_{clock_, notices_, block_.ClientOptions()};
  DiagSession session_{clock_, notices_, block_.ClientOptions()};
};

TEST_F(SessionTest, SearchesFromPort5124AndRemembersTheInterface) {
  Start({Server(11, 10), Server(12, 11)});
  ASSERT_TRUE(interfaces_.Open());
  EXPECT_TRUE(interfaces_.Open().Is(SessionError::kAlreadyOpen));
  EXPECT_EQ(interfaces_.local_port(0) % 4096, kFirstLocalPort % 4096);

  SearchTable table;
  interfaces_.BroadcastSearch(table, 1);
  ASSERT_EQ(table.count, 2);
  EXPECT_EQ(table.records[0].interface_address, block_.Interface());
  EXPECT_EQ(table.records[0].name(), "Bench 11");
  EXPECT_EQ(interfaces_.known_servers(0).size(), 2u);

  auto one = interfaces_.UnicastSearch(block_.Address(11), 1);
  ASSERT_TRUE(one.ok()) << one.status();
  EXPECT_EQ(one->serial_number(), 12);
  EXPECT_FALSE(interfaces_.UnicastSearch(block_.Address(99), 1).ok());
  interfaces_.Close();
  EXPECT_FALSE(interfaces_.UnicastSearch(block_.Address(11), 1).ok());
}

TEST_F(SessionTest, RefusedPasswordGoesThroughTheDialog) {
  Start({Server(21, 10, "right")});
  std::string stored = "wrong";
  ASSERT_TRUE(session_.Open(block_.Address(10)));
  prompter_.QueuePassword("also wrong");
  prompter_.QueuePassword("right");
  const Status login = LoginWithPrompt(session_, {block_.Address(10), "Bench 21", &stored},
                                       prompter_, PromptedPasswordRunner(prompter_));
  EXPECT_TRUE(login.ok()) << login;
  EXPECT_EQ(stored, "right");
  EXPECT_TRUE(session_.is_open());
  ASSERT_EQ(prompter_.texts().size(), 1u);
  EXPECT_EQ(prompter_.texts()[0], "Zelin Server " + AddressToText(block_.Address(10)) +
                                      " (Bench 21)\n          Password check fail!");
  // A cancelled dialog leaves a fresh session for the caller to close, and the refusal.
  ASSERT_TRUE(session_.Open(block_.Address(10)));
  stored = "wrong";
  prompter_.QueuePassword(std::nullopt);
  EXPECT_TRUE(LoginWithPrompt(session_, {block_.Address(10), "Bench 21", &stored}, prompter_,
                              PromptedPasswordRunner(prompter_))
                  .Is(LoginResult::kRefused));
  EXPECT_TRUE(session_.is_open());
}

TEST_F(SessionTest, PortStatusAndTheReportStreamOfTheTestPlan) {
  emulator::ServerSpec s = Server(31, 10);
  s.diag.pairs = {{0, 1}};
  s.diag.open_ports = 0x0005;
  s.diag.failures = {{wire::kItemExternal, wire::kSubRtsCts, 0, 32}};
  Start({s});
  ASSERT_TRUE(session_.Open(block_.Address(10)));
  ASSERT_TRUE(session_.SessionLogin(""));
  auto words = session_.GetPortStatus();
  ASSERT_TRUE(words.ok()) << words.status();
  EXPECT_EQ((*words)[0], 0u);
  EXPECT_EQ((*words)[1], wire::kPortClosed);
  EXPECT_EQ((*words)[2], 0u);

  // Internal test of ports 1-3, Tx/Rx and RTS/CTS between the wired ports 1 and 2.
  ASSERT_TRUE(session_.SendDiagnose(
      {wire::kTestInternal | wire::kTestTxRx | wire::kTestRtsCts, 0x0007, 9600, 3}));
  std::vector<ProgressReport> results;
  for (int polls = 0; polls < 200; ++polls) {
    auto report = session_.ReceiveProgressReport();
    if (!report.ok()) {
      ASSERT_TRUE(report.status().Is(SessionError::kNoReply)) << report.status();
      continue;
    }
    if (report->finished()) break;
    if (report->has_result()) results.push_back(*report);
  }
  ASSERT_EQ(results.size(), 3u + 3u + 1u);  // 3 internal; pair 1-2: find, Tx/Rx, RTS/CTS; port 3 alone
  EXPECT_EQ(results[3], ProgressReport::Make(wire::kItemExternal, wire::kSubFindPair, true, 0, 0, 1));
  EXPECT_EQ(results[5], ProgressReport::Make(wire::kItemExternal, wire::kSubRtsCts, true, 32, 0, 1));
  EXPECT_EQ(results[6].port_b(), wire::kNoPartner);
  EXPECT_EQ(results[6].result(), 9);
}

// A server that stops reporting keeps the worker waiting until another thread raises
// the AbortFlag; the wait then ends within one poll.
TEST_F(SessionTest, AbortEndsTheWaitForASilentServer) {
  emulator::ServerSpec s = Server(32, 10);
  s.diag.stop_after = 2;
  Start({s});
  ASSERT_TRUE(session_.Open(block_.Address(10)));
  ASSERT_TRUE(session_.SessionLogin(""));
  ASSERT_TRUE(session_.SendDiagnose({wire::kTestInternal, 0x0001, 9600, 3}));
  int reports = 0;
  while (reports < 2)
    if (session_.ReceiveProgressReport().ok()) ++reports;
  std::thread cancel([&] { session_.RaiseAbort(); });
  Status last;
  while ((last = session_.ReceiveProgressReport().status()).Is(SessionError::kNoReply)) {
  }
  cancel.join();
  EXPECT_TRUE(last.Is(SessionError::kAborted)) << last;
  // Open clears the flag.
  ASSERT_TRUE(session_.Open(block_.Address(10)));
  EXPECT_FALSE(session_.abort_raised());
}

TEST_F(SessionTest, DownloadVerdicts) {
  emulator::ServerSpec ok = Server(41, 10), bad = Server(42, 11), slow = Server(43, 12);
  bad.firmware_rule.prefix = {0x5A};
  bad.firmware_rule.reject_status = wire::kTcpDownloadInvalidFormat;
  slow.firmware_rule.prefix = {0x5A};
  slow.firmware_rule.reject_status = wire::kTcpDownloadServerTimeout;
  Start({ok, bad, slow});
  const std::string image = ::testing::TempDir() + "/portcheck_image.rom";
  const std::string empty = ::testing::TempDir() + "/portcheck_empty.rom";
  std::ofstream(image, std::ios::binary) << std::string(5000, 'x');
  std::ofstream(empty, std::ios::binary).flush();
  auto download = [&](uint8_t host, const std::string& path) {
    EXPECT_TRUE(session_.Open(block_.Address(host)));
    EXPECT_TRUE(session_.SessionLogin(""));
    Status result = session_.FirmwareDownload(path, 30);
    session_.Close();
    return result;
  };
  EXPECT_TRUE(download(10, image).ok());
  EXPECT_EQ(lab_->Snapshot(41)->last_image->size, 5000u);  // three paced pieces, whole
  EXPECT_EQ(download(11, image), DiagDownloadResult::kInvalidFormat);
  EXPECT_EQ(download(12, image), DiagDownloadResult::kServerTimeout);
  EXPECT_EQ(download(10, empty), DiagDownloadResult::kNotReady);  // announced as 0 bytes
  EXPECT_EQ(download(10, image + ".missing"), DiagDownloadResult::kFileFailed);
}

TEST_F(SessionTest, CancelEndsTheSearchAttempts) {
  Start({Server(51, 10)});
  ASSERT_TRUE(interfaces_.Open());
  std::atomic<bool> cancel{true};
  // The first attempt always runs; the cancel is seen before the second.
  auto found = interfaces_.SearchWithRetries(block_.Address(77), cancel);
  EXPECT_TRUE(found.status().Is(SessionError::kCancelled)) << found.status();
  cancel = false;
  EXPECT_EQ(interfaces_.SearchWithRetries(block_.Address(10), cancel)->serial_number(), 51);
}

}  // namespace
}  // namespace zelin::portcheck
