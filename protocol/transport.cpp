#include "protocol/transport.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/host_interfaces.hpp"
#include "protocol/address.hpp"
#include "protocol/socket_address.hpp"

namespace zelin {
namespace {

std::string Trim(std::string_view s) { return std::string(TrimBlanks(s)); }

// A dotted address that names a real host (not the empty field "...").
std::optional<Ipv4> ParseAddress(std::string_view text) {
  return ParseHostAddress(Trim(text));
}

int PollMs(int64_t ms) {
  return static_cast<int>(std::clamp<int64_t>(ms, 0, INT_MAX));
}

}  // namespace

// --- options ---------------------------------------------------------------------

EnvironmentOptions TransportOptions::FromEnvironment() {
  TransportOptions o;
  std::string problems;
  if (const char* list = std::getenv("ZELIN_INTERFACES"); list != nullptr && *list != '\0') {
    AddressList parsed = ParseAddressList(list, ListSyntax::kLenient);
    o.interfaces = std::move(parsed.addresses);
    for (const std::string& part : parsed.rejected)
      problems += "ZELIN_INTERFACES: '" + part + "' is not an IPv4 address. ";
  }
  if (const char* b = std::getenv("ZELIN_BROADCAST"); b != nullptr && *b != '\0') {
    if (auto a = ParseAddress(b))
      o.broadcast = *a;
    else
      problems += "ZELIN_BROADCAST: '" + std::string(b) + "' is not an IPv4 address. ";
  }
  if (const char* l = std::getenv("ZELIN_LOOPBACK_ONLY"); l != nullptr)
    o.loopback_only = std::string_view(l) == "1";
  if (problems.empty()) return {std::move(o), {}};
  return {std::move(o), SocketStatus(EINVAL, Trim(problems))};
}

// --- error texts -----------------------------------------------------------------

std::string SocketErrorText(int error_code) {
  switch (error_code) {
    case EMFILE:
      return "No more socket descriptors are available.";
    case EINPROGRESS:
    case EALREADY:
      return "A blocking Windows Sockets 1.1 call is in progress, or the service provider is "
             "still processing a callback function.";
    case ENOTSOCK:
      return "Socket operation on non-socket.";
    case EPROTOTYPE:
      return "The specified protocol is the wrong type for this socket.";
    case EPROTONOSUPPORT:
      return "The specified protocol is not supported.";
    case ESOCKTNOSUPPORT:
      return "The specified socket type is not supported in this address family.";
    case EAFNOSUPPORT:
      return "The specified address family is not supported.";
    case ENETDOWN:
      return "The network subsystem or the associated service provider has failed.";
    case ENOBUFS:
      return "No buffer space is available. The socket cannot be created.";
    default:
      return "";
  }
}

Status SocketStatus(int error_code, std::string message) {
  if (message.empty()) message = SocketErrorText(error_code);
  if (message.empty()) message = std::strerror(error_code);
  return Status(StatusDomain::kSocket, error_code, std::move(message));
}

// --- transport -------------------------------------------------------------------

Transport::Transport(Clock& clock, NoticeSink& notices, Deliverable who, TransportOptions options)
    : clock_(clock), notices_(notices), who_(who), options_(std::move(options)) {
  sockets_.fill(kNoSocket);
}

Transport::~Transport() {
  CloseTransport();
}

Status Transport::OpenTransport(uint16_t first_local_port) {
  CloseTransport();
  sockets_.fill(kNoSocket);
  interface_count_ = 0;

  auto too_many_hosts = [] {
    return SocketStatus(ERANGE, "more than " + std::to_string(kMaxInterfaces) + " host addresses");
  };
  std::vector<HostInterface> hosts;
  if (!options_.interfaces.empty()) {
    if (options_.interfaces.size() > kMaxInterfaces) return too_many_hosts();
    hosts = ResolveHostInterfaces(options_.interfaces);
  } else {
    hosts = ListHostInterfaces();
    if (hosts.size() > kMaxInterfaces) return too_many_hosts();
  }
  if (hosts.empty()) return SocketStatus(EADDRNOTAVAIL, "no host IPv4 address to use");
  interface_count_ = static_cast<int>(hosts.size());
  for (size_t j = 0; j < hosts.size(); ++j) {
    local_addresses_[j] = hosts[j].address;
    if_indexes_[j] = hosts[j].index;
  }

  for (size_t j = 0; j < hosts.size(); ++j) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
      Status failed = SocketStatus(errno);
      NoticeSocketError(failed);
      return failed;
    }
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
      NoticeSocketError(SocketStatus(errno));
      ::close(fd);
      continue;
    }
    bool bound = false;
    for (uint32_t port = first_local_port; port <= 65535; port += wire::kLocalPortStep) {
      const sockaddr_in sa = SocketAddress(local_addresses_[j], static_cast<uint16_t>(port));
      if (::bind(fd, AsSockaddr(sa), sizeof sa) == 0) {
        bound = true;
        break;
      }
    }
    if (!bound) {
      ::close(fd);
      continue;
    }
    destination_ = kBroadcastAddress;
    sockets_[j] = fd;
  }
  return {};
}

