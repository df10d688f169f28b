#include "platform/host_interfaces.hpp"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace zelin {
namespace {

bool IsLoopbackAddress(uint32_t network_order) {
  uint8_t first = 0;
  std::memcpy(&first, &network_order, 1);
  return first == 127;
}

uint32_t AddressOf(const ifaddrs* ifa) {
  sockaddr_in sin;
  std::memcpy(&sin, ifa->ifa_addr, sizeof sin);
  return sin.sin_addr.s_addr;
}

bool IsUpIpv4(const ifaddrs* ifa) {
  return ifa->ifa_addr != nullptr && ifa->ifa_addr->sa_family == AF_INET &&
         (ifa->ifa_flags & IFF_UP) != 0;
}

// Owns the list returned by getifaddrs.
class IfAddrs {
 public:
  IfAddrs() {
    if (::getifaddrs(&list_) != 0) list_ = nullptr;
  }
  ~IfAddrs() {
    if (list_ != nullptr) ::freeifaddrs(list_);
  }
  IfAddrs(const IfAddrs&) = delete;
  IfAddrs& operator=(const IfAddrs&) = delete;
  const ifaddrs* get() const { return list_; }

 private:
  ifaddrs* list_ = nullptr;
};

HostInterface Describe(const ifaddrs* ifa) {
  HostInterface h;
  h.address = AddressOf(ifa);
  h.name = ifa->ifa_name != nullptr ? ifa->ifa_name : "";
  h.index = h.name.empty() ? 0 : static_cast<int>(::if_nametoindex(h.name.c_str()));
  return h;
}

}  // namespace

std::vector<HostInterface> ListHostInterfaces() {
  std::vector<HostInterface> out;
  IfAddrs all;
  for (const ifaddrs* ifa = all.get(); ifa != nullptr; ifa = ifa->ifa_next) {
    if (!IsUpIpv4(ifa) || (ifa->ifa_flags & IFF_LOOPBACK) != 0) continue;
    if (IsLoopbackAddress(AddressOf(ifa))) continue;
    out.push_back(Describe(ifa));
  }
  return out;
}

std::vector<HostInterface> ResolveHostInterfaces(const std::vector<uint32_t>& addresses) {
  std::vector<HostInterface> out;
  IfAddrs all;
  HostInterface loopback;
  for (const ifaddrs* ifa = all.get(); ifa != nullptr; ifa = ifa->ifa_next) {
    if (IsUpIpv4(ifa) && (ifa->ifa_flags & IFF_LOOPBACK) != 0 && loopback.index == 0)
      loopback = Describe(ifa);
  }
  for (uint32_t a : addresses) {
    HostInterface h;
    h.address = a;
    for (const ifaddrs* ifa = all.get(); ifa != nullptr; ifa = ifa->ifa_next) {
      if (IsUpIpv4(ifa) && AddressOf(ifa) == a) {
        h = Describe(ifa);
        break;
      }
    }
    if (h.index == 0 && IsLoopbackAddress(a)) {
      h.index = loopback.index;
      h.name = loopback.name;
    }
    out.push_back(h);
  }
  return out;
}

}  // namespace zelin
