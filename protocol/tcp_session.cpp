#include "protocol/socket_address.hpp"
#include "protocol/tcp_session.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "protocol/address.hpp"
#include "protocol/frames.hpp"

namespace zelin {
namespace {

// A failed attempt that leaves the socket unusable for another connect: the next
// attempt starts on a fresh one.
bool NeedsFreshSocket(int error) {
  return error == ECONNREFUSED || error == ECONNRESET || error == ETIMEDOUT ||
         error == EHOSTUNREACH || error == ENETUNREACH || error == ECONNABORTED;
}

}  // namespace

std::string_view StatusCode<TcpSessionError>::Describe(TcpSessionError code) {
  static constexpr CodeText<TcpSessionError> kTexts[] = {
      {TcpSessionError::kSocketFailed, "no TCP socket"},
      {TcpSessionError::kConnectFailed, "no connection to the server"},
      {TcpSessionError::kNoChallenge, "the server sent no login challenge"},
      {TcpSessionError::kLoginRefused, "login refused"},
  };
  return TextOf(kTexts, code);
}

TcpSession::TcpSession(Clock& clock, NoticeSink& notices, const TransportOptions& options)
    : clock_(clock), notices_(notices), options_(options) {}

TcpSession::~TcpSession() {
  Close();
}

void TcpSession::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  peer_closed_ = false;
}

bool TcpSession::MayConnectTo(Ipv4 address) const {
  return !options_.loopback_only || IsLoopback(address);
}

bool TcpSession::OpenSocket() {
  if (fd_ >= 0) ::close(fd_);
  // Non-blocking for good: every send and receive waits in poll first.
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  return fd_ >= 0;
}

TcpSession::Wait TcpSession::WaitFor(short events, int64_t timeout_ms) {
  const int64_t start = clock_.NowMs();
  const int64_t slice = clock_.WaitSliceMs();
  for (bool first = true;; first = false) {
    const int64_t left = std::max<int64_t>(0, timeout_ms - (clock_.NowMs() - start));
    if (!first && left == 0) return Wait::kTimeout;
    const int64_t step = abort_ ? std::min(left, kAbortCheckMs) : left;
    int64_t real_ms = step > 0 ? clock_.RealWaitMs(step) : 0;
    const bool sliced = slice > 0 && real_ms > slice;
    if (sliced) real_ms = slice;
    pollfd p{fd_, events, 0};
    int r;
    do {
      r = ::poll(&p, 1, static_cast<int>(std::clamp<int64_t>(real_ms, 0, INT_MAX)));
    } while (r < 0 && errno == EINTR);
    if (r < 0) return Wait::kFailed;  // errno says why
    // Readiness includes an error or hang-up; the call that follows reports it.
    if (r > 0) return Wait::kReady;
    if (sliced) clock_.KeepAlive();
    if (Aborted()) return Wait::kAborted;
  }
}

bool TcpSession::Pause(int64_t ms) {
  if (!abort_) {
    clock_.SleepMs(ms);
    return true;
  }
  for (int64_t left = ms; left > 0; left -= kAbortCheckMs) {
    clock_.SleepMs(std::min(left, kAbortCheckMs));
    if (Aborted()) return false;
  }
  return true;
}

Status TcpSession::Connect(Ipv4 address, uint16_t port, int timeout_seconds) {
  const int64_t ms = int64_t{timeout_seconds} * 1000;
  return Connect(address, port, TcpConnectOptions{.attempt_ms = ms, .send_timeout_ms = ms});
}

Status TcpSession::Connect(Ipv4 address, uint16_t port, const TcpConnectOptions& how) {
  Close();
  if (!MayConnectTo(address)) {
    Status refused(TcpSessionError::kConnectFailed,
                   "Refused to connect to " + AddressToText(address) +
                       ": this program may only connect to loopback addresses (127.0.0.0/8).");
    notices_.Notice(NoticeLevel::kError, refused.message());
    return refused;
  }
  if (Aborted()) return TcpSessionError::kConnectFailed;  // raised before the first attempt
  if (!OpenSocket()) return TcpSessionError::kSocketFailed;
  send_timeout_ms_ = how.send_timeout_ms;
  const sockaddr_in sa = SocketAddress(address, port);
  for (int attempt = 0;; ++attempt) {
    int error = 0;
    if (::connect(fd_, AsSockaddr(sa), sizeof sa) != 0 && errno != EISCONN) error = errno;
    // A connection under way is given the attempt's time.
    bool under_way = error == EINPROGRESS || error == EALREADY;
    if (under_way) {
      const Wait w = WaitFor(POLLOUT, how.attempt_ms);
      if (w == Wait::kReady) {
        socklen_t len = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        under_way = false;
      } else if (w == Wait::kFailed) {
        error = errno;
        under_way = false;
      }
    }
    if (error == 0) break;
    if (Aborted() || attempt >= how.retries) {
      Close();
      return TcpSessionError::kConnectFailed;
    }
    if (under_way) continue;
    if (NeedsFreshSocket(error) && !OpenSocket()) return TcpSessionError::kConnectFailed;
    if (!Pause(how.attempt_ms)) {
      Close();
      return TcpSessionError::kConnectFailed;
    }
  }
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return {};
}

Status TcpSession::SendAll(Bytes data) {
  return SendAll(data, send_timeout_ms_);
}

Status TcpSession::SendAll(Bytes data, int64_t timeout_ms) {
  if (fd_ < 0) return SocketStatus(ENOTSOCK);
  while (!data.empty()) {
    const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      data = data.subspan(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return SocketStatus(errno);
    // The server takes nothing for now: wait until it does, or give up.
    switch (WaitFor(POLLOUT, timeout_ms)) {
      case Wait::kReady:
        continue;
      case Wait::kTimeout:
        return SocketStatus(ETIMEDOUT);  // the server has stopped reading
      case Wait::kAborted:
        return SocketStatus(ECANCELED);
      case Wait::kFailed:
        return SocketStatus(errno);
    }
  }
  return {};
}

Result<size_t> TcpSession::ReceiveMessage(MutableBytes buffer, int timeout_seconds) {
  if (fd_ < 0) return SocketStatus(ENOTSOCK);
  BusyScope busy(notices_);
  const Wait w = WaitFor(POLLIN, int64_t{timeout_seconds} * 1000);
  if (w == Wait::kFailed) return SocketStatus(errno);
  if (w != Wait::kReady) return size_t{0};
  ssize_t n;
  do {
    n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return size_t{0};
    return SocketStatus(errno);
  }
  if (n == 0 && !buffer.empty()) peer_closed_ = true;
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
