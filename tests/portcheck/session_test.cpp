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
  EXPECT_EQ(table.records[0].name().substr(0, 6), "Bench ");
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

}  // namespace
}  // namespace zelin::portcheck
