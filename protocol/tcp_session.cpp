#include "protocol/socket_address.hpp"
#include "protocol/tcp_session.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "protocol/address.hpp"
#include "protocol/frames.hpp"

namespace zelin {
namespace {

// Waits for `events` on fd up to timeout_ms of the clock, cut into the clock's slices
// with its keep-alive between them; 1 ready, 0 time-out, -1 error.
int WaitFor(Clock& clock, int fd, short events, int64_t timeout_ms) {
  const int64_t start = clock.NowMs();
  const int64_t slice = clock.WaitSliceMs();
  while (true) {
    const int64_t left = timeout_ms - (clock.NowMs() - start);
    const int64_t real_ms = left > 0 ? clock.RealWaitMs(left) : 0;
    const bool sliced = slice > 0 && real_ms > slice;
    pollfd p{fd, events, 0};
    const int ms = static_cast<int>(std::clamp<int64_t>(sliced ? slice : real_ms, 0, INT_MAX));
    int r;
    do {
      r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    if (r != 0 || !sliced) return r;
    clock.KeepAlive();
  }
}

}  // namespace

std::string_view StatusCode<TcpSessionError>::Describe(TcpSessionError code) {
  switch (code) {
    case TcpSessionError::kNone:
      break;
    case TcpSessionError::kSocketFailed:
      return "no TCP socket";
    case TcpSessionError::kConnectFailed:
      return "no connection to the server";
    case TcpSessionError::kNoChallenge:
      return "the server sent no login challenge";
    case TcpSessionError::kLoginRefused:
      return "login refused";
  }
  return "";
}

TcpSession::TcpSession(Clock& clock, NoticeSink& notices, const TransportOptions& options)
    : clock_(clock), notices_(notices), options_(options) {}

TcpSession::~TcpSession() {
  Close();
}

void TcpSession::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Status TcpSession::Connect(Ipv4 address, uint16_t port, int timeout_seconds) {
  Close();
  if (options_.loopback_only && !IsLoopback(address)) {
    Status refused(TcpSessionError::kConnectFailed,
                   "Refused to connect to " + AddressToText(address) +
                       ": this program may only connect to loopback addresses (127.0.0.0/8).");
    notices_.Notice(NoticeLevel::kError, refused.message());
    return refused;
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd_ < 0) return TcpSessionError::kSocketFailed;
  const sockaddr_in sa = SocketAddress(address, port);
  int r = ::connect(fd_, AsSockaddr(sa), sizeof sa);
  if (r != 0 && errno != EINPROGRESS) {
    Close();
    return TcpSessionError::kConnectFailed;
  }
  if (r != 0) {
    const int ready = WaitFor(clock_, fd_, POLLOUT, int64_t{timeout_seconds} * 1000);
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (ready <= 0 || ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0 ||
        so_error != 0) {
      Close();
      return TcpSessionError::kConnectFailed;
    }
  }
  // Blocking from here on; every receive waits in poll first.
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const int64_t send_ms = std::max<int64_t>(clock_.RealWaitMs(int64_t{timeout_seconds} * 1000), 1);
  timeval send_timeout{};
  send_timeout.tv_sec = static_cast<time_t>(send_ms / 1000);
  send_timeout.tv_usec = static_cast<suseconds_t>((send_ms % 1000) * 1000);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  return {};
}

Status TcpSession::SendAll(Bytes data) {
  if (fd_ < 0) return SocketStatus(ENOTSOCK);
  while (!data.empty()) {
    const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      // The send time-out ran out: the server has stopped reading.
      return SocketStatus(errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno);
    }
    data = data.subspan(static_cast<size_t>(n));
  }
  return {};
}

Result<size_t> TcpSession::ReceiveMessage(MutableBytes buffer, int timeout_seconds) {
  if (fd_ < 0) return SocketStatus(ENOTSOCK);
  BusyScope busy(notices_);
  const int ready = WaitFor(clock_, fd_, POLLIN, int64_t{timeout_seconds} * 1000);
  if (ready < 0) return SocketStatus(errno);
  if (ready == 0) return size_t{0};
  ssize_t n;
  do {
    n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return SocketStatus(errno);
  return static_cast<size_t>(n);
}

Bytes TcpSession::ReceiveBytes(MutableBytes buffer, int timeout_seconds) {
  return buffer.first(ReceiveMessage(buffer, timeout_seconds).value_or(0));
}

Status TcpSession::Login(std::string_view password, int timeout_seconds) {
  std::array<uint8_t, wire::kTcpReceiveBufferSize> buf{};
  const uint8_t request = wire::kTcpLoginRequest;
  if (!SendAll(Bytes(&request, 1))) return TcpSessionError::kNoChallenge;
  const auto nonce = frames::ParseTcpChallenge(ReceiveBytes(buf, timeout_seconds));
  if (!nonce) return TcpSessionError::kNoChallenge;
  if (!SendAll(frames::BuildTcpLoginAnswer(password, *nonce)))
    return TcpSessionError::kLoginRefused;
  if (!frames::IsTcpPair(ReceiveBytes(buf, timeout_seconds), wire::kTcpLoginResultTag,
                         wire::kTcpLoginAccepted))
    return TcpSessionError::kLoginRefused;
  return {};
}

}  // namespace zelin
