// The bridge against devsim's serial ports (a loopback plug on each port) and, where
// ser2net and socat are installed, as ser2net's client.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "emulator/lab.hpp"
#include "tests/bridge/bridge_util.hpp"
#include "tests/emulator/raw_peer.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/ser2net_fixture.hpp"

namespace zelin::testing {
namespace {

using bridge::LinkState;

class DevsimBridgeTest : public BridgeFixture {
 protected:
  void SetUp() override {
    auto s = ServerAt(server_ip_, 1201, 9480);
    s.name = "Line";
    lab_ = StartedLab(BlockLab(block_, {s}), clock_);
    SaveStore({Server({{0, 5}})});  // port 1: devsim's 4001, RFC 2217 by default
  }
  // Hex values of the lab's logged SET-BAUDRATE commands, in order.
  std::vector<std::string> BaudCommands() const {
    std::vector<std::string> out;
    for (const auto& e : lab_->Log())
      if (e.proto == "serial" && e.code == static_cast<int>(rfc2217::ComCommand::SetBaudRate))
        out.push_back(e.hex);
    return out;
  }
  std::unique_ptr<emulator::Lab> lab_;
};

TEST_F(DevsimBridgeTest, SettingsAndBytesReachTheLabAndSurviveARestart) {
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM5"));
  const int fd = OpenDevice(options_.dir / "COM5");
  EXPECT_EQ(Exchange(*bridge_, fd, Pattern(40000, 5), 40000), Pattern(40000, 5));

  ASSERT_NO_FATAL_FAILURE(SetLine(fd, B57600, CSTOPB));
  auto settled = [&] {
    const auto s = lab_->PortSettings(1201, 1);
    return s && s->baud == 57600 && s->stop == rfc2217::StopBits::Two;
  };
  ASSERT_TRUE(bridge_->RunUntil(settled, 60000));
  EXPECT_EQ(BaudCommands().back(), "0000e100");  // the request log has the command

  // A restart in the middle of a transfer: the settings go back to the lab's defaults,
  // the bridge reconnects on the same device and sets them again.
  const std::vector<uint8_t> lost_or_not = Pattern(4000, 6);
  EXPECT_EQ(::write(fd, lost_or_not.data(), 2000), 2000);
  ASSERT_TRUE(lab_->Restart(1201));
  EXPECT_EQ(::write(fd, lost_or_not.data() + 2000, 2000), 2000);
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM5")->state != LinkState::kConnected; },
                                60000));
  ASSERT_TRUE(WaitConnected("COM5"));
  ASSERT_TRUE(bridge_->RunUntil(settled, 60000));
  Exchange(*bridge_, fd, {}, 0);  // whatever came back of the cut transfer
  bridge_->RunFor(300);
  Exchange(*bridge_, fd, {}, 0);
  EXPECT_EQ(Exchange(*bridge_, fd, Pattern(3000, 7), 3000), Pattern(3000, 7));
  ::close(fd);
}

// ser2net serves a socat pty; the far end of that cable is line_path(). Each test starts
// with the bridge connected to it as COM8 over RFC 2217, the program's device open as `fd`
// and the far end of the cable as `line`.
class Ser2netBridgeTest : public BridgeFixture {
 protected:
  void SetUp() override {
    if (const auto why = Ser2netFixture::Missing(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(s2n.Start({.rfc2217 = true, .line = "9600n81", .address = server_ip_}, &error))
        << error;
    WriteConfig("[server 1201]\nmode = rfc2217\ndata_port_base = " + std::to_string(s2n.port()) +
                "\n");
    SaveStore({Server({{0, 8}})});
    StartBridge();
    ASSERT_TRUE(WaitConnected("COM8"));
    fd = OpenDevice(options_.dir / "COM8");
    line = OpenDevice(s2n.line_path());
  }
  void TearDown() override {
    if (line >= 0) ::close(line);
    if (fd >= 0) ::close(fd);
  }

  Ser2netFixture s2n;
  std::string error;
  int fd = -1;
  int line = -1;
};

TEST_F(Ser2netBridgeTest, BridgeAsClientCarriesBytesAndSetsTheSpeed) {
  // The bridge's device to the far end, and back.
  const std::vector<uint8_t> there = Pattern(3000, 1), back = Pattern(2000, 2);
  std::vector<uint8_t> at_line;
  EXPECT_TRUE(Exchange(*bridge_, fd, there, 0).empty());
  bridge_->RunUntil(
      [&] {
        uint8_t buf[1024];
        for (ssize_t n; (n = ::read(line, buf, sizeof buf)) > 0;)
          at_line.insert(at_line.end(), buf, buf + n);
        return at_line.size() >= there.size();
      },
      120000);
  EXPECT_EQ(at_line, there);
  ASSERT_EQ(::write(line, back.data(), back.size()), static_cast<ssize_t>(back.size()));
  EXPECT_EQ(Exchange(*bridge_, fd, {}, back.size()), back);

  ASSERT_NO_FATAL_FAILURE(SetLine(fd, B19200));
  ASSERT_TRUE(bridge_->RunUntil(
      [&] { return s2n.DeviceStty().find("speed 19200") != std::string::npos; }, 60000))
      << s2n.DeviceStty();
}

// A ser2net restart in the middle of a program's transfer: what the program writes
// during the outage reaches the far end in order, and ser2net's device has the
// program's settings (19200, two stop bits, RTS/CTS) before the first of those bytes.
TEST_F(Ser2netBridgeTest, RestartKeepsEveryByteAndSettingsComeFirst) {
  ASSERT_NO_FATAL_FAILURE(SetLine(fd, B19200, CSTOPB | CRTSCTS));
  auto applied = [](const std::string& stty) {
    return stty.find("speed 19200") != std::string::npos &&
           stty.find(" cstopb") != std::string::npos && stty.find(" crtscts") != std::string::npos;
  };
  std::vector<uint8_t> at_line;
  auto read_line = [&] {
    uint8_t buf[4096];
    for (ssize_t n; (n = ::read(line, buf, sizeof buf)) > 0;) at_line.insert(at_line.end(), buf, buf + n);
  };
  const std::vector<uint8_t> before = Pattern(20000, 1), during = Pattern(40000, 2);
  Exchange(*bridge_, fd, before, 0);
  ASSERT_TRUE(bridge_->RunUntil([&] { read_line(); return at_line.size() >= before.size(); },
                                120000));
  EXPECT_TRUE(applied(s2n.DeviceStty())) << s2n.DeviceStty();

  s2n.StopServer();
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM8")->state == LinkState::kRetrying; },
                                60000));
  Exchange(*bridge_, fd, during, 0);  // kept by the bridge meanwhile
  ASSERT_TRUE(s2n.StartSer2net(&error)) << error;
  // The moment the first byte of the outage shows at the far end, the device is set.
  std::string stty_at_first;
  ASSERT_TRUE(bridge_->RunUntil(
      [&] {
        read_line();
        if (stty_at_first.empty() && at_line.size() > before.size())
          stty_at_first = s2n.DeviceStty();
        return at_line.size() >= before.size() + during.size();
      },
      120000));
  EXPECT_TRUE(applied(stty_at_first)) << stty_at_first;
  std::vector<uint8_t> all = before;
  all.insert(all.end(), during.begin(), during.end());
  EXPECT_EQ(at_line, all);
}

}  // namespace
}  // namespace zelin::testing
