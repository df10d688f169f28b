#pragma once
// Raw loopback sockets and hand-built requests for the emulator's device-side
// tests. The requests are written here from the wire layouts, independently of the
// client library, so that the tests check the emulator against the layouts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/lab.hpp"
#include "protocol/bytes.hpp"
#include "protocol/md5.hpp"
#include "tests/support/loopback.hpp"

namespace zelin::testing {

using Datagram = std::vector<uint8_t>;
using emulator::Nonce;

// A UDP socket bound to a loopback address (any free port).
class UdpPeer {
 public:
  explicit UdpPeer(Ipv4 local);
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  void Send(Ipv4 to, Bytes datagram, uint16_t port = 1029);
  // One datagram, or nothing within `wait_ms` (a bound for the test, not a measurement).
  std::optional<Datagram> Receive(int wait_ms = 2000);
  // Every datagram until none arrives for `quiet_ms`.
  std::vector<Datagram> Drain(int quiet_ms = 150);
  // Waits (up to `wait_ms` each) for `n` datagrams, then takes any extra ones that
  // arrive within a short quiet period, so that a count can be checked exactly.
  std::vector<Datagram> Collect(size_t n, int wait_ms = 3000);
  Ipv4 address() const { return local_; }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  Ipv4 local_ = 0;
  uint16_t port_ = 0;
};

// A blocking TCP connection with a receive time-out.
class TcpPeer {
 public:
  TcpPeer(Ipv4 local, Ipv4 server, uint16_t port = 4000);
  ~TcpPeer();
  TcpPeer(const TcpPeer&) = delete;
  TcpPeer& operator=(const TcpPeer&) = delete;
  bool connected() const { return fd_ >= 0; }
  bool Send(Bytes bytes);
  // Reads until `n` bytes arrived, the peer closed or `wait_ms` passed.
  Datagram Read(size_t n, int wait_ms = 2000);
  // True when the server closed the connection (reads EOF) within `wait_ms`.
  bool ClosedByPeer(int wait_ms = 2000);
  void Close();

 private:
  int fd_ = -1;
};

// --- requests built from the layouts -------------------------------------------------

Datagram SearchRequest(const std::vector<std::pair<uint16_t, uint16_t>>& exclude = {});
Datagram ShortRequest(uint8_t code, uint16_t sequence, uint16_t type, uint16_t serial);
// A request with the 26-byte authenticated header followed by `payload`.
Datagram AuthRequest(uint8_t code, uint16_t sequence, std::string_view password, const Nonce& nonce,
                     uint16_t type, uint16_t serial, Bytes payload = {});
// The 40-byte SetPassword payload (offsets 26..65).
Datagram SetPasswordPayload(std::string_view current, std::string_view next, uint16_t serial,
                            uint32_t time);

Nonce NonceOf(const Datagram& reply);
uint16_t SequenceOf(const Datagram& reply);

// Tracks one client's sequence and nonce against one server, as a careful client does.
struct Session {
  UdpPeer& peer;
  Ipv4 server_ip;
  uint16_t type;
  uint16_t serial;
  std::string password;
  uint16_t sequence = 0;
  Nonce nonce{};

  // Unicast Search; takes the reply's nonce and sets the sequence to 1.
  std::optional<Datagram> Search();
  // Sends one authenticated request and waits for its reply; on a reply with status
  // 0 or 6 takes the nonce and advances the sequence.
  std::optional<Datagram> Request(uint8_t code, Bytes payload = {});
};

// A lab desc with the broadcast stand-in of `block` and no servers yet.
emulator::LabSpec LabIn(const LoopbackBlock& block, int64_t restart_ms = 30);
emulator::ServerSpec ServerAt(Ipv4 ip, uint16_t serial, uint16_t type = 771,
                              std::string password = "");

// Waits (bounded) until the server with `serial` has finished restarting.
bool WaitRestarted(const emulator::Lab& lab, uint16_t serial, int restarts);

}  // namespace zelin::testing
