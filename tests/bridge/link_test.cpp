// What a serial port promises, through the bridge: settings before data after every
// connect and in the order written, exact speeds (termios2), what the server says back
// (suspend/resume, modem lines, a refused setting), a connection's end seen while the
// program reads nothing, bounded answers to a flooding server, a state file that is
// never written through a planted link, and reloads that leave unchanged connections.
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "bridge/core/bridge_error.hpp"
#include "protocol/socket_address.hpp"
#include "tests/bridge/bridge_util.hpp"
#include "tests/support/spawn.hpp"

extern char** environ;

namespace zelin::testing {
namespace {

using bridge::LinkState;
using rfc2217::ComCommand;
using rfc2217::ComEvent;

// Accepts connections on address:port and runs `serve(fd)` for each, on its own thread.
class ScriptedPeer {
 public:
  ScriptedPeer(Ipv4 address, uint16_t port, std::function<void(int)> serve)
      : serve_(std::move(serve)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1, small = 8192;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const sockaddr_in sa = SocketAddress(address, port);
    EXPECT_EQ(::bind(listener_, AsSockaddr(sa), sizeof sa), 0);
    EXPECT_EQ(::listen(listener_, 4), 0);
    thread_ = std::thread([this] {
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      serve_(fd);
      ::close(fd);
    });
  }
  ~ScriptedPeer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }

 private:
  int listener_ = -1;
  std::function<void(int)> serve_;
  std::thread thread_;
};

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class LinkTest : public BridgeFixture {
 protected:
  void SetUp() override {
    WriteConfig("[server 1201]\nmode = rfc2217\ndata_port_base = 4101\n");
    SaveStore({Server({{0, 7}})});
  }
  // Runs the bridge until the port holds `n` program bytes for the server.
  void WaitPending(size_t n) {
    ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->pending == n; }, 60000))
        << Port("COM7")->pending;
  }
  void SetSpeed(int fd, speed_t speed, bool two_stop) {
    SetLine(fd, speed, two_stop ? CSTOPB : 0, two_stop ? 0 : CSTOPB);
  }
};

// After a reconnect the whole set of settings reaches the server before any of the data
// written during the outage, and a change made between two writes of the outage goes
// out between them.
TEST_F(LinkTest, SettingsPrecedeDataAfterAReconnectAndKeepTheirPlace) {
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  const int fd = OpenDevice(options_.dir / "COM7");
  SetSpeed(fd, B19200, false);
  EXPECT_EQ(Exchange(*bridge_, fd, Pattern(1000, 1), 1000), Pattern(1000, 1));

  server.Close();
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->state == LinkState::kRetrying; },
                                60000));
  const std::vector<uint8_t> first = Pattern(30000, 2), second = Pattern(20000, 3);
  Exchange(*bridge_, fd, first, 0);
  WaitPending(first.size());
  SetSpeed(fd, B57600, true);
  Exchange(*bridge_, fd, second, 0);
  WaitPending(first.size() + second.size());

  server.Listen();
  ASSERT_TRUE(WaitConnected("COM7"));
  const std::vector<uint8_t> both = Cat(first, second);
  EXPECT_EQ(Exchange(*bridge_, fd, {}, both.size()), both);
  ::close(fd);

  const auto events = server.Commands();
  const auto at = server.CommandsAt();
  ASSERT_EQ(server.AcceptsAt().size(), 2u);
  const size_t start = server.AcceptsAt()[1];  // data before the second connection
  // Every command of the second connection, by its place in that connection's data.
  std::vector<std::pair<size_t, ComEvent>> second_conn;
  for (size_t i = 0; i < events.size(); ++i)
    if (at[i] >= start) second_conn.emplace_back(at[i] - start, events[i]);
  // Of the commands recorded at place 0 of the new connection, the last SET-BAUDRATE
  // before any data is the outage's first speed; 57600 and two stop bits at `first`.
  auto value_at = [&](ComCommand c, size_t place) {
    std::vector<uint8_t> v;
    for (const auto& [p, e] : second_conn)
      if (p == place && e.command == c) v = e.value;
    return v;
  };
  EXPECT_EQ(value_at(ComCommand::SetBaudRate, 0), (std::vector<uint8_t>{0, 0, 0x4B, 0x00}));
  EXPECT_EQ(value_at(ComCommand::SetStopSize, 0), std::vector<uint8_t>{1});
  EXPECT_EQ(value_at(ComCommand::SetBaudRate, first.size()),
            (std::vector<uint8_t>{0, 0, 0xE1, 0x00}));
  EXPECT_EQ(value_at(ComCommand::SetStopSize, first.size()), std::vector<uint8_t>{2});
  for (const auto& [p, e] : second_conn)
    EXPECT_TRUE(p == 0 || p == first.size()) << "command " << int(e.command) << " at " << p;
  // The notifications wanted are asked for with the settings.
  EXPECT_FALSE(value_at(ComCommand::SetModemStateMask, 0).empty());
}

