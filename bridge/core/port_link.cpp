#include "bridge/core/port_link.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "protocol/address.hpp"
#include "protocol/rfc2217.hpp"
#include "protocol/socket_address.hpp"

namespace zelin::bridge {
namespace {

constexpr size_t kChunk = 16 * 1024;  // one read of the pty or the socket
// Encoded bytes handed to the socket in one send.
constexpr size_t kWireBatch = 64 * 1024;
// Settings changes waiting with data between them; beyond this the pty is not read
// until some are sent (a program that changes its settings between single bytes).
constexpr size_t kMaxSegments = 256;

// The device's settings with what the settings file fixes for the server.
bool ReadLine(const PtyEndpoint& pty, const ServerOptions& o, LineSettings& out) {
  if (!pty.ReadSettings(out)) return false;
  if (o.data_bits != 0) out.data_bits = o.data_bits;
  if (o.parity >= 0) out.parity = static_cast<Parity>(o.parity);
  return true;
}

int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void SetInt(int fd, int level, int name, int value) {
  ::setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

std::string_view StateName(LinkState state) {
  switch (state) {
    case LinkState::kConnecting: return "connecting";
    case LinkState::kNegotiating: return "negotiating";
    case LinkState::kConnected: return "connected";
    case LinkState::kRetrying: return "retrying";
    case LinkState::kRefused: return "refused";
    case LinkState::kIdle: return "idle";
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
  queue_.emplace_back();
  ReadLine(*pty_, target_.options, queue_.back().settings);
  if (target_.options.on_demand) {
    pty_->ReleaseSlave();
    SetState(LinkState::kIdle);
    next_check_ = NextTick(clock_.NowMs());
  } else {
    StartConnect();
  }
}

// Whether a program has the device open (the master reports no hang-up).
bool PortLink::DeviceOpen() const {
  pollfd p{pty_->master(), POLLIN, 0};
  return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

// on_open: after the last program closed the device, and once what it wrote is sent,
// DTR goes off and the connection closes.
void PortLink::MaybeRelease() {
  if (!closing_) return;
  if (state_ == LinkState::kConnected) {
    if (queued_ > 0 || WireBacklog() > 0) return;
    if (with_settings_) {
      codec_->EncodeControl(rfc2217::control::kDtrOff, wire_);
      Pump();
    }
  } else if (queued_ > 0 && state_ != LinkState::kRefused) {
    return;  // still to be delivered once connected
  }
  CloseSocket();
  closing_ = false;
  last_error_.clear();
  note_.clear();
  SetState(LinkState::kIdle);
  next_check_ = NextTick(clock_.NowMs());
  notices_.Notice(NoticeLevel::kWarning, Where() + ": device closed, server port released");
}

PortLink::~PortLink() { CloseSocket(); }

void PortLink::Retarget(PortTarget target) {
  if (target == target_) return;
  const bool same = target.SameConnection(target_);
  target_ = std::move(target);
  changed_ = true;
  if (same) return;
  CloseSocket();
  backoff_ms_ = limits_.backoff_first_ms;
  reported_failure_ = false;
  SetState(LinkState::kConnecting);
  StartConnect();
}

std::string PortLink::Where() const {
  return target_.port.com_name + " (" + AddressToText(target_.port.server) + ':' +
         std::to_string(target_.tcp_port()) + ' ' + std::string(ModeName(target_.options.mode)) +
         ')';
}

void PortLink::SetState(LinkState state) {
  if (state != state_ || since_unix_ms_ == 0) since_unix_ms_ = WallMs();
  state_ = state;
  changed_ = true;
}

void PortLink::CloseSocket() {
  in_connect_ = false;
  if (sock_ >= 0) ::close(sock_);
  sock_ = -1;
  codec_.reset();
  with_settings_ = false;
  wire_.clear();
  wire_off_ = 0;
}

void PortLink::StartConnect() {
  note_.clear();
  report_ = {};
  if (loopback_only_ && !IsLoopback(target_.port.server)) {
    SetState(LinkState::kRefused);
    last_error_ = AddressToText(target_.port.server) +
                  " is outside 127.0.0.0/8 and ZELIN_LOOPBACK_ONLY=1";
    notices_.Notice(NoticeLevel::kError, target_.port.com_name + ": " + last_error_);
    return;
  }
  sock_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (sock_ < 0) return Fail(std::string("socket: ") + std::strerror(errno));
  const ServerOptions& o = target_.options;
  SetInt(sock_, IPPROTO_TCP, TCP_NODELAY, 1);
  // A server that loses power sends neither FIN nor RST: keepalive finds an idle dead
  // link, the user time-out one with data waiting for its acknowledgement.
  SetInt(sock_, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetInt(sock_, IPPROTO_TCP, TCP_KEEPIDLE, o.keepalive_idle_s);
  SetInt(sock_, IPPROTO_TCP, TCP_KEEPINTVL, o.keepalive_interval_s);
  SetInt(sock_, IPPROTO_TCP, TCP_KEEPCNT, o.keepalive_count);
  SetInt(sock_, IPPROTO_TCP, TCP_USER_TIMEOUT, o.user_timeout_ms);
  const sockaddr_in sa = SocketAddress(target_.port.server, target_.tcp_port());
  // After a failure the port stays "retrying" (with its last error and since when)
  // through the attempts until one succeeds.
  if (state_ != LinkState::kRetrying) SetState(LinkState::kConnecting);
  if (::connect(sock_, AsSockaddr(sa), sizeof sa) == 0) return Connected();
  if (errno != EINPROGRESS) return Fail(std::strerror(errno));
  in_connect_ = true;
  deadline_ = clock_.NowMs() + limits_.connect_timeout_ms;
}

void PortLink::Connected() {
  backoff_ms_ = limits_.backoff_first_ms;
  reported_failure_ = false;
  last_error_.clear();
  codec_ = MakeCodec(target_.options.mode);
  codec_->Start(wire_);
  if (target_.options.mode == LinkMode::kRfc2217) {
    SetState(LinkState::kNegotiating);
    deadline_ = clock_.NowMs() + limits_.negotiate_ms;
    notices_.Notice(NoticeLevel::kWarning, Where() + ": connected, negotiating");
    Pump();  // the greeting
  } else {
    notices_.Notice(NoticeLevel::kWarning, Where() + ": connected");
    Negotiated(false);
  }
}

// The server agreed to the settings option (the whole set goes out before any data), or
// the link carries data without settings (raw, or a server that refused or did not
// answer).
void PortLink::Negotiated(bool agreed) {
  with_settings_ = agreed;
  sent_ = queue_.front().settings;
  if (agreed) {
    codec_->EncodeAll(sent_, wire_);
  } else if (target_.options.mode == LinkMode::kRfc2217) {
    note_ = codec_->agreement() == Agreement::kRefused
                ? "the server refused COM-PORT-OPTION: data flows without line settings"
                : "no answer to COM-PORT-OPTION in " + std::to_string(limits_.negotiate_ms) +
                      " ms: data flows without line settings";
    notices_.Notice(NoticeLevel::kWarning, Where() + ": " + note_);
  }
  SetState(LinkState::kConnected);
  next_check_ = NextTick(clock_.NowMs());
  Pump();
}

void PortLink::Fail(const std::string& what) {
  const bool was_connected = state_ == LinkState::kConnected || state_ == LinkState::kNegotiating;
  CloseSocket();
  last_error_ = what;
  SetState(LinkState::kRetrying);
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
  Segment& back = queue_.back();
  if (now == back.settings) return;
  changed_ = true;
  if (back.off < back.bytes.size()) {
    queue_.push_back({.settings = now, .bytes = {}, .off = 0});  // after the waiting data
  } else {
    back.settings = now;
  }
}

void PortLink::FillPoll(pollfd& pty, pollfd& socket) const {
  // on_open without a program: the master reports POLLHUP all the time; the tick looks.
  const bool unused = target_.options.on_demand && (state_ == LinkState::kIdle || closing_);
  pty.fd = unused ? -1 : pty_->master();
  pty.events = 0;
  pty.revents = 0;
  // POLLPRI: a flush by the program is seen even while the queue is full.
  pty.events = POLLPRI;
  if (queued_ < limits_.pending_limit && queue_.size() < kMaxSegments) pty.events |= POLLIN;
  if (to_pty_off_ < to_pty_.size()) pty.events |= POLLOUT;
  socket.fd = sock_;
  socket.events = 0;
  socket.revents = 0;
  if (in_connect_) {
    socket.events = POLLOUT;
  } else if (state_ == LinkState::kConnected || state_ == LinkState::kNegotiating) {
    // The end of the connection is always seen, even while the program's side is full.
    socket.events = POLLRDHUP;
    if (to_pty_off_ >= to_pty_.size()) socket.events |= POLLIN;
    if (WireBacklog() > 0) socket.events |= POLLOUT;
  }
}

void PortLink::Handle(const pollfd& pty, const pollfd& socket) {
  if (sock_ >= 0 && socket.fd == sock_ && socket.revents != 0) {
    if (in_connect_) {
      in_connect_ = false;
      int err = 0;
      socklen_t len = sizeof err;
      if (::getsockopt(sock_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      if (err != 0) {
        Fail(std::strerror(err));
      } else {
        Connected();
      }
    } else {
      if ((socket.revents & POLLERR) != 0) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(sock_, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
          Fail(std::strerror(err));
          return Handle(pty, pollfd{-1, 0, 0});
        }
      }
      if ((socket.revents & (POLLRDHUP | POLLHUP)) != 0) {
        ReadSocket(/*drain=*/true);
      } else if ((socket.revents & POLLIN) != 0) {
        ReadSocket(false);
      }
      if (sock_ >= 0 && (socket.revents & POLLOUT) != 0) Pump();
    }
  }
  if ((pty.revents & POLLOUT) != 0) WritePty();
  if ((pty.revents & POLLIN) != 0) {
    ReadPty(false);
  } else if ((pty.revents & POLLPRI) != 0) {
    ReadPty(true);
  }
  if (target_.options.on_demand && (pty.revents & POLLHUP) != 0 && !closing_) {
    ReadPty(false);  // what the program wrote before it closed
    closing_ = true;
    next_check_ = NextTick(clock_.NowMs());
  }
  MaybeRelease();
}

// Reads the program's data (packet mode: a status byte before each piece). With
// `status_only` the queue is full and one read takes the flush the kernel signalled
// (data that comes instead is kept all the same: at most one piece over the limit).
// One read takes what the pty holds (its line discipline passes at most 4095 bytes at a
// time, refilled by the kernel after the read: reading again at once mostly meets EAGAIN).
void PortLink::ReadPty(bool status_only) {
  CheckSettings();  // a change made before these bytes were written goes out first
  std::array<uint8_t, kChunk + 1> buf;
  while (status_only || queued_ < limits_.pending_limit) {
    const size_t room =
        status_only ? kChunk : std::min(kChunk, limits_.pending_limit - queued_);
    const ssize_t n = ::read(pty_->master(), buf.data(), room + 1);
    if (n <= 0) break;
    if (buf[0] != TIOCPKT_DATA) {
      OnPacketStatus(buf[0]);
      if (status_only) break;
      continue;
    }
    const size_t got = static_cast<size_t>(n) - 1;
    Segment& back = queue_.back();
    if (back.off > 0 && back.off == back.bytes.size()) {
      back.bytes.clear();
      back.off = 0;
    }
    back.bytes.insert(back.bytes.end(), buf.begin() + 1, buf.begin() + n);
    queued_ += got;
    if (status_only || got < room) break;
  }
  Pump();
}

// The program called tcflush: what it flushed is dropped here too and the server is
// asked to purge its buffer of that direction.
void PortLink::OnPacketStatus(uint8_t status) {
  uint8_t purge = 0;
  if ((status & TIOCPKT_FLUSHWRITE) != 0) {  // its output not yet sent
    for (Segment& seg : queue_) {
      seg.bytes.clear();
      seg.off = 0;
    }
    queue_.erase(queue_.begin(), queue_.end() - 1);
    queued_ = 0;
    purge |= rfc2217::kPurgeTransmit;
  }
  if ((status & TIOCPKT_FLUSHREAD) != 0) {  // its input not yet read
    to_pty_.clear();
    to_pty_off_ = 0;
    purge |= rfc2217::kPurgeReceive;
  }
  if (purge != 0 && with_settings_ && state_ == LinkState::kConnected) {
    codec_->EncodePurge(purge, wire_);
    Pump();
  }
}

std::string PortLink::Signal(std::optional<bool> dtr, std::optional<bool> rts, int break_ms) {
  if (state_ != LinkState::kConnected || !with_settings_)
    return target_.port.com_name + " is not connected with line settings (" +
           std::string(StateName(state_)) + (note_.empty() ? "" : ", " + note_) + ")";
  namespace c = rfc2217::control;
  if (dtr) codec_->EncodeControl(*dtr ? c::kDtrOn : c::kDtrOff, wire_);
  if (rts) codec_->EncodeControl(*rts ? c::kRtsOn : c::kRtsOff, wire_);
  if (break_ms > 0) {
    codec_->EncodeControl(c::kBreakOn, wire_);
    break_end_ = clock_.NowMs() + break_ms;
  }
  Pump();
  return {};
}

// Reads what the server sent. With `drain` (its end was seen) everything up to the end
// is taken, even past what the program's side holds now, so that the end is read.
void PortLink::ReadSocket(bool drain) {
  std::array<uint8_t, kChunk> buf;
  do {
    const ssize_t n = ::recv(sock_, buf.data(), buf.size(), 0);
    if (n == 0) return Fail("closed by the server");
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
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
    if (WireBacklog() > limits_.wire_limit)
      return Fail("the server sends requests without reading the answers");
  } while (drain);
  if (!(codec_->report() == report_)) {
    report_ = codec_->report();
    changed_ = true;
  }
  if (state_ == LinkState::kNegotiating && codec_->agreement() != Agreement::kPending)
    Negotiated(codec_->agreement() == Agreement::kAgreed);
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

// Moves the queue, in order, into the bytes for the socket: each segment's settings
// (when they differ from what the server has) before its data.
void PortLink::Fill() {
  if (state_ != LinkState::kConnected) return;
  while (WireBacklog() < kWireBatch) {
    Segment& front = queue_.front();
    if (!(front.settings == sent_)) {
      if (with_settings_) codec_->EncodeSettings(sent_, front.settings, wire_);
      sent_ = front.settings;
    }
    if (front.off < front.bytes.size()) {
      if (report_.suspended) break;  // the server asked for no data now
      const size_t n = std::min(front.bytes.size() - front.off, kWireBatch);
      codec_->EncodeData(std::span<const uint8_t>(front.bytes.data() + front.off, n), wire_);
      front.off += n;
      queued_ -= n;
      bytes_out_ += n;
      continue;
    }
    if (queue_.size() == 1) {
      front.bytes.clear();
      front.off = 0;
      break;
    }
    queue_.erase(queue_.begin());  // segments are few: usually one
  }
}

void PortLink::Pump() {
  if (sock_ < 0 || !codec_) return;
  while (true) {
    Fill();
    if (WireBacklog() == 0) break;
    const ssize_t n =
        ::send(sock_, wire_.data() + wire_off_, WireBacklog(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      return Fail(std::strerror(errno));
    }
    wire_off_ += static_cast<size_t>(n);
    if (WireBacklog() == 0) {
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
  if (target_.options.on_demand && (state_ == LinkState::kIdle || closing_) &&
      now >= next_check_) {
    next_check_ = NextTick(now);
    if (DeviceOpen()) {
      closing_ = false;
      if (state_ == LinkState::kIdle) {
        backoff_ms_ = limits_.backoff_first_ms;
        reported_failure_ = false;
        SetState(LinkState::kConnecting);
        StartConnect();
      }
    } else {
      MaybeRelease();
    }
    return;
  }
  if (now >= break_end_) {
    break_end_ = INT64_MAX;
    if (state_ == LinkState::kConnected && with_settings_) {
      codec_->EncodeControl(rfc2217::control::kBreakOff, wire_);
      Pump();
    }
  }
  if (in_connect_ && now >= deadline_) {
    in_connect_ = false;
    Fail("no answer");
  } else if (state_ == LinkState::kRetrying && sock_ < 0 && now >= deadline_) {
    StartConnect();
  } else if (state_ == LinkState::kNegotiating && now >= deadline_) {
    Negotiated(false);
  } else if (state_ == LinkState::kConnected && now >= next_check_) {
    next_check_ = NextTick(now);
    CheckSettings();
    Pump();
  }
}

int64_t PortLink::NextDeadline() const {
  int64_t due = INT64_MAX;
  switch (state_) {
    case LinkState::kIdle: due = next_check_; break;
    case LinkState::kRetrying:
    case LinkState::kNegotiating:
    case LinkState::kConnecting: due = deadline_; break;
    case LinkState::kConnected: due = std::min(next_check_, break_end_); break;
    case LinkState::kRefused: break;
  }
  return closing_ ? std::min(due, next_check_) : due;
}

PortStatus PortLink::Status() const {
  return {.target = target_,
          .device = pty_->device(),
          .link = pty_->link().string(),
          .state = state_,
          .since_unix_ms = since_unix_ms_,
          .bytes_in = bytes_in_,
          .bytes_out = bytes_out_,
          .pending = queued_,
          .settings = Describe(queue_.back().settings),
          .last_error = last_error_,
          .note = note_,
          .server = report_};
}

bool PortLink::TakeChanged() {
  const bool c = changed_;
  changed_ = false;
  return c;
}

}  // namespace zelin::bridge
