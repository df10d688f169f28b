#include "emulator/network_check.hpp"

#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace zelin::emulator {
namespace {

// The driver of interface `name` as ethtool reports it ("veth", ...), "" when unknown.
std::string DriverOf(int fd, const std::string& name) {
  ethtool_drvinfo info{};
  info.cmd = ETHTOOL_GDRVINFO;
  ifreq req{};
  std::strncpy(req.ifr_name, name.c_str(), IFNAMSIZ - 1);
  req.ifr_data = reinterpret_cast<char*>(&info);
  if (::ioctl(fd, SIOCETHTOOL, &req) != 0) return {};
  return std::string(info.driver, strnlen(info.driver, sizeof info.driver));
}

// True when the calling thread shares the network namespace of process 1. Where that
// one cannot be seen (a container without ptrace rights) the interface and route
// checks below decide alone.
bool InInitialNamespace() {
  struct stat mine{}, init{};
  if (::stat("/proc/thread-self/ns/net", &mine) != 0 || ::stat("/proc/1/ns/net", &init) != 0)
    return false;
  return mine.st_dev == init.st_dev && mine.st_ino == init.st_ino;
}

}  // namespace

std::string IsolatedNetworkProblem() {
  if (InInitialNamespace()) return "it runs in the host's own network namespace";
  std::string problem;

  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0)
    return std::string("cannot list the network interfaces: ") + std::strerror(errno);
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  std::set<std::string> seen;
  for (const ifaddrs* ifa = list; ifa != nullptr && problem.empty(); ifa = ifa->ifa_next) {
    if (ifa->ifa_name == nullptr || !seen.insert(ifa->ifa_name).second) continue;
    if ((ifa->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const std::string driver = fd >= 0 ? DriverOf(fd, ifa->ifa_name) : std::string();
    if (driver != "veth")
      problem = "its network namespace holds the interface " + std::string(ifa->ifa_name) +
                ", which is neither loopback nor veth";
  }
  if (fd >= 0) ::close(fd);
  ::freeifaddrs(list);
  if (!problem.empty()) return problem;

  // Routing table: interface, destination, gateway, flags, ..., mask (hex, network order).
  std::ifstream routes("/proc/thread-self/net/route");
  if (!routes) return "cannot read the routing table";
  std::string line;
  std::getline(routes, line);  // the header
  while (std::getline(routes, line)) {
    std::istringstream in(line);
    std::string device, destination, gateway, flags, refcnt, use, metric, mask;
    if (!(in >> device >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask))
      continue;
    if (destination == "00000000" && mask == "00000000")
      return "its network namespace has a default route (through " + device + ")";
  }
  // IPv6: destination, prefix length, source, its prefix, next hop, metric, refcnt, use,
  // flags, interface. The kernel's own unreachable entries sit on loopback.
  std::ifstream routes6("/proc/thread-self/net/ipv6_route");
  while (std::getline(routes6, line)) {
    std::istringstream in(line);
    std::string destination, prefix, skip, device;
    if (!(in >> destination >> prefix)) continue;
    for (int i = 0; i < 7; ++i) in >> skip;
    if (!(in >> device)) continue;
    if (destination == std::string(32, '0') && prefix == "00" && device != "lo")
      return "its network namespace has an IPv6 default route (through " + device + ")";
  }
  return {};
}

}  // namespace zelin::emulator
