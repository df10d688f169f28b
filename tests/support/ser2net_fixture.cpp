#include "tests/support/ser2net_fixture.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/clock.hpp"
#include "protocol/address.hpp"
#include "protocol/socket_address.hpp"
#include "tests/support/spawn.hpp"

extern char** environ;

namespace zelin::testing {
namespace {

constexpr int kPolls = 500;  // bounded waits: up to kPolls * kPollMs
constexpr int kPollMs = 10;

// The program's path on PATH or in the system folders, or "".
std::string Find(const std::string& name) {
  std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
  std::stringstream in(dirs);
  for (std::string dir; std::getline(in, dir, ':');) {
    if (dir.empty()) continue;
    const std::string path = dir + "/" + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

bool Running(pid_t pid) {
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0;
}

void StopProcess(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < kPolls && Running(pid); ++i) SystemClock().SleepMs(kPollMs);
  if (Running(pid)) {
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  pid = -1;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A TCP port of `address` that nobody uses right now.
uint16_t FreePort(Ipv4 address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in sa = SocketAddress(address, 0);
  socklen_t len = sizeof sa;
  uint16_t port = 0;
  if (::bind(fd, AsSockaddr(sa), sizeof sa) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  ::close(fd);
  return port;
}

bool Accepts(Ipv4 address, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  const sockaddr_in sa = SocketAddress(address, port);
  const bool ok = ::connect(fd, AsSockaddr(sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

Ser2netFixture::~Ser2netFixture() {
  Stop();
}

std::string Ser2netFixture::Missing() {
  std::string missing;
  for (const char* name : {"ser2net", "socat", "stty"})
    if (Find(name).empty()) missing += std::string(missing.empty() ? "" : ", ") + name;
  if (missing.empty()) return {};
  return missing + " not installed (scripts/setup.sh --interop installs them)";
}

bool Ser2netFixture::Start(const Options& options, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    Stop();
    return false;
  };
  if (const std::string why = Missing(); !why.empty()) return fail(why);
  if (!IsLoopback(options.address)) return fail("ser2net must listen on a loopback address");
  options_ = options;
  std::string pattern = std::filesystem::temp_directory_path() / "zelin-ser2net-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return fail("cannot make a temporary folder");
  dir_ = pattern;
  device_ = dir_ + "/device";
  line_ = dir_ + "/line";

  socat_ = SpawnLogged({Find("socat"), "-d", "-d", "pty,raw,echo=0,link=" + device_,
                  "pty,raw,echo=0,link=" + line_},
                 dir_ + "/socat.log");
  if (socat_ < 0) return fail("cannot start socat");
  struct stat st {};
  for (int i = 0; i < kPolls && (::stat(device_.c_str(), &st) != 0 || ::stat(line_.c_str(), &st) != 0);
       ++i)
    SystemClock().SleepMs(kPollMs);
  if (::stat(device_.c_str(), &st) != 0 || ::stat(line_.c_str(), &st) != 0)
    return fail("socat made no pty pair: " + ReadAll(dir_ + "/socat.log"));

  port_ = FreePort(options.address);
  if (port_ == 0) return fail("no free TCP port");
  if (!StartSer2net(error)) return fail(error ? *error : "ser2net does not start");
  return true;
}

bool Ser2netFixture::StartSer2net(std::string* error) {
  const std::string accepter = std::string(options_.rfc2217 ? "telnet(rfc2217)," : "") + "tcp," +
                               AddressToText(options_.address) + "," + std::to_string(port_);
  {
    std::ofstream yaml(dir_ + "/ser2net.yaml");
    yaml << "%YAML 1.1\n---\nconnection: &zelin\n"
         << "  accepter: " << accepter << "\n"
         << "  connector: serialdev," << device_ << "," << options_.line << ",local\n"
         << "  options:\n    kickolduser: true\n";
  }
  ser2net_ = SpawnLogged({Find("ser2net"), "-n", "-d", "-u", "-P", dir_ + "/ser2net.pid", "-c",
                    dir_ + "/ser2net.yaml"},
                   dir_ + "/ser2net.log");
  if (ser2net_ < 0) {
    if (error) *error = "cannot start ser2net";
    return false;
  }
  for (int i = 0; i < kPolls && Running(ser2net_); ++i) {
    if (Accepts(options_.address, port_)) return true;
    SystemClock().SleepMs(kPollMs);
  }
  if (error) *error = "ser2net does not accept on " + accepter + ": " + ReadAll(dir_ + "/ser2net.log");
  StopProcess(ser2net_);
  return false;
}

void Ser2netFixture::StopServer() { StopProcess(ser2net_); }

void Ser2netFixture::Stop() {
  StopProcess(ser2net_);
  StopProcess(socat_);
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    dir_.clear();
  }
}

std::string Ser2netFixture::DeviceStty() const {
  const std::string command = Find("stty") + " -a -F '" + device_ + "' 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return {};
  std::string out;
  char buf[512];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  return out;
}

}  // namespace zelin::testing
