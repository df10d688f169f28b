// Reset Server and Reset Port against the emulator, while the polling runs.

#include "monitor/core/reset_session.hpp"
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

}  // namespace
}  // namespace zelin::testing
