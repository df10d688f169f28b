#include "tests/support/udp_peer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <stdexcept>

#include "protocol/socket_address.hpp"

namespace zelin::testing {

UdpPeer::UdpPeer(Ipv4 address, uint16_t port) {
  if (!IsLoopback(address)) throw std::invalid_argument("UdpPeer: loopback addresses only");
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error("UdpPeer: socket");
  const sockaddr_in sa = SocketAddress(address, port);
  if (::bind(fd_, AsSockaddr(sa), sizeof sa) != 0) {
    ::close(fd_);
    throw std::runtime_error("UdpPeer: bind");
  }
}

UdpPeer::~UdpPeer() {
  Stop();
  ::close(fd_);
}

std::optional<PeerDatagram> UdpPeer::Receive(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
  std::array<uint8_t, 4096> buf;
  sockaddr_in from{};
  socklen_t len = sizeof from;
  const ssize_t n =
      ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return std::nullopt;
  PeerDatagram d{std::vector<uint8_t>(buf.begin(), buf.begin() + n), from.sin_addr.s_addr,
                 ntohs(from.sin_port)};
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(d);
  return d;
}

void UdpPeer::SendTo(Ipv4 address, uint16_t port, Bytes bytes) {
  if (!IsLoopback(address)) throw std::invalid_argument("UdpPeer: loopback addresses only");
  const sockaddr_in sa = SocketAddress(address, port);
  ::sendto(fd_, bytes.data(), bytes.size(), 0, AsSockaddr(sa), sizeof sa);
}

void UdpPeer::Reply(const PeerDatagram& request, Bytes bytes) {
  SendTo(request.from_address, request.from_port, bytes);
}

void UdpPeer::Serve(Handler handler) {
  Stop();
  stop_ = false;
  thread_ = std::thread([this, handler = std::move(handler)] {
    while (!stop_) {
      const auto d = Receive(10);
      if (!d) continue;
      for (const auto& reply : handler(*d)) Reply(*d, reply);
    }
  });
}

void UdpPeer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<PeerDatagram> UdpPeer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

}  // namespace zelin::testing
