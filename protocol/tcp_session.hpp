#pragma once
// One TCP connection to a device server's command port (4000): connect with a
// time-out, the challenge-response login, sending and receiving whole messages.
// Firmware download builds on it, and so do the diagnostic program's and the
// monitor's own commands.
//
// Messages on this connection are small and each is read with one receive of at
// most 80 bytes; a message is whatever that receive returns.
//
// Every wait converts its time-out through the Clock and is a busy wait of the notice
// sink; a destination outside 127.0.0.0/8 is refused when the options say loopback
// only (the refusal also goes to the notice sink). Owns its socket and closes it on
// Close() and destruction. Not thread safe, except that the abort condition is read
// on the waiting thread and may watch flags that other threads raise.

#include <functional>
#include <string_view>

#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "platform/status.hpp"
#include "protocol/bytes.hpp"
#include "protocol/transport.hpp"

namespace zelin {

// The session's codes. A failed socket call of SendAll or ReceiveMessage is a socket
// Status (errno as its code).
enum class TcpSessionError : int {
  kNone = 0,
  kSocketFailed = 1,   // no TCP socket could be created
  kConnectFailed = 2,  // the connection failed, timed out or was refused here
  kNoChallenge = 3,    // login: no challenge, or a malformed one, arrived
  kLoginRefused = 4,   // login: the server did not accept the answer
};
template <>
struct StatusCode<TcpSessionError> {
  static constexpr StatusDomain kDomain = StatusDomain::kTcpSession;
  static std::string_view Describe(TcpSessionError code);
};

// How Connect tries: one attempt that waits the whole time-out (the default of
// Connect with seconds), or a series of short attempts (the diagnostic program's
// connect, every 100 ms for about 30 seconds).
struct TcpConnectOptions {
  // How long one attempt waits for the connection, in milliseconds of the clock.
  int64_t attempt_ms = 0;
  // Further attempts after the first. A refused attempt is followed, attempt_ms later,
  // by one on a fresh socket; a connection still under way is given the next
  // attempt's time too, without starting again.
  int retries = 0;
  // Bounds every send of the session (SendAll without its own time-out): a server that
  // takes nothing for this long fails the send with ETIMEDOUT. Milliseconds of the clock.
  int64_t send_timeout_ms = 0;
};

class TcpSession {
 public:
  // How soon a raised abort condition ends a wait, in milliseconds of the clock.
  static constexpr int64_t kAbortCheckMs = 100;
  // Read during every wait; true ends it. Must only read atomics (or state of the
  // waiting thread).
  using AbortCondition = std::function<bool()>;

  TcpSession(Clock& clock, NoticeSink& notices, const TransportOptions& options);
  ~TcpSession();
  TcpSession(const TcpSession&) = delete;
  TcpSession& operator=(const TcpSession&) = delete;

  // Connects to address:port, waiting up to timeout_seconds of the clock. The same
  // time bounds every send afterwards, so a server that stops reading cannot hold
  // the caller for ever. kSocketFailed or kConnectFailed on failure.
  Status Connect(Ipv4 address, uint16_t port, int timeout_seconds);
  // Connects as `how` says. kSocketFailed when not even the first socket could be
  // made; kConnectFailed when the attempts ran out, the address was refused (see
  // MayConnectTo) or the abort condition held (before the first attempt too).
  Status Connect(Ipv4 address, uint16_t port, const TcpConnectOptions& how);

  // False when the options forbid connecting to `address` (loopback only).
  bool MayConnectTo(Ipv4 address) const;

  // Ends every later wait (connect attempts and their pauses, sends, receives) within
  // kAbortCheckMs of the clock once `condition` holds: a connect with kConnectFailed,
  // a send with ECANCELED, a receive as a time-out. The caller, who owns the
  // condition, tells an abort from a failure by it. Empty: waits are not ended early.
  void set_abort_condition(AbortCondition condition) { abort_ = std::move(condition); }

  // Login request, challenge (exactly 0x14 0x04 + 4-byte nonce), answer with
  // MD5(password, nonce), result (exactly 0x00 0x01). Each wait lasts up to
  // timeout_seconds. kNoChallenge: the request could not be sent, or nothing or a
  // malformed challenge arrived; kLoginRefused: the answer was not accepted.
  Status Login(std::string_view password, int timeout_seconds);

  // Sends every byte; a socket Status on failure, ETIMEDOUT when the server took
  // nothing for the connect's send time-out (or for timeout_ms).
  Status SendAll(Bytes data);
  Status SendAll(Bytes data, int64_t timeout_ms);

  // Waits up to timeout_seconds for data and receives once, at most buffer.size()
  // bytes. Returns the length received, 0 on time-out or when the peer closed; a socket
  // error is a socket Status with errno as its code (ENOTSOCK when the session is not open).
  Result<size_t> ReceiveMessage(MutableBytes buffer, int timeout_seconds);
  // ReceiveMessage as the part of `buffer` it filled: empty on time-out, when the peer
  // closed or on a socket error, for a caller that takes a message or nothing.
  Bytes ReceiveBytes(MutableBytes buffer, int timeout_seconds);

  void Close();
  bool is_open() const { return fd_ >= 0; }
  // True when a receive found the connection closed by the server (that receive
  // returned 0, as for a time-out); cleared by Connect and Close.
  bool peer_closed() const { return peer_closed_; }

 private:
  enum class Wait { kReady, kTimeout, kAborted, kFailed };
  // Waits for `events` up to timeout_ms of the clock, in the clock's slices with its
  // keep-alive between them, and in steps of kAbortCheckMs while there is an abort
  // condition. kFailed leaves poll's errno in errno.
  Wait WaitFor(short events, int64_t timeout_ms);
  // Sleeps ms of the clock, in steps of kAbortCheckMs while there is an abort condition;
  // false when the condition ended it.
  bool Pause(int64_t ms);
  bool Aborted() const { return abort_ && abort_(); }
  bool OpenSocket();

  Clock& clock_;
  NoticeSink& notices_;
  TransportOptions options_;
  AbortCondition abort_;
  int fd_ = -1;
  int64_t send_timeout_ms_ = 0;
  bool peer_closed_ = false;
};

}  // namespace zelin
