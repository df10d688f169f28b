#pragma once
// One TCP connection to a device server's command port (4000): connect with a
// time-out, the challenge-response login, sending and receiving whole messages.
// Firmware download builds on it, and so do the diagnostic program's and the
// monitor's own commands.
//
// Messages on this connection are small and each is read with one receive of at
// most 80 bytes; a message is whatever that receive returns.
//
// Every wait converts its time-out through the Clock; a destination outside
// 127.0.0.0/8 is refused when the options say loopback only (the refusal is shown
// through the Prompter). Owns its socket and closes it on Close() and destruction.
// Not thread safe.

#include <string_view>

#include "platform/clock.hpp"
#include "platform/prompter.hpp"
#include "protocol/bytes.hpp"
#include "protocol/transport.hpp"

namespace zelin {

class TcpSession {
 public:
  enum class ConnectStatus { kOk, kSocketFailed, kConnectFailed };
  enum class LoginStatus { kOk, kNoChallenge, kRefused };

  TcpSession(Clock& clock, Prompter& prompter, const TransportOptions& options);
  ~TcpSession();
  TcpSession(const TcpSession&) = delete;
  TcpSession& operator=(const TcpSession&) = delete;

  // Connects to address:port, waiting up to timeout_seconds of the clock. The same
  // time bounds every send afterwards, so a server that stops reading cannot hold
  // the caller for ever.
  ConnectStatus Connect(Ipv4 address, uint16_t port, int timeout_seconds);

  // Login request, challenge (exactly 0x14 0x04 + 4-byte nonce), answer with
  // MD5(password, nonce), result (exactly 0x00 0x01). Each wait lasts up to
  // timeout_seconds. kNoChallenge: nothing or a malformed challenge arrived;
  // kRefused: the answer was not accepted.
  LoginStatus Login(std::string_view password, int timeout_seconds);

  // Sends every byte; false on a socket error (see last_error()), ETIMEDOUT when the
  // server took nothing for the connect time-out.
  bool SendAll(Bytes data);

  // Waits up to timeout_seconds for data and receives once, at most buffer.size()
  // bytes. Returns the length received, 0 on time-out or when the peer closed, -1 on
  // a socket error.
  int ReceiveMessage(MutableBytes buffer, int timeout_seconds);

  void Close();
  bool is_open() const { return fd_ >= 0; }
  // errno of the last failed socket call.
  int last_error() const { return last_error_; }

 private:
  Clock& clock_;
  Prompter& prompter_;
  TransportOptions options_;
  int fd_ = -1;
  int last_error_ = 0;
};

}  // namespace zelin
