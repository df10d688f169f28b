#include "tests/support/loopback.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <stdexcept>

#include "protocol/socket_address.hpp"

namespace zelin::testing {

LoopbackBlock::LoopbackBlock() {
  std::random_device rd;
  std::mt19937 rng(rd() ^ static_cast<unsigned>(getpid()));
  for (int attempt = 0; attempt < 2000; ++attempt) {
    const auto x = static_cast<uint8_t>(100 + rng() % 100);
    const auto y = static_cast<uint8_t>(1 + rng() % 250);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) break;
    const sockaddr_in sa = SocketAddress(Ipv4FromOctets(127, x, y, 253), 65001);
    if (::bind(fd, AsSockaddr(sa), sizeof sa) == 0) {
      x_ = x;
      y_ = y;
      claim_ = fd;
      return;
    }
    ::close(fd);
  }
  throw std::runtime_error("LoopbackBlock: no free 127.x.y.0/24 block");
}

LoopbackBlock::~LoopbackBlock() {
  if (claim_ >= 0) ::close(claim_);
}

Ipv4 LoopbackBlock::Address(uint8_t host) const { return Ipv4FromOctets(127, x_, y_, host); }

}  // namespace zelin::testing
