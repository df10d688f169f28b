#include "tests/emulator/raw_peer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "platform/clock.hpp"
#include "protocol/socket_address.hpp"

namespace zelin::testing {
namespace {

bool Readable(int fd, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, wait_ms) > 0;
}

}  // namespace

UdpPeer::UdpPeer(Ipv4 local) : local_(local) {
  if (!IsLoopback(local)) throw std::invalid_argument("UdpPeer: loopback addresses only");
  fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in sa = SocketAddress(local, 0);
  if (fd_ < 0 || ::bind(fd_, AsSockaddr(sa), sizeof sa) != 0)
    throw std::runtime_error("UdpPeer: cannot bind");
  socklen_t len = sizeof sa;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
  port_ = ntohs(sa.sin_port);
}

UdpPeer::~UdpPeer() {
  if (fd_ >= 0) ::close(fd_);
}

void UdpPeer::Send(Ipv4 to, Bytes d, uint16_t port) {
  if (!IsLoopback(to)) throw std::invalid_argument("UdpPeer: loopback addresses only");
  const sockaddr_in sa = SocketAddress(to, port);
  ::sendto(fd_, d.data(), d.size(), 0, AsSockaddr(sa), sizeof sa);
}

std::optional<Datagram> UdpPeer::Receive(int wait_ms) {
  if (!Readable(fd_, wait_ms)) return std::nullopt;
  Datagram d(65536);
  const ssize_t n = ::recv(fd_, d.data(), d.size(), 0);
  if (n < 0) return std::nullopt;
  d.resize(static_cast<size_t>(n));
  return d;
}

std::vector<Datagram> UdpPeer::Drain(int quiet_ms) {
  std::vector<Datagram> all;
  while (auto d = Receive(quiet_ms)) all.push_back(std::move(*d));
  return all;
}

std::vector<Datagram> UdpPeer::Collect(size_t n, int wait_ms) {
  std::vector<Datagram> all;
  while (all.size() < n) {
    auto d = Receive(wait_ms);
    if (!d) return all;
    all.push_back(std::move(*d));
  }
  for (auto& extra : Drain(100)) all.push_back(std::move(extra));
  return all;
}

TcpPeer::TcpPeer(Ipv4 local, Ipv4 server, uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in me = SocketAddress(local, 0);
  const sockaddr_in to = SocketAddress(server, port);
  if (fd_ < 0 || !IsLoopback(server) ||
      ::bind(fd_, AsSockaddr(me), sizeof me) != 0 ||
      ::connect(fd_, AsSockaddr(to), sizeof to) != 0)
    Close();
}

TcpPeer::~TcpPeer() {
  Close();
}

