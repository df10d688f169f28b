// A dead link made real: the server in a network namespace of the test's own, the
// portbridge program in another, joined by a veth pair; the server's end of the link is
// then set down (no FIN, no RST reach the bridge), and the port must leave "connected"
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

#include "tests/bridge/bridge_util.hpp"

extern char** environ;

namespace zelin::testing {
namespace {

// Two namespaces, "client" and "server", holding only loopback and one end each of a
// veth pair (10.255.24.1/30 and .2/30), no default route: nothing sent inside them can
// reach a real network. Removed, with what runs in them, when the object ends.
class NamespacePair {
 public:
  NamespacePair() {
    const std::string id = std::to_string(::getpid());
    client_ = "zelin-dl-" + id + "-c";
    server_ = "zelin-dl-" + id + "-s";
    client_if_ = "zdl" + id + "c";
    server_if_ = "zdl" + id + "s";
  }
  ~NamespacePair() {
    for (pid_t pid : pids_) {
      ::kill(pid, SIGTERM);
      int status = 0;
      ::waitpid(pid, &status, 0);
    }
    Run("ip netns del " + client_ + " 2>/dev/null");
    Run("ip netns del " + server_ + " 2>/dev/null");
  }
  // Empty when both namespaces are up, else why not.
  std::string Make() {
    if (!Run("ip netns add " + client_ + " 2>/dev/null"))
      return "cannot make a network namespace here (needs root or CAP_SYS_ADMIN and iproute2)";
    if (!Run("ip netns add " + server_) ||
        !Run("ip link add " + client_if_ + " netns " + client_ + " type veth peer name " +
             server_if_ + " netns " + server_) ||
        !Run("ip -n " + client_ + " addr add 10.255.24.1/30 dev " + client_if_) ||
        !Run("ip -n " + server_ + " addr add 10.255.24.2/30 dev " + server_if_) ||
        !Run("ip -n " + client_ + " link set lo up") || !Run("ip -n " + server_ + " link set lo up") ||
        !Run("ip -n " + client_ + " link set " + client_if_ + " up") ||
        !Run("ip -n " + server_ + " link set " + server_if_ + " up"))
      return "cannot set up the veth pair between the namespaces";
    return {};
  }
  // Starts `argv` inside the namespace with `env`; output to `log`.
  pid_t Spawn(bool server, std::vector<std::string> argv, const std::vector<std::string>& env,
              const std::string& log) {
    argv.insert(argv.begin(), {"/usr/sbin/ip", "netns", "exec", server ? server_ : client_});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> env_copy = env;
    for (auto& e : env_copy) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data()) != 0)
      pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid > 0) pids_.push_back(pid);
    return pid;
  }
  bool CutServerLink() { return Run("ip -n " + server_ + " link set " + server_if_ + " down"); }

 private:
  static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
  std::string client_, server_, client_if_, server_if_;
  std::vector<pid_t> pids_;
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
  if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
  if (Which("socat").empty() || Which("ip").empty())
    GTEST_SKIP() << "socat or ip not installed (scripts/setup.sh --interop)";
  NamespacePair lab;
  if (const std::string why = lab.Make(); !why.empty()) GTEST_SKIP() << why;

  // An echo server in the server namespace, for one connection (no fork: ending the
  // process ends everything it started).
  ASSERT_GT(lab.Spawn(true,
                      {Which("socat"), "TCP-LISTEN:4001,bind=10.255.24.2,reuseaddr", "PIPE"},
                      {}, (dir_ / "socat.log").string()),
            0);
  // Promised: an idle dead link is seen after keepalive_idle + interval x count = 3 s,
  // unacknowledged data after the user time-out of 3 s.
  WriteConfig("[defaults]\nmode = raw\ndata_port_base = 4001\nkeepalive_idle = 1\n"
              "keepalive_interval = 1\nkeepalive_count = 2\nuser_timeout_ms = 3000\n");
  ServerConfig s = MakeServer(1201);
  s.ip_address = Ipv4FromOctets(10, 255, 24, 2);
  MapPort(s, 0, 9);
  SaveStore({s});
  // ZELIN_LOOPBACK_ONLY is left out for this bridge alone: it runs in the client
  // namespace, whose only way out is the veth to the server namespace (no default
  // route), so it cannot reach any other host.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("ZELIN_LOOPBACK_ONLY=", 0) != 0) env.emplace_back(*e);
  ASSERT_GT(lab.Spawn(false,
                      {PORTBRIDGE_PATH, "--store", options_.store.string(), "--dir",
                       options_.dir.string(), "--config", options_.config.string()},
                      env, (dir_ / "portbridge.log").string()),
            0);

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

  ASSERT_TRUE(lab.CutServerLink());
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
