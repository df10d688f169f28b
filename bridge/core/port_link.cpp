#include "bridge/core/port_link.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

#include "protocol/address.hpp"
#include "protocol/socket_address.hpp"

namespace zelin::bridge {
namespace {

constexpr size_t kChunk = 16 * 1024;  // one read of the pty or the socket

// The device's settings with what the settings file fixes for the server.
bool ReadLine(const PtyEndpoint& pty, const ServerOptions& o, LineSettings& out) {
  if (!pty.ReadSettings(out)) return false;
  if (o.data_bits != 0) out.data_bits = o.data_bits;
  if (o.parity >= 0) out.parity = static_cast<Parity>(o.parity);
  return true;
}

}  // namespace

std::string_view StateName(LinkState state) {
  switch (state) {
    case LinkState::kConnecting: return "connecting";
    case LinkState::kConnected: return "connected";
    case LinkState::kRetrying: return "retrying";
    case LinkState::kRefused: return "refused";
  }
  return "?";
}

PortLink::PortLink(std::unique_ptr<PtyEndpoint> pty, PortTarget target, Clock& clock,
                   NoticeSink& notices, const LinkLimits& limits, bool loopback_only)
    : pty_(std::move(pty)),
      target_(std::move(target)),
      clock_(clock),
      notices_(notices),
      limits_(limits),
      loopback_only_(loopback_only),
      backoff_ms_(limits.backoff_first_ms) {
  ReadLine(*pty_, target_.options, settings_);
  StartConnect();
}

PortLink::~PortLink() { CloseSocket(); }

void PortLink::Retarget(PortTarget target) {
  if (target == target_) return;
  target_ = std::move(target);
  CloseSocket();
  backoff_ms_ = limits_.backoff_first_ms;
  reported_failure_ = false;
  StartConnect();
}

std::string PortLink::Where() const {
  return target_.port.com_name + " (" + AddressToText(target_.port.server) + ':' +
         std::to_string(target_.tcp_port()) + ' ' + std::string(ModeName(target_.options.mode)) +
         ')';
}

void PortLink::CloseSocket() {
  if (sock_ >= 0) ::close(sock_);
  sock_ = -1;
  codec_.reset();
  wire_.clear();
  wire_off_ = 0;
}

void PortLink::StartConnect() {
  changed_ = true;
  if (loopback_only_ && !IsLoopback(target_.port.server)) {
    state_ = LinkState::kRefused;
    last_error_ = AddressToText(target_.port.server) +
                  " is outside 127.0.0.0/8 and ZELIN_LOOPBACK_ONLY=1";
    notices_.Notice(NoticeLevel::kError, target_.port.com_name + ": " + last_error_);
    return;
  }
  sock_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (sock_ < 0) return Fail(std::string("socket: ") + std::strerror(errno));
  const int one = 1;
  ::setsockopt(sock_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const sockaddr_in sa = SocketAddress(target_.port.server, target_.tcp_port());
  if (::connect(sock_, AsSockaddr(sa), sizeof sa) == 0) return Connected();
  if (errno != EINPROGRESS) return Fail(std::strerror(errno));
  state_ = LinkState::kConnecting;
  deadline_ = clock_.NowMs() + limits_.connect_timeout_ms;
}

void PortLink::Connected() {
  state_ = LinkState::kConnected;
  changed_ = true;
  backoff_ms_ = limits_.backoff_first_ms;
  reported_failure_ = false;
  last_error_.clear();
  codec_ = MakeCodec(target_.options.mode);
  ReadLine(*pty_, target_.options, settings_);
  sent_ = settings_;
  codec_->Start(sent_, wire_);
  next_check_ = NextTick(clock_.NowMs());
  notices_.Notice(NoticeLevel::kWarning, Where() + ": connected");
  Pump();
}

void PortLink::Fail(const std::string& what) {
  const bool was_connected = state_ == LinkState::kConnected;
  CloseSocket();
  state_ = LinkState::kRetrying;
  changed_ = true;
  last_error_ = what;
  deadline_ = clock_.NowMs() + backoff_ms_;
  backoff_ms_ = std::min(backoff_ms_ * 2, limits_.backoff_max_ms);
  if (was_connected || !reported_failure_) {
    notices_.Notice(NoticeLevel::kWarning,
                    Where() + (was_connected ? ": connection lost: " : ": cannot connect: ") +
                        what + "; retrying");
    reported_failure_ = true;
  }
}

void PortLink::CheckSettings() {
  LineSettings now;
  if (!ReadLine(*pty_, target_.options, now)) return;
  if (!(now == settings_)) {
    settings_ = now;
    changed_ = true;
  }
  if (state_ == LinkState::kConnected && codec_ && !(settings_ == sent_)) {
    codec_->EncodeSettings(sent_, settings_, wire_);
    sent_ = settings_;
  }
}

void PortLink::FillPoll(pollfd& pty, pollfd& socket) const {
  pty.fd = pty_->master();
  pty.events = 0;
  pty.revents = 0;
  if (pending_.size() < limits_.pending_limit) pty.events |= POLLIN;
  if (to_pty_off_ < to_pty_.size()) pty.events |= POLLOUT;
  socket.fd = sock_;
  socket.events = 0;
  socket.revents = 0;
  if (state_ == LinkState::kConnecting) {
    socket.events = POLLOUT;
  } else if (state_ == LinkState::kConnected) {
    if (to_pty_off_ >= to_pty_.size()) socket.events |= POLLIN;
    if (wire_off_ < wire_.size()) socket.events |= POLLOUT;
  }
}

void PortLink::Handle(const pollfd& pty, const pollfd& socket) {
  if (sock_ >= 0 && socket.fd == sock_ && socket.revents != 0) {
    if (state_ == LinkState::kConnecting) {
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(sock_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      if (err != 0) {
        Fail(std::strerror(err));
      } else {
        Connected();
      }
    } else if (state_ == LinkState::kConnected) {
      if ((socket.revents & (POLLIN | POLLHUP | POLLERR)) != 0) ReadSocket();
      if (state_ == LinkState::kConnected && (socket.revents & POLLOUT) != 0) Pump();
    }
  }
  if ((pty.revents & POLLOUT) != 0) WritePty();
  if ((pty.revents & POLLIN) != 0) ReadPty();
}

void PortLink::ReadPty() {
  CheckSettings();  // a change made before these bytes were written goes out first
  std::array<uint8_t, kChunk> buf;
  while (pending_.size() < limits_.pending_limit) {
    const size_t room = std::min(buf.size(), limits_.pending_limit - pending_.size());
    const ssize_t n = ::read(pty_->master(), buf.data(), room);
    if (n <= 0) break;
    pending_.insert(pending_.end(), buf.begin(), buf.begin() + n);
    if (static_cast<size_t>(n) < room) break;
  }
  Pump();
}

void PortLink::ReadSocket() {
  std::array<uint8_t, kChunk> buf;
  const ssize_t n = ::recv(sock_, buf.data(), buf.size(), 0);
  if (n == 0) return Fail("closed by the server");
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    return Fail(std::strerror(errno));
  }
  if (to_pty_off_ >= to_pty_.size()) {
    to_pty_.clear();
    to_pty_off_ = 0;
  }
  const size_t before = to_pty_.size();
  reply_.clear();
  codec_->Decode(std::span<const uint8_t>(buf.data(), static_cast<size_t>(n)), to_pty_, reply_);
  bytes_in_ += to_pty_.size() - before;
  wire_.insert(wire_.end(), reply_.begin(), reply_.end());
  WritePty();
  Pump();
}

void PortLink::WritePty() {
  while (to_pty_off_ < to_pty_.size()) {
    const ssize_t n =
        ::write(pty_->master(), to_pty_.data() + to_pty_off_, to_pty_.size() - to_pty_off_);
    if (n <= 0) break;
    to_pty_off_ += static_cast<size_t>(n);
  }
  if (to_pty_off_ >= to_pty_.size()) {
    to_pty_.clear();
    to_pty_off_ = 0;
  }
}

void PortLink::Pump() {
  if (state_ != LinkState::kConnected || !codec_) return;
  while (true) {
    if (!pending_.empty() && wire_.size() - wire_off_ < kChunk) {
      const size_t n = std::min(pending_.size(), kChunk);
      codec_->EncodeData(std::span<const uint8_t>(pending_.data(), n), wire_);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(n));
      bytes_out_ += n;
    }
    if (wire_off_ >= wire_.size()) break;
    const ssize_t n =
        ::send(sock_, wire_.data() + wire_off_, wire_.size() - wire_off_, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      return Fail(std::strerror(errno));
    }
    wire_off_ += static_cast<size_t>(n);
    if (wire_off_ >= wire_.size()) {
      wire_.clear();
      wire_off_ = 0;
    } else {
      break;  // the socket is full; poll says when it takes more
    }
  }
}

int64_t PortLink::NextTick(int64_t now) const {
  // On multiples of the interval, so that every connected port is checked in the same
  // wake of the loop instead of each in its own.
  const int64_t step = std::max<int64_t>(1, limits_.settings_check_ms);
  return (now / step + 1) * step;
}

void PortLink::OnTime(int64_t now) {
  if (state_ == LinkState::kRetrying && now >= deadline_) {
    StartConnect();
  } else if (state_ == LinkState::kConnecting && now >= deadline_) {
    Fail("no answer");
  } else if (state_ == LinkState::kConnected && now >= next_check_) {
    next_check_ = NextTick(now);
    CheckSettings();
    Pump();
  }
}

int64_t PortLink::NextDeadline() const {
  switch (state_) {
    case LinkState::kRetrying:
    case LinkState::kConnecting: return deadline_;
    case LinkState::kConnected: return next_check_;
    case LinkState::kRefused: break;
  }
  return INT64_MAX;
}

PortStatus PortLink::Status() const {
  return {.target = target_,
          .device = pty_->device(),
          .link = pty_->link().string(),
          .state = state_,
          .bytes_in = bytes_in_,
          .bytes_out = bytes_out_,
          .pending = pending_.size(),
          .settings = Describe(settings_),
          .last_error = last_error_};
}

bool PortLink::TakeChanged() {
  const bool c = changed_;
  changed_ = false;
  return c;
}

}  // namespace zelin::bridge
