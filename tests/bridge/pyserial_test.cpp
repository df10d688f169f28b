// pyserial as a peer we did not write: its rfc2217:// client against devsim's serial
// ports, and its RFC 2217 server side (serial.rfc2217.PortManager over a pty pair,
// tests/bridge/pyserial_peer.py) as a server for the bridge.
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "emulator/lab.hpp"
#include "protocol/address.hpp"
#include "tests/bridge/bridge_util.hpp"
#include "tests/emulator/raw_peer.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/spawn.hpp"

namespace zelin::testing {
namespace {

class PyserialTest : public BridgeFixture {
 protected:
  void SetUp() override {
    if (!PythonHasModule("serial.rfc2217"))
      GTEST_SKIP() << "python3-serial not installed (scripts/setup.sh --interop)";
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  pid_t pid_ = -1;
};

// pyserial's client sets a devsim port and gets its bytes back through the port's
// loopback plug.
TEST_F(PyserialTest, ClientSetsADevsimPortAndEchoes) {
  auto s = ServerAt(server_ip_, 1201, 9480);
  auto lab = StartedLab(BlockLab(block_, {s}), clock_);
  const std::string url = "rfc2217://" + AddressToText(server_ip_) + ":4001";
  const std::string script =
      "import serial, sys\n"
      "s = serial.serial_for_url('" + url + "', baudrate=57600, stopbits=2, timeout=10)\n"
      "s.write(b'through devsim')\n"
      "got = s.read(14)\n"
      "s.close()\n"
      "sys.exit(0 if got == b'through devsim' else 1)\n";
  pid_ = Spawn({kPython, "-c", script});
  ASSERT_GT(pid_, 0);
  int status = -1;
  ASSERT_EQ(::waitpid(pid_, &status, 0), pid_);
  pid_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const auto settings = lab->PortSettings(1201, 1);
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->baud, 57600u);
  EXPECT_EQ(settings->stop, rfc2217::StopBits::Two);
}

// pyserial's server side serves the bridge: the program's settings land on its pty
// (speed, two stop bits, RTS/CTS) and bytes come back through its loopback plug.
TEST_F(PyserialTest, PortManagerServesTheBridge) {
  const auto report = dir_ / "peer.txt";
  pid_ = Spawn({kPython, PYSERIAL_PEER_PATH, AddressToText(server_ip_), report.string()});
  ASSERT_GT(pid_, 0);
  std::string port;
  for (int i = 0; i < 1500 && port.empty(); ++i) {  // up to 30 s
    std::ifstream in(report);
    std::getline(in, port);
    if (port.empty()) ::usleep(20000);
  }
  ASSERT_FALSE(port.empty());
  WriteConfig("[defaults]\nmode = rfc2217\ndata_port_base = " + port + "\n");
  SaveStore({Server({{0, 4}})});
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM4"));
  const int fd = OpenDevice(options_.dir / "COM4");
  ASSERT_NO_FATAL_FAILURE(SetLine(fd, B38400, CSTOPB | CRTSCTS));
  const std::vector<uint8_t> out = Pattern(20000, 0xF7);  // 0xFF bytes included
  const std::vector<uint8_t> back = Exchange(*bridge_, fd, out, out.size());
  EXPECT_TRUE(back == out) << back.size() << " bytes back, first difference at "
                           << (std::mismatch(back.begin(), back.end(), out.begin(), out.end()).first -
                               back.begin());
  std::string last;
  ASSERT_TRUE(bridge_->RunUntil(
      [&] {
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);) last = line;
        return last == "38400 cstopb=1 crtscts=1";
      },
      60000))
      << last;
  ::close(fd);
}

}  // namespace
}  // namespace zelin::testing
