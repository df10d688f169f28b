#pragma once
// The UDP transport: one socket per host IPv4 address, each bound to a local port
// of the form first + 4096·k and allowed to broadcast, and one shared destination
// at server port 1029. A broadcast sent on the socket of interface j leaves through
// interface j.
//
// One Transport object owns the socket table, the local address table and the
// destination; the programs pass it by reference (the wizard
// borrows the manager's). It also carries the program's Clock, NoticeSink and
// Deliverable.
//
// Failures come back as a Status (a socket error: domain kSocket, errno as its code);
// socket error texts and refused addresses are also told to the notice sink as they
// happen, and every receive wait is a busy wait there.
//
// Not thread safe: the destination is shared by every call, and
// the notice sink belongs to the program's thread. A thread that only receives, on
// sockets that another thread sends on, uses ReceiveDatagram below.

#include <array>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "platform/status.hpp"
#include "protocol/bytes.hpp"
#include "protocol/device_types.hpp"
#include "protocol/types.hpp"

namespace zelin {

struct EnvironmentOptions;

// Where the transport may send and which host addresses it uses. Read from the
// environment (ZELIN_INTERFACES, ZELIN_BROADCAST, ZELIN_LOOPBACK_ONLY) and from
// the programs' matching command-line options.
struct TransportOptions {
  // Host addresses to use instead of listing the host's interfaces (network order).
  std::vector<Ipv4> interfaces;
  // Sent to in place of 255.255.255.255.
  std::optional<Ipv4> broadcast;
  // Refuse to send anywhere outside 127.0.0.0/8.
  bool loopback_only = false;

  // Reads the three variables. Unparsable values are left out of the options and named
  // in the problem Status (the programs refuse to start on one).
  static EnvironmentOptions FromEnvironment();
};

// What TransportOptions::FromEnvironment read, and an error naming every value it could
// not read (ok when none).
struct EnvironmentOptions {
  TransportOptions options;
  Status problem;
};

// One datagram taken by a receive: its full length (0: nothing came within the wait),
// the socket it came on and the sender's address and port (host order).
struct Received {
  size_t length = 0;
  int socket = kNoSocket;
  Ipv4 from = 0;
  uint16_t from_port = 0;
};

class Transport {
 public:
  static constexpr int kMaxInterfaces = 255;
  static constexpr int kSlots = 256;

  Transport(Clock& clock, NoticeSink& notices, Deliverable who, TransportOptions options = {});
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Fills the local address table and opens one socket per address, trying local ports
  // first_local_port + 4096·k up to 65535. Success when at least one local address
  // exists and no socket creation failed (an address whose socket cannot be bound is
  // left without a socket).
  Status OpenTransport(uint16_t first_local_port = wire::kManagerFirstLocalPort);
  void CloseTransport();

  // Uses sockets that another Transport opened (the wizard borrows the manager's):
  // copies the socket and local address tables. Borrowed sockets are never closed here.
  // A socket Status (EINVAL) for a count out of range or missing tables.
  Status AdoptSockets(const int* sockets, const Ipv4* local_addresses, int count);

  void SetDestination(Ipv4 address);
  Ipv4 destination() const { return destination_; }

  // Sends one datagram to the destination. A failure is a socket Status, whose text
  // (known codes only) and any refusal of the destination also go to the notice sink.
  Status SendOne(int socket, Bytes datagram);
  // SendOne on every slot that holds a socket, in slot order; stops at the first failure.
  Status SendAll(Bytes datagram);
  // Waits up to timeout_seconds (of the clock) for one datagram; copies at most
  // buffer.size() bytes. Received::length is the datagram's full length, 0 on time-out;
  // a socket error is a socket Status with errno as its code.
  Result<Received> Receive(int socket, MutableBytes buffer, int timeout_seconds);
  // Same with a time-out in milliseconds of the clock.
  Result<Received> ReceiveMs(int socket, MutableBytes buffer, int64_t timeout_ms);
  // Same on several sockets at once (negative entries are skipped): the first datagram
  // on any of them, from the first in the given order when several are ready.
  Result<Received> ReceiveAnyMs(std::span<const int> sockets, MutableBytes buffer,
                                int64_t timeout_ms);

  // Reads and drops every datagram already queued on the sockets, without waiting: what
  // is left there answers an exchange that is over (a server that answered on two
  // interfaces, a reply that came after its time-out) and must not pass for the answer
  // to the next request. Returns how many were dropped.
  int DiscardQueued();

  // Tells the notice sink the text of a socket error (known codes only).
  void NoticeSocketError(const Status& error);

  int interface_count() const { return interface_count_; }
  int socket(int slot) const { return sockets_[static_cast<size_t>(slot)]; }
  Ipv4 local_address(int slot) const { return local_addresses_[static_cast<size_t>(slot)]; }
  int primary_socket() const { return sockets_[0]; }
  // The local port the socket of `slot` is bound to, 0 when none.
  uint16_t local_port(int slot) const;

  Clock& clock() { return clock_; }
  NoticeSink& notices() { return notices_; }
  Deliverable deliverable() const { return who_; }
  const TransportOptions& options() const { return options_; }

  // True when the options allow sending to `address` (after broadcast substitution).
  bool MaySendTo(Ipv4 address) const;

  // Told the milliseconds still to wait, about once a second, while an exchange waits
  // for a server to restart after its save-and-restart reply; set by a program that
  // shows that wait. None by default.
  using RestartWaitObserver = std::function<void(int64_t ms_left)>;
  const RestartWaitObserver& restart_wait_observer() const { return restart_wait_observer_; }
  void set_restart_wait_observer(RestartWaitObserver observer) {
    restart_wait_observer_ = std::move(observer);
  }

 private:
  Clock& clock_;
  NoticeSink& notices_;
  Deliverable who_;
  TransportOptions options_;
  int interface_count_ = 0;
  std::array<int, kSlots> sockets_;
  std::array<Ipv4, kSlots> local_addresses_{};
  std::array<int, kSlots> if_indexes_{};  // host interface index per slot, for broadcasts
  Ipv4 destination_ = kBroadcastAddress;
  RestartWaitObserver restart_wait_observer_;
  bool borrowed_ = false;
};

// The wait and read under every receive of a Transport, with no state of its own: the
// first datagram on any of `sockets` (negative entries are skipped; the first in the
// given order when several are ready), at most buffer.size() bytes of it read straight
// into `buffer`, waiting up to timeout_ms of `clock` (in the clock's slices, with its
// keep-alive between them). An empty datagram is dropped and the wait goes on.
// Received::length is the full length, 0 when nothing came in time; a socket error is
// a socket Status with errno as its code. Tells no notice sink: safe on a socket that
// another thread sends on, from any thread that may use the clock (the monitor's
// worker receives with it while the user-interface thread sends).
Result<Received> ReceiveDatagram(std::span<const int> sockets, MutableBytes buffer,
                                 int64_t timeout_ms, Clock& clock);

// The message for a socket error code of the host (errno), or "" when none is shown.
std::string SocketErrorText(int error_code);

// A socket Status for errno `error_code`: `message` when given, else SocketErrorText,
// else the host's own text for the code.
Status SocketStatus(int error_code, std::string message = {});

}  // namespace zelin
