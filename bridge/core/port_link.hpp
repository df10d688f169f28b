#pragma once
// One bridged port: its pty endpoint and its TCP connection to the server port, driven
// by the bridge's poll loop (two poll entries per port, no thread, no timer of its own).
//
// States: connecting (the first TCP connect), negotiating (rfc2217: waiting for the
// server to agree to COM-PORT-OPTION), connected, retrying (after a failure: waiting to
// reconnect and the attempts, until one succeeds), refused (never connected: loopback
// only), idle (connect = on_open: no program has the device open). Each change records
// when it happened.
//
// With connect = on_open the port does not hold the pty's slave itself: while no
// program has it open the master reports POLLHUP, so the port leaves the master out of
// the poll and looks (on the settings tick) for a program to open it; then it connects.
// When the last program closes the device, what it wrote is still delivered, then DTR
// is dropped (SET-CONTROL DTR off) and the connection closed: the port is idle and the
// server port free for other hosts.
//
// One ordered queue per port holds the program's data and its settings: a change of
// the program's settings starts a new segment, so the commands of the change go out
// after the data written before it and before the data written after it. After a
// connect, data is held until the server has agreed to the option and the whole set
// of settings has been sent; a server that refuses the option, or does not answer in
// `negotiate_ms`, gets the data without settings (the status says so). In raw mode data
// flows at once and settings stay local.
//
// The connection is opened without blocking; when it fails, times out or is lost, the
// port waits and tries again, the wait doubling from `backoff_first_ms` up to
// `backoff_max_ms` (reset by a successful connection). The pty and its link stay as
// they are meanwhile: what the program writes is kept, up to `pending_limit` bytes, and
// sent when the connection is back; beyond that the port stops reading the pty, so the
// program's writes block (or fail with EAGAIN) instead of losing data. Data from the
// server is read only as fast as the program's side of the pty takes it, but the socket
// is always watched for its end (POLLRDHUP, errors).
//
// Dead links: the socket has TCP keepalive (`keepalive_idle_s`, `keepalive_interval_s`,
// `keepalive_count`) and TCP_USER_TIMEOUT (`user_timeout_ms`), so a server that loses
// power is noticed within about idle + interval * count seconds when the link is idle
// and within the user time-out when data is waiting for its acknowledgement.
//
// Bounds: the bytes waiting for the socket (encoded data, commands and negotiation
// answers) never exceed `wire_limit`; a server that sends requests without reading
// the answers past that is dropped.
//
// The program's line settings are read from the pty before each read of its data and
// every `settings_check_ms` while connected (on the multiples of that interval, so that
// all ports are checked in one wake of the loop).

#include <poll.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/core/line_settings.hpp"
#include "bridge/core/link_codec.hpp"
#include "bridge/core/port_map.hpp"
#include "bridge/core/pty_endpoint.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"

namespace zelin::bridge {

enum class LinkState : uint8_t {
  kConnecting, kNegotiating, kConnected, kRetrying, kRefused, kIdle
};
// "connecting", "negotiating", "connected", "retrying", "refused", "idle"
std::string_view StateName(LinkState state);

struct LinkLimits {
  size_t pending_limit = 64 * 1024;
  size_t wire_limit = 256 * 1024;
  int64_t backoff_first_ms = 250;
  int64_t backoff_max_ms = 4000;
  int64_t connect_timeout_ms = 5000;
  int64_t negotiate_ms = 3000;
  int64_t settings_check_ms = 200;
};

struct PortTarget {
  MappedPort port;
  ServerOptions options;
  uint16_t tcp_port() const {
    return static_cast<uint16_t>(options.data_port_base + port.port_index);
  }
  bool operator==(const PortTarget&) const = default;
  // The same server port reached the same way (names, the "Transmission" option,
  // character size and parity may differ).
  bool SameConnection(const PortTarget& o) const {
    return port.server == o.port.server && port.port_index == o.port.port_index &&
           options.SameLink(o.options);
  }
};

struct PortStatus {
  PortTarget target;
  std::string device;
  std::string link;
  LinkState state = LinkState::kConnecting;
  int64_t since_unix_ms = 0;  // when the state last changed (wall clock)
  uint64_t bytes_in = 0;      // delivered to the program
  uint64_t bytes_out = 0;     // taken from the program for the server
  size_t pending = 0;         // program bytes waiting for the server
  std::string settings;       // Describe() of the program's line settings
  std::string last_error;
  std::string note;           // e.g. the server did not take the settings option
  ServerReport server;        // what the server said back (rfc2217)
};

class PortLink {
 public:
  // Starts connecting at once. With `loopback_only` an address outside 127.0.0.0/8 is
  // never connected (state kRefused).
  PortLink(std::unique_ptr<PtyEndpoint> pty, PortTarget target, Clock& clock,
           NoticeSink& notices, const LinkLimits& limits, bool loopback_only);
  ~PortLink();
  PortLink(const PortLink&) = delete;
  PortLink& operator=(const PortLink&) = delete;