void Transport::CloseTransport() {
  for (int j = 0; j < interface_count_ && j < kSlots; ++j) {
    if (sockets_[static_cast<size_t>(j)] != kNoSocket && !borrowed_)
      ::close(sockets_[static_cast<size_t>(j)]);
    sockets_[static_cast<size_t>(j)] = kNoSocket;
  }
  borrowed_ = false;
}

Status Transport::AdoptSockets(const int* sockets, const Ipv4* local_addresses, int count) {
  if (count < 0 || count > kMaxInterfaces ||
      (count > 0 && (sockets == nullptr || local_addresses == nullptr)))
    return SocketStatus(EINVAL, "cannot borrow " + std::to_string(count) + " sockets");
  CloseTransport();
  sockets_.fill(kNoSocket);
  interface_count_ = count;
  std::vector<Ipv4> addresses(local_addresses, local_addresses + count);
  const auto hosts = ResolveHostInterfaces(addresses);
  for (size_t j = 0; j < static_cast<size_t>(count); ++j) {
    sockets_[j] = sockets[j];
    local_addresses_[j] = local_addresses[j];
    if_indexes_[j] = hosts[j].index;
  }
  borrowed_ = true;
  return {};
}

void Transport::SetDestination(Ipv4 address) {
  destination_ = address;
}

