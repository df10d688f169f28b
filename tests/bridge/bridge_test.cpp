// The bridge in-process: bytes through the device, a server that restarts, a store
// that changes under a running bridge, the settings file, loopback safety; and the
// portbridge program.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "bridge/core/bridge_error.hpp"
#include "tests/bridge/bridge_util.hpp"

extern char** environ;

namespace zelin::testing {
namespace {

using bridge::LinkState;

class BridgeTest : public BridgeFixture {
 protected:
  void SetUp() override { WriteConfig("[defaults]\nmode = raw\ndata_port_base = 4001\n"); }
};

TEST_F(BridgeTest, RawPortCarriesBytesBothWaysAndReportsItsState) {
  EchoServer echo(server_ip_, 4001);
  int fd = -1;
  ASSERT_NO_FATAL_FAILURE(StartConnected({Server({{0, 5}})}, "COM5", &fd));
  // Far more than every buffer on the way holds: the port must pace both directions.
  const std::vector<uint8_t> out = Pattern(300 * 1024, 3);
  EXPECT_EQ(Exchange(*bridge_, fd, out, out.size()), out);
  ::close(fd);

  bridge_->RunFor(1500);  // the byte counts are written within a second
  std::ifstream in(options_.state);
  const auto state = nlohmann::json::parse(in, nullptr, false);
  ASSERT_TRUE(state.is_object());
  const auto& port = state["ports"].at(0);
  EXPECT_EQ(port["com"], "COM5");
  EXPECT_EQ(port["state"], "connected");
  EXPECT_EQ(port["mode"], "raw");
  EXPECT_EQ(port["tcp_port"], 4001);
  EXPECT_EQ(port["bytes_in"], out.size());
  EXPECT_EQ(port["bytes_out"], out.size());
  EXPECT_EQ(std::filesystem::read_symlink(options_.dir / "COM5").string(), port["device"]);
}

TEST_F(BridgeTest, OpenDeviceCarriesBytesAgainAfterTheServerRestarts) {
  EchoServer echo(server_ip_, 4001);
  int fd = -1;
  ASSERT_NO_FATAL_FAILURE(StartConnected({Server({{0, 5}})}, "COM5", &fd));
  const std::vector<uint8_t> before = Pattern(20000, 1);
  EXPECT_EQ(Exchange(*bridge_, fd, before, before.size()), before);

  echo.Close();
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM5")->state == LinkState::kRetrying; },
                                60000));
  // Written while the server is away: kept by the bridge and sent once it is back.
  const std::vector<uint8_t> during = Pattern(30000, 2);
  EXPECT_TRUE(Exchange(*bridge_, fd, during, 0).empty());
  bridge_->RunFor(2000);
  EXPECT_EQ(Port("COM5")->state, LinkState::kRetrying);
  EXPECT_TRUE(std::filesystem::is_symlink(options_.dir / "COM5"));

  echo.Listen();
  EXPECT_EQ(Exchange(*bridge_, fd, {}, during.size()), during);
  EXPECT_EQ(echo.accepted(), 2);
  std::vector<uint8_t> all = before;
  all.insert(all.end(), during.begin(), during.end());
  EXPECT_EQ(echo.Received(), all);
  ::close(fd);
}

TEST_F(BridgeTest, StoreChangeAddsAndRemovesPortsAndLeavesAThirdAlone) {
  EchoServer echo1(server_ip_, 4001), echo2(server_ip_, 4002), echo3(server_ip_, 4003);
  SaveStore({Server({{0, 3}, {1, 4}})});
  StartBridge();
  ASSERT_TRUE(WaitConnected("COM3") && WaitConnected("COM4"));
  const std::string device = Port("COM3")->device;
  const int fd = OpenDevice(options_.dir / "COM3");
  EXPECT_EQ(Exchange(*bridge_, fd, Pattern(100, 1), 100), Pattern(100, 1));

  SaveStore({Server({{0, 3}, {2, 6}})});  // what Save Configuration writes
  ASSERT_TRUE(WaitConnected("COM6"));
  ASSERT_TRUE(bridge_->RunUntil([&] { return Port("COM4") == nullptr; }, 60000));
  EXPECT_FALSE(std::filesystem::exists(options_.dir / "COM4"));
  EXPECT_TRUE(std::filesystem::is_symlink(options_.dir / "COM6"));
  EXPECT_EQ(Port("COM3")->device, device);
  EXPECT_EQ(echo1.accepted(), 1);  // COM3's connection was not touched
  EXPECT_EQ(Exchange(*bridge_, fd, Pattern(100, 2), 100), Pattern(100, 2));
  ::close(fd);
}