  const PortTarget& target() const { return target_; }
  // Another server, port or mode for the same device: the connection starts over, the
  // pty and the bytes the program wrote stay. A change of names, of the "Transmission"
  // option, or of character size and parity (sent as settings, in order) does not
  // reconnect.
  void Retarget(PortTarget target);

  // Fills the port's two poll entries (the pty master, the socket or -1).
  void FillPoll(pollfd& pty, pollfd& socket) const;
  // Handles what poll reported on those entries.
  void Handle(const pollfd& pty, const pollfd& socket);
  // Runs what is due at `now` (a retry, a connect or negotiation time-out, the
  // settings check).
  void OnTime(int64_t now);
  // The clock time of the next thing due; INT64_MAX when nothing is.
  int64_t NextDeadline() const;

  // Modem lines and BREAK set by an administrator (a pty cannot carry them from the
  // program): SET-CONTROL DTR/RTS, and BREAK on for `break_ms` then off. Empty when
  // sent, else why not (the port is not connected with line settings).
  std::string Signal(std::optional<bool> dtr, std::optional<bool> rts, int break_ms);

  PortStatus Status() const;
  uint64_t ByteTotal() const { return bytes_in_ + bytes_out_; }
  // True (once) when the state, the settings, the server's report or the last error
  // changed.
  bool TakeChanged();

 private:
  struct Segment {
    LineSettings settings;       // in force for these bytes
    std::vector<uint8_t> bytes;  // the program's bytes
    size_t off = 0;              // how many of them are encoded
  };
  void SetState(LinkState state);
  void StartConnect();
  void Connected();
  void Negotiated(bool agreed);
  void Fail(const std::string& what);
  void CheckSettings();
  void ReadPty(bool status_only);
  bool DeviceOpen() const;
  void MaybeRelease();
  void OnPacketStatus(uint8_t status);
  void ReadSocket(bool drain);
  void Pump();
  void Fill();
  void WritePty();
  void CloseSocket();
  size_t WireBacklog() const { return wire_.size() - wire_off_; }
  int64_t NextTick(int64_t now) const;
  std::string Where() const;

  std::unique_ptr<PtyEndpoint> pty_;
  PortTarget target_;
  Clock& clock_;
  NoticeSink& notices_;
  LinkLimits limits_;
  bool loopback_only_;

  int sock_ = -1;
  bool in_connect_ = false;  // a connect is on its way
  bool closing_ = false;     // on_open: the last program closed the device
  LinkState state_ = LinkState::kConnecting;
  int64_t since_unix_ms_ = 0;
  std::unique_ptr<LinkCodec> codec_;
  bool with_settings_ = false;   // the server takes SET-* commands on this connection
  int64_t deadline_ = 0;         // connect or negotiation time-out, or retry time
  int64_t next_check_ = 0;       // settings check while connected
  int64_t break_end_ = INT64_MAX;  // when a BREAK set by Signal() ends
  int64_t backoff_ms_ = 0;
  bool reported_failure_ = false;  // the current outage has been told once
  LineSettings sent_;              // as last sent to the server
  std::vector<Segment> queue_;     // never empty; back() has the current settings
  size_t queued_ = 0;              // program bytes in the queue not yet encoded
  std::vector<uint8_t> wire_;      // encoded bytes for the socket
  size_t wire_off_ = 0;
  std::vector<uint8_t> to_pty_;    // server data for the program
  size_t to_pty_off_ = 0;
  std::vector<uint8_t> reply_;     // scratch for negotiation answers
  uint64_t bytes_in_ = 0;
  uint64_t bytes_out_ = 0;
  std::string last_error_;
  std::string note_;
  ServerReport report_;            // as last seen
  bool changed_ = true;
};

}  // namespace zelin::bridge
