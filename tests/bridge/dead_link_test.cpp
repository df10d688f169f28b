// A dead link made real: the server in a network namespace of the test's own, the
// portbridge program in another, joined by veth pairs (tests/support/netns_lab.hpp); the
// server's end of the link is then set down (no FIN, no RST reach the bridge), and the port must leave "connected"
// within what its keepalive and user time-out settings promise.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "protocol/address.hpp"
#include "tests/bridge/bridge_util.hpp"
#include "tests/support/netns_lab.hpp"
#include "tests/support/spawn.hpp"

extern char** environ;

namespace zelin::testing {
namespace {

// Ends the processes it was given, and so lets their namespaces go.
struct Reaper {
  std::vector<pid_t> pids;
  ~Reaper() {
    for (pid_t pid : pids) StopChild(pid);
  }
};

std::string Which(const char* name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/sbin/"}) {
    const std::string p = std::string(dir) + name;
    if (::access(p.c_str(), X_OK) == 0) return p;
  }
  return {};
}

class DeadLinkTest : public BridgeFixture {};

TEST_F(DeadLinkTest, PortLeavesConnectedWhenTheServerLinkGoesDown) {
  if (const std::string why = NetnsLab::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  if (Which("socat").empty()) GTEST_SKIP() << "socat not installed (scripts/setup.sh --interop)";
  NetnsLab lab;
  Reaper reaper;
  const Ipv4 server = NetnsLab::ServerAddress(2, 2);  // the server end of the second veth

  // An echo server in the server namespace, for one connection (no fork: ending the
  // process ends everything it started).
  {
    NetnsLab::Inside inside(lab, NetnsLab::Side::kServer);
    reaper.pids.push_back(SpawnLogged(
        {Which("socat"), "TCP-LISTEN:4001,bind=" + AddressToText(server) + ",reuseaddr", "PIPE"},
        (dir_ / "socat.log").string()));
  }
  ASSERT_GT(reaper.pids.back(), 0);
  // Promised: an idle dead link is seen after keepalive_idle + interval x count = 3 s,
  // unacknowledged data after the user time-out of 3 s.
  WriteConfig("[defaults]\nmode = raw\ndata_port_base = 4001\nkeepalive_idle = 1\n"
              "keepalive_interval = 1\nkeepalive_count = 2\nuser_timeout_ms = 3000\n");
  ServerConfig s = MakeServer(1201);
  s.ip_address = server;
  MapPort(s, 0, 9);
  SaveStore({s});
  // ZELIN_LOOPBACK_ONLY is left out for this bridge alone: it runs in the client
  // namespace, whose only ways out are the veths to the server namespace (no default
  // route), so it cannot reach any other host.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("ZELIN_LOOPBACK_ONLY=", 0) != 0) env.emplace_back(*e);
  {
    NetnsLab::Inside inside(lab, NetnsLab::Side::kClient);
    reaper.pids.push_back(SpawnLogged({PORTBRIDGE_PATH, "--store", options_.store.string(),
                                       "--dir", options_.dir.string(), "--config",
                                       options_.config.string()},
                                      (dir_ / "portbridge.log").string(), &env));
  }
  ASSERT_GT(reaper.pids.back(), 0);

  auto state = [&] {
    std::ifstream in(options_.state);
    const auto doc = nlohmann::json::parse(in, nullptr, false);
    if (!doc.is_object() || !doc.contains("ports") || doc["ports"].size() != 1)
      return nlohmann::json::object();
    return doc["ports"][0];
  };
  auto wait = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 3000; ++i) {  // up to 60 s
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  ASSERT_TRUE(wait([&] { return state().value("state", "") == "connected"; }))
      << ReadFileText(dir_ / "portbridge.log");
  // The link works: a line goes to the echo server and back.
  const int fd = OpenDevice(options_.dir / "COM9");
  ASSERT_EQ(::write(fd, "ping", 4), 4);
  std::string back;
  ASSERT_TRUE(wait([&] {
    char buf[16];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) back.append(buf, static_cast<size_t>(n));
    return back == "ping";
  })) << back;

  lab.SetLink(2, false);
  const auto cut = std::chrono::steady_clock::now();
  ASSERT_TRUE(wait([&] { return state().value("state", "connected") != "connected"; }))
      << ReadFileText(dir_ / "portbridge.log");
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - cut)
                      .count();
  std::printf("  dead link seen after %lld ms (promised about 3000 ms): %s\n",
              static_cast<long long>(ms), state().value("last_error", "").c_str());
  EXPECT_EQ(state().value("last_error", ""), "Connection timed out");
  ::close(fd);
}

}  // namespace
}  // namespace zelin::testing
