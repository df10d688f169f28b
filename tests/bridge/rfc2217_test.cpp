// rfc2217 mode against a Telnet serial-port server on loopback: the program's termios
// reaching the server as COM-PORT commands, payload with 0xFF bytes, and hostile
// streams from the server side.
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "tests/bridge/bridge_util.hpp"

namespace zelin::testing {
namespace {

using rfc2217::ComCommand;
using rfc2217::ComEvent;
using bridge::LinkState;

// The value of the last command `c` the server received (empty when none).
std::vector<uint8_t> Last(const std::vector<ComEvent>& events, ComCommand c,
                          bool flow = false) {
  std::vector<uint8_t> value;
  for (const auto& e : events)
    if (e.command == c && (!flow || (e.value.size() == 1 && e.value[0] <= 3))) value = e.value;
  return value;
}

class Rfc2217Test : public BridgeFixture {
 protected:
  void SetUp() override {
    WriteConfig("[server 1201]\nmode = rfc2217\ndata_port_base = 4101\n"
                "data_bits = 7\nparity = even\n");
    SaveStore({Server({{0, 7}})});
  }
};

TEST_F(Rfc2217Test, ProgramSettingsReachTheServerAndPayloadKeepsEveryByte) {
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  const int fd = OpenDevice(options_.dir / "COM7");
  const std::vector<uint8_t> out = Pattern(70000, 0xF0);  // every byte value, 0xFF included
  EXPECT_EQ(Exchange(*bridge_, fd, out, out.size()), out);
  // The whole set went out once the server agreed: the pty's 9600 1 stop bit, and the
  // character size and parity of the settings file (a pty keeps neither).
  auto events = server.Commands();
  EXPECT_EQ(Last(events, ComCommand::SetBaudRate), (std::vector<uint8_t>{0, 0, 0x25, 0x80}));
  EXPECT_EQ(Last(events, ComCommand::SetDataSize), std::vector<uint8_t>{7});
  EXPECT_EQ(Last(events, ComCommand::SetParity), std::vector<uint8_t>{3});  // even
  EXPECT_EQ(Last(events, ComCommand::SetStopSize), std::vector<uint8_t>{1});

  termios t{};
  ASSERT_NO_FATAL_FAILURE(SetLine(fd, B115200, CSTOPB | CRTSCTS, 0, &t));
  // Data written after the change follows the commands.
  EXPECT_EQ(Exchange(*bridge_, fd, {'x'}, 1), std::vector<uint8_t>{'x'});
  events = server.Commands();
  EXPECT_EQ(Last(events, ComCommand::SetBaudRate), (std::vector<uint8_t>{0, 1, 0xC2, 0x00}));
  EXPECT_EQ(Last(events, ComCommand::SetStopSize), std::vector<uint8_t>{2});
  EXPECT_EQ(Last(events, ComCommand::SetControl, true), std::vector<uint8_t>{3});  // RTS/CTS

  // Speed 0 hangs up: DTR off.
  cfsetospeed(&t, B0);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
  ASSERT_TRUE(bridge_->RunUntil(
      [&] {
        const auto e = server.Commands();
        return !e.empty() && e.back().command == ComCommand::SetControl &&
               e.back().value == std::vector<uint8_t>{rfc2217::control::kDtrOff};
      },
      60000));
  ::close(fd);
}

// Random and truncated Telnet streams from the server never overrun the port: whatever
// reaches the program is at most what was sent, and after the connection is cut in the
// middle of a command the port carries data again.
TEST_F(Rfc2217Test, HostileServerStreamsLeaveThePortWorking) {
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  const int fd = OpenDevice(options_.dir / "COM7");
  std::mt19937 rng(2217);
  constexpr std::array<uint8_t, 8> kTelnet{255, 255, 250, 240, 44, 251, 253, 106};
  size_t sent = 0, delivered = 0;
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> junk(1 + rng() % 600);
    for (auto& b : junk)
      b = rng() % 3 == 0 ? kTelnet[rng() % kTelnet.size()] : static_cast<uint8_t>(rng());
    if (round % 10 == 9) junk = {255, 250, 44, 101, 0, 0};  // a command cut short
    sent += junk.size();
    server.Inject(junk);
    delivered += Exchange(*bridge_, fd, {}, 0).size();
    bridge_->RunFor(20);
  }
  delivered += Exchange(*bridge_, fd, {}, 0).size();
  EXPECT_LE(delivered, sent);

  server.Close();  // the stream ends inside a subnegotiation
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->state != LinkState::kConnected; },
                                60000));
  server.Listen();
  ASSERT_TRUE(WaitConnected("COM7"));
  // Bytes of the old connection may still be on their way to the program: take them first.
  bridge_->RunFor(50);
  Exchange(*bridge_, fd, {}, 0);
  EXPECT_EQ(Exchange(*bridge_, fd, Pattern(500, 9), 500), Pattern(500, 9));
  ::close(fd);
}

}  // namespace
}  // namespace zelin::testing
