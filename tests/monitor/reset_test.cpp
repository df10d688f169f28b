// Reset Server and Reset Port against the emulator, while the polling runs.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "monitor/core/reset_session.hpp"
#include "protocol/socket_address.hpp"
#include "tests/monitor/monitor_fixture.hpp"
#include "protocol/address.hpp"
#include "tests/monitor/poll_fixture.hpp"
#include "tests/support/scripted_prompter.hpp"

namespace zelin::testing {
namespace {

TEST_F(PollTest, ResetCommandsLogInSendTheTargetAndReport) {
  clock_.divisor = 1;  // real waits: the session's steps are not timed out under load
  emulator::ServerSpec lab_server;
  lab_server.type = 771;
  lab_server.serial = 1;
  lab_server.ip = block_.Address(10);
  lab_server.password = "pw";
  emulator::ServerSpec other = lab_server;
  other.serial = 4;
  other.ip = block_.Address(13);
  StartLab({lab_server, other});
  Watch(1, 10, 16, 0x0007);
  Watch(9, 13, 16, 0x0001);  // in conflict: no record with its serial number
  ASSERT_TRUE(Poller().StartMonitoring());

  ScriptedPrompter prompter;
  monitor::ResetCommands reset(list_, prompter, clock_, notices_, block_.ClientOptions());
  const auto& server = config_->servers[0];
  using monitor::ResetKind;

  EXPECT_EQ(reset.Run(ResetKind::kPort, nullptr, 0), std::nullopt);
  prompter.QueuePassword(std::nullopt);  // Cancel
  EXPECT_EQ(reset.Run(ResetKind::kPort, &server, 2), std::nullopt);
  prompter.QueuePassword("wrong");
  EXPECT_EQ(reset.Run(ResetKind::kServer, &server, 0), monitor::kResetLoginRefused);
  prompter.QueuePassword("pw");
  EXPECT_EQ(reset.Run(ResetKind::kPort, &server, 2), monitor::kResetAcknowledged);
  prompter.QueuePassword("pw");
  EXPECT_EQ(reset.Run(ResetKind::kPort, &config_->servers[1], 0), std::nullopt);
  EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"Please select a item!",
                                                        "Password check fail!",
                                                        "Reset serial ports of Zelin Server complete!"}));
  EXPECT_EQ(prompter.password_prompts().front(),
            "Reset the port 3 of Zelin Server Server 1 ( " + AddressToText(block_.Address(10)) +
                " )\n\nThe function may cause temporary data loss on this port.");
  EXPECT_EQ(lab_->Snapshot(1)->traffic.port_resets[2], 1);
  bool sent_port_3 = false;
  for (const auto& e : lab_->Log())
    sent_port_3 = sent_port_3 || (e.proto == "tcp" && e.hex == "0203");
  EXPECT_TRUE(sent_port_3);

  // A server that restarts without acknowledging: still complete.
  lab_->Modify(1, [](emulator::DeviceState& s) { s.port_status.reset_ack = false; });
  prompter.Clear();
  prompter.QueuePassword("pw");
  EXPECT_EQ(reset.Run(ResetKind::kServer, &server, 0), monitor::kResetSent);
  EXPECT_EQ(prompter.texts(), (std::vector<std::string>{"Reset Zelin Server complete"}));
  EXPECT_EQ(lab_->Snapshot(1)->restarts, 1);
}

// A server that accepts the login and drops the connection at once (a reset, not an
// orderly close): the command that follows cannot be sent.
TEST(ResetCommand, NotSentIsReportedAsFailed) {
  LoopbackBlock block;
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in at = SocketAddress(block.Address(10), wire::kServerTcpPort);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  constexpr int kAttempts = 30;
  std::thread server([listener] {
    for (int i = 0; i < kAttempts; ++i) {
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) return;
      uint8_t in[32];
      const uint8_t challenge[] = {wire::kTcpLoginRequest, wire::kTcpChallengeTag, 1, 2, 3, 4};
      const uint8_t accepted[] = {wire::kTcpLoginResultTag, wire::kTcpLoginAccepted};
      if (::recv(fd, in, 1, 0) == 1 && ::send(fd, challenge, sizeof challenge, 0) > 0 &&
          ::recv(fd, in, wire::kTcpLoginAnswerSize, MSG_WAITALL) > 0)
        ::send(fd, accepted, sizeof accepted, 0);
      const linger reset{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
      ::close(fd);
    }
  });

  ServerList list;
  list.records[0] = monitor::testing::FoundServer(5, 771, block.Address(10), "Pier");
  list.count = 1;
  monitor::MonitoredServer watched;
  watched.serial_number = 5;
  watched.ip_address = block.Address(10);
  ScriptedPrompter prompter;
  RealClock clock;
  ConsoleNotices notices{true};
  monitor::ResetCommands reset(list, prompter, clock, notices, block.ClientOptions());
  // The reset reaches the client before the command nearly always; when the command
  // still went out first, the server's silence is the plain "sent" case.
  int not_sent = 0;
  for (int i = 0; i < kAttempts; ++i) {
    prompter.Clear();
    prompter.QueuePassword("");
    const int result = reset.Run(monitor::ResetKind::kPort, &watched, 0).value_or(99);
    if (result == monitor::kResetSent) continue;
    EXPECT_EQ(result, monitor::kResetNotSent);
    EXPECT_EQ(prompter.texts(),
              (std::vector<std::string>{"Fail to reset serial ports of Zelin Server!"}));
    ++not_sent;
  }
  ::shutdown(listener, SHUT_RDWR);
  ::close(listener);
  server.join();
  EXPECT_GT(not_sent, 0);
}

}  // namespace
}  // namespace zelin::testing
