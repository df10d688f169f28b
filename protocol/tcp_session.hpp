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
// Close() and destruction. Not thread safe.

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

class TcpSession {
 public:
  TcpSession(Clock& clock, NoticeSink& notices, const TransportOptions& options);
  ~TcpSession();
  TcpSession(const TcpSession&) = delete;
  TcpSession& operator=(const TcpSession&) = delete;

  // Connects to address:port, waiting up to timeout_seconds of the clock. The same
  // time bounds every send afterwards, so a server that stops reading cannot hold
  // the caller for ever. kSocketFailed or kConnectFailed on failure.
  Status Connect(Ipv4 address, uint16_t port, int timeout_seconds);

  // Login request, challenge (exactly 0x14 0x04 + 4-byte nonce), answer with
  // MD5(password, nonce), result (exactly 0x00 0x01). Each wait lasts up to
  // timeout_seconds. kNoChallenge: the request could not be sent, or nothing or a
  // malformed challenge arrived; kLoginRefused: the answer was not accepted.
  Status Login(std::string_view password, int timeout_seconds);

  // Sends every byte; a socket Status on failure, ETIMEDOUT when the server took
  // nothing for the connect time-out.
  Status SendAll(Bytes data);

  // Waits up to timeout_seconds for data and receives once, at most buffer.size()
  // bytes. Returns the length received, 0 on time-out or when the peer closed; a socket
  // Status on a socket error (ENOTSOCK when the session is not open).
  Result<size_t> ReceiveMessage(MutableBytes buffer, int timeout_seconds);
  // ReceiveMessage as the part of `buffer` it filled: empty on time-out, when the peer
  // closed or on a socket error, for a caller that takes a message or nothing.
  Bytes ReceiveBytes(MutableBytes buffer, int timeout_seconds);

  void Close();
  bool is_open() const { return fd_ >= 0; }

 private:
  Clock& clock_;
  NoticeSink& notices_;
  TransportOptions options_;
  int fd_ = -1;
};

}  // namespace zelin
