#pragma once
// The host's IPv4 addresses, as the transport opens one socket per address.
//
// ListHostInterfaces() lists the addresses of the interfaces that are up, in the
// order the host reports them, at most 255, loopback addresses left out.
// ResolveHostInterfaces() takes addresses named explicitly (ZELIN_INTERFACES) and
// finds the interface each belongs to; any address of 127.0.0.0/8 is taken as
// belonging to the loopback interface, so a test can use 127.X.Y.Z freely.
//
// Addresses are 32-bit values in network byte order (see protocol/bytes.hpp).
// Both functions are thread safe (they only read the host's tables).

#include <cstdint>
#include <string>
#include <vector>

namespace zelin {

struct HostInterface {
  uint32_t address = 0;  // network byte order
  int index = 0;         // the host's interface index, 0 when unknown
  std::string name;      // "eth0", "lo", ... ("" when unknown)
};

inline constexpr size_t kMaxHostInterfaces = 255;

// Non-loopback IPv4 addresses of the interfaces that are up, in the host's order (all
// of them: a caller that can use at most kMaxHostInterfaces refuses a longer list).
std::vector<HostInterface> ListHostInterfaces();

// The given addresses, in the given order, with the index and name of the interface
// that holds each (loopback addresses map to the loopback interface). An address that
// no interface holds keeps index 0 and an empty name.
std::vector<HostInterface> ResolveHostInterfaces(const std::vector<uint32_t>& addresses);

}  // namespace zelin