// A server that never takes the settings option: after the time limit the data flows
// without settings and the status says why.
TEST_F(LinkTest, ServerWithoutTheOptionGetsDataAfterTheTimeLimit) {
  std::vector<uint8_t> got;
  auto silent = std::make_unique<ScriptedPeer>(server_ip_, 4101, [&](int fd) {
    uint8_t buf[4096];
    for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) got.insert(got.end(), buf, buf + n);
  });
  StartBridge();
  const int fd = OpenDevice(options_.dir / "COM7");
  Exchange(*bridge_, fd, {'d', 'a', 't', 'a'}, 0);
  ASSERT_TRUE(bridge_->RunUntil(
      [&] { return Port("COM7")->state == LinkState::kNegotiating; }, 60000));
  EXPECT_EQ(Port("COM7")->pending, 4u);  // held while the server may still agree
  ASSERT_TRUE(WaitConnected("COM7"));
  EXPECT_NE(Port("COM7")->note.find("without line settings"), std::string::npos);
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->pending == 0; }, 60000));
  bridge_->RunFor(100);
  bridge_.reset();  // closes the connection: the peer's read ends
  silent.reset();
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(std::string(got.end() - 4, got.end()), "data");
  ::close(fd);
}

// A speed set through termios2 (pyserial's custom rates) goes out exactly, before the
// data; a server that cannot take it answers with its own, and the status shows it.
TEST_F(LinkTest, CustomSpeedGoesOutExactlyAndARefusalShows) {
  if (!PythonHasModule("serial"))
    GTEST_SKIP() << "python3-serial not installed (scripts/setup.sh --interop)";
  EchoServer server(server_ip_, 4101, /*telnet=*/true, /*max_baud=*/115200);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  const std::string link = (options_.dir / "COM7").string();
  const std::string script = "import serial\ns = serial.Serial('" + link +
                             "', 250000, timeout=0)\ns.write(b'exact')\ns.flush()\ns.close()\n";
  pid_t pid = Spawn({kPython, "-c", script});
  ASSERT_GT(pid, 0);
  int status = -1;
  ASSERT_TRUE(bridge_->RunUntil(
      [&] {
        if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) pid = 0;
        return pid == 0 && server.Received().size() >= 5;
      },
      120000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const auto events = server.Commands();
  const auto at = server.CommandsAt();
  std::vector<uint8_t> last_baud;
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i].command == ComCommand::SetBaudRate && at[i] == 0) last_baud = events[i].value;
  EXPECT_EQ(last_baud, (std::vector<uint8_t>{0, 3, 0xD0, 0x90}));  // 250000, not 4096
  ASSERT_TRUE(bridge_->RunUntil(
      [&] { return !Port("COM7")->server.refused.empty(); }, 60000));
  EXPECT_EQ(Port("COM7")->server.refused, "baud rate 250000 refused (server has 115200)");
}

