#pragma once
// One bridged port: its pty endpoint and its TCP connection to the server port, driven
// by the bridge's poll loop (two poll entries per port, no thread, no timer of its own).
//
// The connection is opened without blocking; when it fails, times out or is lost, the
// port waits and tries again, the wait doubling from `backoff_first_ms` up to
// `backoff_max_ms` (reset by a successful connection). The pty and its link stay as
// they are meanwhile: what the program writes is kept, up to `pending_limit` bytes, and
// sent when the connection is back; beyond that the port stops reading the pty, so the
// program's writes block (or fail with EAGAIN) instead of losing data. Data from the
// server is read only as fast as the program's side of the pty takes it.
//
// The program's line settings are read from the pty before each read of its data and
// every `settings_check_ms` while connected (on the multiples of that interval, so that
// all ports are checked in one wake of the loop); a change goes out (in rfc2217 mode) before
// the data written after it. Every new connection starts with the current settings.

#include <poll.h>

#include <cstdint>
#include <memory>
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

enum class LinkState : uint8_t { kConnecting, kConnected, kRetrying, kRefused };
std::string_view StateName(LinkState state);  // "connecting", "connected", "retrying", "refused"

struct LinkLimits {
  size_t pending_limit = 64 * 1024;
  int64_t backoff_first_ms = 250;
  int64_t backoff_max_ms = 4000;
  int64_t connect_timeout_ms = 5000;
  int64_t settings_check_ms = 200;
};

struct PortTarget {
  MappedPort port;
  ServerOptions options;
  uint16_t tcp_port() const {
    return static_cast<uint16_t>(options.data_port_base + port.port_index);
  }
  bool operator==(const PortTarget&) const = default;
};

struct PortStatus {
  PortTarget target;
  std::string device;
  std::string link;
  LinkState state = LinkState::kConnecting;
  uint64_t bytes_in = 0;   // delivered to the program
  uint64_t bytes_out = 0;  // taken from the program for the server
  size_t pending = 0;      // program bytes waiting for the server
  std::string settings;    // Describe() of the program's line settings
  std::string last_error;
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
  // pty and the bytes the program wrote stay.
  void Retarget(PortTarget target);

  // Fills the port's two poll entries (the pty master, the socket or -1).
  void FillPoll(pollfd& pty, pollfd& socket) const;
  // Handles what poll reported on those entries.
  void Handle(const pollfd& pty, const pollfd& socket);
  // Runs what is due at `now` (a retry, a connect time-out, the settings check).
  void OnTime(int64_t now);
  // The clock time of the next thing due; INT64_MAX when nothing is.
  int64_t NextDeadline() const;

  PortStatus Status() const;
  uint64_t ByteTotal() const { return bytes_in_ + bytes_out_; }
  // True (once) when the state, the settings or the last error changed.
  bool TakeChanged();

 private:
  void StartConnect();
  void Connected();
  void Fail(const std::string& what);
  void CheckSettings();
  void ReadPty();
  void ReadSocket();
  void Pump();
  void WritePty();
  void CloseSocket();
  int64_t NextTick(int64_t now) const;
  std::string Where() const;

  std::unique_ptr<PtyEndpoint> pty_;
  PortTarget target_;
  Clock& clock_;
  NoticeSink& notices_;
  LinkLimits limits_;
  bool loopback_only_;

  int sock_ = -1;
  LinkState state_ = LinkState::kConnecting;
  std::unique_ptr<LinkCodec> codec_;
  int64_t deadline_ = 0;         // connect time-out or retry time
  int64_t next_check_ = 0;       // settings check while connected
  int64_t backoff_ms_ = 0;
  bool reported_failure_ = false;  // the current outage has been told once
  LineSettings settings_;        // as last read from the pty
  LineSettings sent_;            // as last sent to the server
  std::vector<uint8_t> pending_;  // program bytes not yet encoded
  std::vector<uint8_t> wire_;     // encoded bytes for the socket
  size_t wire_off_ = 0;
  std::vector<uint8_t> to_pty_;   // server data for the program
  size_t to_pty_off_ = 0;
  std::vector<uint8_t> reply_;    // scratch for negotiation answers
  uint64_t bytes_in_ = 0;
  uint64_t bytes_out_ = 0;
  std::string last_error_;
  bool changed_ = true;
};

}  // namespace zelin::bridge