TEST_F(BridgeTest, LoopbackOnlyNeverConnectsElsewhere) {
  ServerConfig remote = MakeServer(77);  // 10.0.0.77
  MapPort(remote, 0, 9);
  SaveStore({Server({{0, 5}}), remote});
  StartBridge();
  bridge_->RunFor(500);
  const bridge::PortStatus* p = Port("COM9");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->state, LinkState::kRefused);
  EXPECT_NE(p->last_error.find("ZELIN_LOOPBACK_ONLY"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_symlink(options_.dir / "COM9"));  // the device is still there
}

TEST(BridgeConfig, SectionsChooseModeAndPortPerServer) {
  const auto config = bridge::ParseBridgeConfig(
      "# bridge\n[defaults]\ndata_port_base = 950\n"
      "[server 1201]\nmode = raw\n"
      "[server 127.0.0.9]  # by address\r\ndata_port_base = 5000\n",
      "bridge.conf");
  ASSERT_TRUE(config) << config.status();
  bridge::MappedPort p;
  p.serial_number = 1201;
  p.server = Ipv4FromOctets(127, 0, 0, 8);
  EXPECT_EQ(config->For(p), (bridge::ServerOptions{bridge::LinkMode::kRaw, 950}));
  p.server = Ipv4FromOctets(127, 0, 0, 9);  // the address wins; it inherits the defaults
  EXPECT_EQ(config->For(p), (bridge::ServerOptions{bridge::LinkMode::kRfc2217, 5000}));
  p.serial_number = 3;
  p.server = 0;
  EXPECT_EQ(config->For(p), (bridge::ServerOptions{bridge::LinkMode::kRfc2217, 950}));

  for (const char* bad : {"mode = telnet\n", "[server x]\n", "data_port_base = 0\n", "parity = 1\n", "data_bits = 9\n",
                          "[defaults\n", "speed = 9600\n", "[port 3]\n"}) {
    const auto r = bridge::ParseBridgeConfig(std::string("\n") + bad, "b.conf");
    EXPECT_TRUE(r.status().Is(bridge::BridgeError::kConfig)) << bad;
    EXPECT_EQ(r.status().message().rfind("b.conf:2: ", 0), 0u) << r.status().message();
  }
}

// The program itself: serves the store's port, ends cleanly on SIGTERM.
TEST_F(BridgeTest, ProgramServesTheStoreAndCleansUpOnSigterm) {
  EchoServer echo(server_ip_, 4002);
  SaveStore({Server({{1, 12}})});
  const std::string store = options_.store.string(), dir = options_.dir.string(),
                    config = options_.config.string();
  std::vector<std::string> args{PORTBRIDGE_PATH, "--store", store,  "--dir",
                                dir,             "--config", config, "--foreground"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(::posix_spawn(&pid, PORTBRIDGE_PATH, nullptr, nullptr, argv.data(), environ), 0);

  const auto link = options_.dir / "COM12";
  std::vector<uint8_t> got;
  int fd = -1;
  for (int i = 0; i < 1000 && got.size() < 5; ++i) {  // up to a generous 20 s
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (fd < 0 && std::filesystem::exists(link)) {
      std::ifstream in(options_.state);
      const auto state = nlohmann::json::parse(in, nullptr, false);
      if (state.is_object() && state["ports"].size() == 1 &&
          state["ports"][0]["state"] == "connected") {
        fd = OpenDevice(link);
        ASSERT_EQ(::write(fd, "hello", 5), 5);
      }
    }
    uint8_t buf[16];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;) got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(std::string(got.begin(), got.end()), "hello");
  if (fd >= 0) ::close(fd);

  // zelinctl reads the same state.
  const std::string cmd = std::string(ZELINCTL_PATH) + " bridge status --state '" +
                          (options_.dir / "bridge-state.json").string() + "'";
  std::string table;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, p) != nullptr) table += line;
    EXPECT_EQ(::pclose(p), 0);
  }
  EXPECT_NE(table.find("COM12"), std::string::npos) << table;
  EXPECT_NE(table.find("connected"), std::string::npos) << table;

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::exists(link));
  EXPECT_FALSE(std::filesystem::exists(options_.dir / "bridge-state.json"));
}

}  // namespace
}  // namespace zelin::testing