// FLOWCONTROL-SUSPEND stops the data until RESUME; the server's modem lines show.
TEST_F(LinkTest, SuspendHoldsDataUntilResumeAndModemLinesShow) {
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  const int fd = OpenDevice(options_.dir / "COM7");
  server.Inject({255, 250, 44, 107, 0xB0, 255, 240});  // NOTIFY-MODEMSTATE: CTS DSR CD
  server.Inject({255, 250, 44, 108, 255, 240});        // FLOWCONTROL-SUSPEND
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->server.suspended; }, 60000));
  EXPECT_EQ(bridge::DescribeModem(Port("COM7")->server), "cts=1 dsr=1 ri=0 cd=1");
  Exchange(*bridge_, fd, Pattern(500, 4), 0);
  WaitPending(500);
  bridge_->RunFor(300);
  EXPECT_EQ(Port("COM7")->pending, 500u);
  EXPECT_TRUE(server.Received().empty());
  server.Inject({255, 250, 44, 109, 255, 240});  // FLOWCONTROL-RESUME
  EXPECT_EQ(Exchange(*bridge_, fd, {}, 500), Pattern(500, 4));
  ::close(fd);
}

// The server sends a lot and closes while no program reads the device: the end is
// seen all the same and the port reconnects.
TEST_F(LinkTest, ServerEndIsSeenWhileTheDeviceIsFull) {
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  // More than the pty and the bridge hold, less than the socket buffers: the server's
  // FIN arrives behind it while the port reads nothing from the socket.
  server.Inject(Pattern(100 * 1024, 5));
  bridge_->RunFor(300);
  server.Close();
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->state != LinkState::kConnected; },
                                60000));
  EXPECT_EQ(Port("COM7")->last_error, "closed by the server");
}

// A server that floods option requests and reads nothing is dropped; the bridge's
// memory for it stays bounded.
TEST_F(LinkTest, FloodingServerIsDropped) {
  ScriptedPeer flood(server_ip_, 4101, [](int fd) {
    std::vector<uint8_t> burst;
    for (int i = 0; i < 4096; ++i) burst.insert(burst.end(), {255, 253, 99});  // DO 99
    while (::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) > 0) {
    }
  });
  StartBridge();
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->state == LinkState::kRetrying; },
                                120000));
  EXPECT_EQ(Port("COM7")->last_error, "the server sends requests without reading the answers");
}

// The state file is never written through a link planted at its temporary name, and
// the folder of the devices is refused when it is not the user's own.
TEST_F(LinkTest, StateFileAndFolderCannotBePlanted) {
  std::filesystem::create_directories(options_.dir);
  ::chmod(options_.dir.c_str(), 0700);
  WriteFileText(dir_ / "victim", "keep");
  std::filesystem::create_symlink(dir_ / "victim", options_.dir / "bridge-state.json.tmp");
  StartBridge();
  bridge_->RunFor(200);
  EXPECT_EQ(ReadFileText(dir_ / "victim"), "keep");
  EXPECT_TRUE(std::filesystem::is_regular_file(
      std::filesystem::symlink_status(options_.state)));
  bridge_.reset();

  const auto fresh = dir_ / "fresh" / "zelin-0";
  ASSERT_TRUE(bridge::PrepareRuntimeDir(fresh));
  EXPECT_EQ(std::filesystem::status(fresh).permissions(), std::filesystem::perms::owner_all);
  const auto other = dir_ / "other";
  std::filesystem::create_directories(other);
  ::chmod(other.c_str(), 0700);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(other.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(bridge::PrepareRuntimeDir(other).Is(bridge::BridgeError::kLink));
  }
  std::filesystem::create_symlink(fresh, dir_ / "planted");
  EXPECT_TRUE(bridge::PrepareRuntimeDir(dir_ / "planted").Is(bridge::BridgeError::kLink));
  ::chmod(fresh.c_str(), 0777);
  EXPECT_TRUE(bridge::PrepareRuntimeDir(fresh).Is(bridge::BridgeError::kLink));
}