uint16_t Transport::local_port(int slot) const {
  if (slot < 0 || slot >= kSlots) return 0;
  const int fd = sockets_[static_cast<size_t>(slot)];
  if (fd == kNoSocket) return 0;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

bool Transport::MaySendTo(Ipv4 address) const {
  if (address == kBroadcastAddress && options_.broadcast) address = *options_.broadcast;
  return !options_.loopback_only || IsLoopback(address);
}

Status Transport::SendOne(int socket, Bytes datagram) {
  const bool broadcast = destination_ == kBroadcastAddress;
  Ipv4 to = destination_;
  if (broadcast && options_.broadcast) to = *options_.broadcast;
  if (options_.loopback_only && !IsLoopback(to)) {
    Status refused = SocketStatus(
        EPERM, "Refused to send to " + AddressToText(to) +
                   ": this program may only send to loopback addresses (127.0.0.0/8).");
    notices_.Notice(NoticeLevel::kError, refused.message());
    return refused;
  }
  sockaddr_in sa = SocketAddress(to, wire::kServerUdpPort);
  msghdr msg{};
  iovec iov{const_cast<uint8_t*>(datagram.data()), datagram.size()};
  msg.msg_name = &sa;
  msg.msg_namelen = sizeof sa;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;

  // A broadcast leaves through the interface of the socket it is sent on.
  alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  if (broadcast) {
    const auto it = std::find(sockets_.begin(), sockets_.begin() + interface_count_, socket);
    if (socket != kNoSocket && it != sockets_.begin() + interface_count_) {
      const auto slot = static_cast<size_t>(it - sockets_.begin());
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      cmsghdr* c = CMSG_FIRSTHDR(&msg);
      c->cmsg_level = IPPROTO_IP;
      c->cmsg_type = IP_PKTINFO;
      c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
      in_pktinfo info{};
      info.ipi_ifindex = if_indexes_[slot];
      info.ipi_spec_dst.s_addr = local_addresses_[slot];
      std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
  }
  ssize_t sent;
  do {
    sent = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    Status failed = SocketStatus(errno);
    NoticeSocketError(failed);
    return failed;
  }
  return {};
}

Status Transport::SendAll(Bytes datagram) {
  for (int j = 0; j < interface_count_; ++j) {
    const int fd = sockets_[static_cast<size_t>(j)];
    if (fd == kNoSocket) continue;
    if (Status sent = SendOne(fd, datagram); !sent) return sent;  // noticed by SendOne
  }
  return {};
}

Result<Received> Transport::Receive(int socket, MutableBytes buffer, int timeout_seconds) {
  return ReceiveMs(socket, buffer, int64_t{timeout_seconds} * 1000);
}

int Transport::DiscardQueued() {
  int dropped = 0;
  std::array<uint8_t, 1> byte;
  for (int slot = 0; slot < interface_count_; ++slot) {
    const int fd = sockets_[static_cast<size_t>(slot)];
    if (fd < 0) continue;
    while (::recv(fd, byte.data(), byte.size(), MSG_DONTWAIT) >= 0) ++dropped;
  }
  return dropped;
}

Result<Received> Transport::ReceiveMs(int socket, MutableBytes buffer, int64_t timeout_ms) {
  const int one[] = {socket};
  return ReceiveAnyMs(one, buffer, timeout_ms);
}

Result<Received> Transport::ReceiveAnyMs(std::span<const int> sockets, MutableBytes buffer,
                                         int64_t timeout_ms) {
  BusyScope busy(notices_);
  Result<Received> got = ReceiveDatagram(sockets, buffer, timeout_ms, clock_);
  return got;
}

Result<Received> ReceiveDatagram(std::span<const int> sockets, MutableBytes buffer,
                                 int64_t timeout_ms, Clock& clock) {
  std::array<pollfd, Transport::kMaxInterfaces> polled{};
  size_t count = 0;
  for (int socket : sockets) {
    if (socket < 0) continue;
    if (count == polled.size()) break;
    polled[count++] = pollfd{socket, POLLIN, 0};
  }
  if (count == 0) return SocketStatus(ENOTSOCK);
  const int64_t start = clock.NowMs();
  // An empty datagram would read as a time-out (0) and end the caller's wait early, so
  // it is dropped and the wait goes on for the time that is left; so does a wait whose
  // datagram another reader took first.
  for (bool first = true;; first = false) {
    const int64_t left = timeout_ms - (clock.NowMs() - start);
    if (!first && left <= 0) return Received{};
    const int64_t real_ms = left > 0 ? clock.RealWaitMs(left) : 0;
    // A long wait is cut into the clock's slices, with its keep-alive between them.
    const int64_t slice = clock.WaitSliceMs();
    const bool sliced = slice > 0 && real_ms > slice;
    int ready;
    do {
      for (size_t i = 0; i < count; ++i) polled[i].revents = 0;
      ready = ::poll(polled.data(), count, PollMs(sliced ? slice : real_ms));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return SocketStatus(errno);
    if (ready == 0) {
      if (!sliced) return Received{};
      clock.KeepAlive();
      continue;
    }
    // The first socket in the caller's order that has a datagram.
    int socket = polled[0].fd;
    for (size_t i = 0; i < count; ++i) {
      if (polled[i].revents != 0) {
        socket = polled[i].fd;
        break;
      }
    }
    // Straight into the caller's buffer (nothing shared); MSG_TRUNC gives the full length.
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    ssize_t n;
    do {
      n = ::recvfrom(socket, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                     reinterpret_cast<sockaddr*>(&from), &from_len);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return SocketStatus(errno);
    if (n <= 0) continue;
    return Received{.length = static_cast<size_t>(n),
                    .socket = socket,
                    .from = from.sin_addr.s_addr,
                    .from_port = ntohs(from.sin_port)};
  }
}

void Transport::NoticeSocketError(const Status& error) {
  if (error.domain() != StatusDomain::kSocket) return;
  const std::string text = SocketErrorText(error.code());
  if (!text.empty()) notices_.Notice(NoticeLevel::kError, text);
}

}  // namespace zelin
