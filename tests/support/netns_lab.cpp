#include "tests/support/netns_lab.hpp"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <stdexcept>

namespace zelin::testing {
namespace {

// Runs `command` through the shell on the calling thread (so in its namespace).
int Shell(const std::string& command, std::string* output) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> chunk{};
  std::string text;
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  if (output != nullptr) *output = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Name() { return "zlab" + std::to_string(::getpid()); }

}  // namespace

std::string NetnsLab::Script() { return ZELIN_NETNS_LAB_SCRIPT; }

std::string NetnsLab::Unavailable() {
  std::string why;
  if (Shell(Script() + " check", &why) == 0) return {};
  while (!why.empty() && why.back() == '\n') why.pop_back();
  return "network namespaces cannot be made here (" + why + "); the real-network tests are skipped";
}

NetnsLab::NetnsLab() {
  std::string output;
  const std::string name = Name();
  if (Shell(Script() + " up " + name, &output) != 0)
    throw std::runtime_error("netns-lab.sh up failed: " + output);
  server_ = ::open(("/run/netns/" + name + "s").c_str(), O_RDONLY | O_CLOEXEC);
  client_ = ::open(("/run/netns/" + name + "c").c_str(), O_RDONLY | O_CLOEXEC);
  // From here on only these descriptors (and what runs inside) keep the namespaces.
  Shell("ip netns del " + name + "s; ip netns del " + name + "c", nullptr);
  if (server_ < 0 || client_ < 0) {
    if (server_ >= 0) ::close(server_);
    if (client_ >= 0) ::close(client_);
    throw std::runtime_error("cannot open the lab's namespaces");
  }
}

NetnsLab::~NetnsLab() {
  ::close(server_);
  ::close(client_);
}

NetnsLab::Inside::Inside(const NetnsLab& lab, Side side) {
  home_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (home_ < 0 || ::setns(side == Side::kServer ? lab.server_ : lab.client_, CLONE_NEWNET) != 0)
    throw std::runtime_error("cannot enter the lab's namespace");
}

NetnsLab::Inside::~Inside() {
  if (home_ >= 0) {
    ::setns(home_, CLONE_NEWNET);
    ::close(home_);
  }
}

int NetnsLab::Run(Side side, const std::string& command, std::string* output) const {
  Inside inside(*this, side);
  return Shell("env -u ZELIN_BROADCAST -u ZELIN_INTERFACES -u ZELIN_LOOPBACK_ONLY " + command,
               output);
}

void NetnsLab::SetLink(int subnet, bool up) const {
  std::string output;
  const std::string command =
      "ip link set va" + std::to_string(subnet) + (up ? " up" : " down");
  if (Run(Side::kServer, command, &output) != 0)
    throw std::runtime_error(command + " failed: " + output);
}

}  // namespace zelin::testing