// A reload that only renames the server (or changes "Transmission") keeps the
// connection; the state shows the new name.
TEST_F(LinkTest, RenameKeepsTheConnection) {
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  ServerConfig renamed = Server({{0, 7}});
  renamed.set_name("Renamed");
  renamed.port_options[0] |= kOptionClassical;
  SaveStore({renamed});
  ASSERT_TRUE(bridge_->RunUntil(
      [&] { return Port("COM7")->target.port.server_name == "Renamed"; }, 60000));
  EXPECT_TRUE(Port("COM7")->target.port.classical);
  bridge_->RunFor(500);
  EXPECT_EQ(server.accepted(), 1);
  EXPECT_EQ(Port("COM7")->state, LinkState::kConnected);
}

// The program's tcflush becomes PURGE-DATA (and drops what the bridge held of that
// direction); an administrator's DTR, RTS and BREAK reach the server through
// `zelinctl bridge signal` and the bridge's control socket.
TEST_F(LinkTest, FlushBecomesAPurgeAndSignalsReachTheServer) {
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  options_.control = options_.dir / "bridge.ctl";
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  const int fd = OpenDevice(options_.dir / "COM7");
  auto has = [&](ComCommand c, uint8_t value) {
    for (const auto& e : server.Commands())
      if (e.command == c && e.value == std::vector<uint8_t>{value}) return true;
    return false;
  };
  server.Inject({255, 250, 44, 108, 255, 240});  // FLOWCONTROL-SUSPEND: the data waits
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->server.suspended; }, 60000));
  Exchange(*bridge_, fd, Pattern(500, 6), 0);
  WaitPending(500);
  ASSERT_EQ(tcflush(fd, TCOFLUSH), 0);
  ASSERT_TRUE(bridge_->RunUntil([&] { return has(ComCommand::PurgeData, 2); }, 60000));
  EXPECT_EQ(Port("COM7")->pending, 0u);
  server.Inject({255, 250, 44, 109, 255, 240});  // FLOWCONTROL-RESUME
  EXPECT_EQ(Exchange(*bridge_, fd, {'a', 'f', 't', 'e', 'r'}, 5),
            (std::vector<uint8_t>{'a', 'f', 't', 'e', 'r'}));
  EXPECT_EQ(server.Received(), (std::vector<uint8_t>{'a', 'f', 't', 'e', 'r'}));
  ASSERT_EQ(tcflush(fd, TCIFLUSH), 0);
  ASSERT_TRUE(bridge_->RunUntil([&] { return has(ComCommand::PurgeData, 1); }, 60000));

  const pid_t pid = Spawn({ZELINCTL_PATH, "bridge", "signal", "COM7", "--dtr", "off", "--rts",
                           "on", "--break", "100", "--state", options_.state.string()});
  ASSERT_GT(pid, 0);
  int status = -1;
  ASSERT_TRUE(bridge_->RunUntil(
      [&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 120000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  namespace c = rfc2217::control;
  EXPECT_TRUE(has(ComCommand::SetControl, c::kDtrOff) || bridge_->RunUntil([&] {
    return has(ComCommand::SetControl, c::kDtrOff);
  }, 60000));
  EXPECT_TRUE(has(ComCommand::SetControl, c::kRtsOn));
  EXPECT_TRUE(has(ComCommand::SetControl, c::kBreakOn));
  EXPECT_TRUE(bridge_->RunUntil([&] { return has(ComCommand::SetControl, c::kBreakOff); }, 60000));
  ::close(fd);
}

// A 7E1 device and an 8N1 device on one server: character size and parity per port,
// and a change of them in the settings file goes out without a reconnect.
TEST_F(LinkTest, CharacterSizeAndParityPerPort) {
  WriteConfig("[server 1201]\nmode = rfc2217\ndata_port_base = 4101\n"
              "[port COM5]\ndata_bits = 7\nparity = even\n");
  SaveStore({Server({{0, 5}, {1, 6}})});
  EchoServer seven(server_ip_, 4101, /*telnet=*/true), eight(server_ip_, 4102, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM5") && WaitConnected("COM6"));
  auto last = [](EchoServer& s, ComCommand c) {
    std::vector<uint8_t> v;
    for (const auto& e : s.Commands())
      if (e.command == c) v = e.value;
    return v;
  };
  ASSERT_TRUE(bridge_->RunUntil(
      [&] {
        return !last(eight, ComCommand::SetParity).empty() &&
               !last(seven, ComCommand::SetParity).empty();
      },
      60000));
  EXPECT_EQ(last(seven, ComCommand::SetDataSize), std::vector<uint8_t>{7});
  EXPECT_EQ(last(seven, ComCommand::SetParity), std::vector<uint8_t>{3});
  EXPECT_EQ(last(eight, ComCommand::SetDataSize), std::vector<uint8_t>{8});
  EXPECT_EQ(last(eight, ComCommand::SetParity), std::vector<uint8_t>{1});

  WriteConfig("[server 1201]\nmode = rfc2217\ndata_port_base = 4101\n"
              "[port COM5]\ndata_bits = 8\n");
  ASSERT_TRUE(bridge_->RunUntil(
      [&] { return last(seven, ComCommand::SetDataSize) == std::vector<uint8_t>{8}; }, 60000));
  EXPECT_EQ(last(seven, ComCommand::SetParity), std::vector<uint8_t>{1});
  EXPECT_EQ(seven.accepted(), 1);
  EXPECT_EQ(eight.accepted(), 1);

  for (const char* bad : {"[port 3]\n", "[port COM0]\n", "[port COM5]\nmode = raw\n"})
    EXPECT_TRUE(bridge::ParseBridgeConfig(bad, "b.conf").status().Is(bridge::BridgeError::kConfig))
        << bad;
}

// connect = on_open: the server port is held only while a program has the device open;
// the last close delivers what was written, drops DTR and disconnects; the device keeps
// its settings for the next program.
TEST_F(LinkTest, OnOpenHoldsTheServerPortOnlyWhileUsed) {
  WriteConfig("[server 1201]\nmode = rfc2217\ndata_port_base = 4101\nconnect = on_open\n");
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  bridge_->RunFor(500);
  EXPECT_EQ(Port("COM7")->state, LinkState::kIdle);
  EXPECT_EQ(server.accepted(), 0);

  int fd = OpenDevice(options_.dir / "COM7");
  ASSERT_TRUE(WaitConnected("COM7"));
  SetSpeed(fd, B19200, false);
  EXPECT_EQ(Exchange(*bridge_, fd, {'o', 'n', 'e'}, 3), (std::vector<uint8_t>{'o', 'n', 'e'}));
  ASSERT_EQ(::write(fd, "bye", 3), 3);
  ::close(fd);
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM7")->state == LinkState::kIdle; }, 60000));
  // The bridge is idle once it has sent and closed; the server's thread reads after that.
  auto dtr_off_seen = [&] {
    const auto events = server.Commands();
    return !events.empty() && events.back().command == ComCommand::SetControl &&
           events.back().value == std::vector<uint8_t>{rfc2217::control::kDtrOff};
  };
  EXPECT_TRUE(bridge_->RunUntil(dtr_off_seen, 60000));
  EXPECT_EQ(server.Received(), (std::vector<uint8_t>{'o', 'n', 'e', 'b', 'y', 'e'}));
  const auto events = server.Commands();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().command, ComCommand::SetControl);
  EXPECT_EQ(events.back().value, std::vector<uint8_t>{rfc2217::control::kDtrOff});
  bridge_->RunFor(500);
  EXPECT_EQ(server.accepted(), 1);

  fd = OpenDevice(options_.dir / "COM7");
  ASSERT_TRUE(WaitConnected("COM7"));
  EXPECT_EQ(Exchange(*bridge_, fd, {'2'}, 1), std::vector<uint8_t>{'2'});
  EXPECT_EQ(server.accepted(), 2);
  std::vector<uint8_t> baud;
  for (const auto& e : server.Commands())
    if (e.command == ComCommand::SetBaudRate) baud = e.value;
  EXPECT_EQ(baud, (std::vector<uint8_t>{0, 0, 0x4B, 0x00}));  // 19200 kept by the device
  ::close(fd);
}

// A state file left by a bridge that no longer runs is not shown as live.
TEST(BridgeStatus, StateOfAStoppedBridgeIsToldApart) {
  TempDir dir;
  pid_t pid = 0;
  char true_path[] = "/bin/true";
  char* argv[] = {true_path, nullptr};
  ASSERT_EQ(::posix_spawn(&pid, true_path, nullptr, nullptr, argv, environ), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);  // a pid that is gone
  WriteFileText(dir / "state.json", "{\"pid\": " + std::to_string(pid) +
                                         ", \"ports\": [{\"com\": \"COM3\", \"state\": "
                                         "\"connected\"}]}\n");
  const std::string cmd = std::string(ZELINCTL_PATH) + " bridge status --state '" +
                          (dir / "state.json").string() + "' 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[512];
  while (std::fgets(line, sizeof line, p) != nullptr) out += line;
  const int rc = ::pclose(p);
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 3) << rc;
  EXPECT_NE(out.find("no longer running"), std::string::npos) << out;
}

// While connected, a change of speed between two writes goes out between them, also
// from one termios2 rate to another (the classic termios shows both only as BOTHER) and
// back to a rate seen before: the settings are read before every piece of data, and
// whatever the bridge keeps to read them quickly must not hide a change.
TEST_F(LinkTest, SpeedChangesWhileConnectedKeepTheirPlaceAmongTheData) {
  if (!PythonHasModule("serial"))
    GTEST_SKIP() << "python3-serial not installed (scripts/setup.sh --interop)";
  EchoServer server(server_ip_, 4101, /*telnet=*/true);
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM7"));
  // The program waits for a line on its input after each write, so that each write has
  // been taken by the bridge before the next change.
  const std::string link = (options_.dir / "COM7").string();
  const std::string script =
      "import serial, sys\n"
      "s = serial.Serial('" + link + "', 250000, timeout=0)\n"
      "for baud, n in ((250000, 5000), (74880, 3000), (250000, 2000), (9600, 1000)):\n"
      "    s.baudrate = baud\n"
      "    s.write(bytes((n + i) % 256 for i in range(n)))\n"
      "    s.flush()\n"
      "    sys.stdin.readline()\n"
      "s.close()\n";
  int to_program[2];
  ASSERT_EQ(::pipe2(to_program, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_program[0], 0);
  std::vector<std::string> args{kPython, "-c", script};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, kPython, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(to_program[0]);
  const std::vector<size_t> sizes = {5000, 3000, 2000, 1000};
  size_t total = 0;
  for (const size_t n : sizes) {
    total += n;
    ASSERT_TRUE(bridge_->RunUntil([&] { return server.Received().size() >= total; }, 120000))
        << server.Received().size() << " of " << total;
    ASSERT_EQ(::write(to_program[1], "\n", 1), 1);
  }
  ::close(to_program[1]);
  int status = -1;
  ASSERT_TRUE(bridge_->RunUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60000));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

  const auto events = server.Commands();
  const auto at = server.CommandsAt();
  std::vector<std::pair<size_t, std::vector<uint8_t>>> speeds;  // place, value
  for (size_t i = 0; i < events.size(); ++i)
    if (events[i].command == ComCommand::SetBaudRate) {
      if (!speeds.empty() && speeds.back().first == at[i]) speeds.pop_back();  // the last at a place
      speeds.emplace_back(at[i], events[i].value);
    }
  const std::vector<std::pair<size_t, std::vector<uint8_t>>> want = {
      {0, {0, 3, 0xD0, 0x90}},       // 250000
      {5000, {0, 1, 0x24, 0x80}},    // 74880
      {8000, {0, 3, 0xD0, 0x90}},    // 250000 again
      {10000, {0, 0, 0x25, 0x80}}};  // 9600
  EXPECT_EQ(speeds, want);
}

}  // namespace
}  // namespace zelin::testing
