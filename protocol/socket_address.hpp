#pragma once
// The IPv4 socket address that bind, connect and sendto take, built in one place.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "protocol/bytes.hpp"

namespace zelin {

// `address` is already in network order; `port` is in host order.
inline sockaddr_in SocketAddress(Ipv4 address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = address;
  return sa;
}

// The generic view the socket calls take.
inline const sockaddr* AsSockaddr(const sockaddr_in& sa) {
  return reinterpret_cast<const sockaddr*>(&sa);
}

}  // namespace zelin