void TcpPeer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TcpPeer::Send(Bytes b) {
  size_t done = 0;
  while (fd_ >= 0 && done < b.size()) {
    const ssize_t n = ::send(fd_, b.data() + done, b.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return fd_ >= 0;
}

Datagram TcpPeer::Read(size_t n, int wait_ms) {
  Datagram out;
  Clock& clock = SystemClock();
  const int64_t end = clock.NowMs() + wait_ms;
  while (fd_ >= 0 && out.size() < n) {
    const int64_t left = end - clock.NowMs();
    if (left <= 0 || !Readable(fd_, static_cast<int>(left))) break;
    uint8_t buf[4096];
    const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

bool TcpPeer::ClosedByPeer(int wait_ms) {
  if (fd_ < 0 || !Readable(fd_, wait_ms)) return false;
  uint8_t b;
  return ::recv(fd_, &b, 1, 0) <= 0;
}

Datagram SearchRequest(const std::vector<std::pair<uint16_t, uint16_t>>& exclude) {
  Datagram d(6 + 4 * exclude.size(), 0);
  d[0] = 0x01;
  PutBe16(d, 2, static_cast<uint16_t>(d.size()));
  for (size_t i = 0; i < exclude.size(); ++i) {
    PutLe16(d, 6 + 4 * i, exclude[i].first);
    PutLe16(d, 8 + 4 * i, exclude[i].second);
  }
  return d;
}

Datagram ShortRequest(uint8_t code, uint16_t sequence, uint16_t type, uint16_t serial) {
  Datagram d(10, 0);
  d[0] = code;
  PutBe16(d, 2, 10);
  PutLe16(d, 4, sequence);
  PutLe16(d, 6, type);
  PutLe16(d, 8, serial);
  return d;
}

Datagram AuthRequest(uint8_t code, uint16_t sequence, std::string_view password, const Nonce& nonce,
                     uint16_t type, uint16_t serial, Bytes payload) {
  Datagram d(26 + payload.size(), 0);
  d[0] = code;
  PutBe16(d, 2, static_cast<uint16_t>(d.size()));
  PutLe16(d, 4, sequence);
  const Md5Digest digest = Md5({AsBytes(password), Bytes(nonce)});
  std::copy(digest.begin(), digest.end(), d.begin() + 6);
  PutLe16(d, 22, type);
  PutLe16(d, 24, serial);
  std::copy(payload.begin(), payload.end(), d.begin() + 26);
  return d;
}

Datagram SetPasswordPayload(std::string_view current, std::string_view next, uint16_t serial,
                            uint32_t time) {
  Datagram p(40, 0);
  std::array<uint8_t, 4> t_le{}, t_be{};
  PutLe32(t_le, 0, time);
  PutBe32(t_be, 0, time);
  std::array<uint8_t, 2> s{};
  PutLe16(s, 0, serial);
  const Md5Digest mask = Md5({AsBytes(current), Bytes(s), Bytes(t_le)});
  std::array<uint8_t, 16> padded{};
  std::copy(next.begin(), next.end(), padded.begin());
  const Md5Digest proof = Md5({AsBytes(next), Bytes(s), Bytes(t_be)});
  std::copy(t_le.begin(), t_le.end(), p.begin());
  for (size_t i = 0; i < 16; ++i) p[4 + i] = padded[i] ^ mask[i];
  std::copy(t_be.begin(), t_be.end(), p.begin() + 20);
  std::copy(proof.begin(), proof.end(), p.begin() + 24);
  return p;
}

Nonce NonceOf(const Datagram& r) {
  return {r.at(6), r.at(7), r.at(8), r.at(9)};
}
uint16_t SequenceOf(const Datagram& r) {
  return GetLe16(r, 4);
}

// Like a client, both skip datagrams that are not the awaited reply (stray replies
// to earlier requests).
std::optional<Datagram> Session::Search() {
  peer.Send(server_ip, SearchRequest());
  while (auto r = peer.Receive()) {
    if (r->size() != 86 || (*r)[0] != 0x81 || GetLe16(*r, 12) != serial) continue;
    nonce = NonceOf(*r);
    sequence = 1;
    return r;
  }
  return std::nullopt;
}

std::optional<Datagram> Session::Request(uint8_t code, Bytes payload) {
  peer.Send(server_ip, AuthRequest(code, sequence, password, nonce, type, serial, payload));
  while (auto r = peer.Receive()) {
    if (r->size() < 18 || (*r)[0] != (code | 0x80) || SequenceOf(*r) != sequence) continue;
    if ((*r)[1] == 0 || (*r)[1] == 6) {
      nonce = NonceOf(*r);
      ++sequence;
    }
    return r;
  }
  return std::nullopt;
}

emulator::LabSpec LabIn(const LoopbackBlock& block, int64_t restart_ms) {
  emulator::LabSpec lab;
  lab.broadcast = block.Broadcast();
  lab.restart_ms = restart_ms;
  lab.seed = 7;
  return lab;
}

emulator::ServerSpec ServerAt(Ipv4 ip, uint16_t serial, uint16_t type, std::string password) {
  emulator::ServerSpec s;
  s.ip = ip;
  s.serial = serial;
  s.type = type;
  s.password = std::move(password);
  return s;
}

bool WaitRestarted(const emulator::Lab& lab, uint16_t serial, int restarts) {
  for (int i = 0; i < 400; ++i) {
    const auto s = lab.Snapshot(serial);
    if (s && s->restarts >= restarts && !s->restarting && s->bound) return true;
    SystemClock().SleepMs(10);
  }
  return false;
}

}  // namespace zelin::testing
