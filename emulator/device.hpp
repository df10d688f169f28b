#pragma once
// One emulated device server without its sockets: identity, applied and staged
// settings, per-client authentication state, and the handling of one datagram or
// one TCP byte stream. The Lab owns the sockets, the clock, the faults and the log
// and asks a Device what to answer.
//
// Commands are found in handler tables keyed by command code (UdpDispatch,
// TcpDispatch). The core here checks framing, lengths, identity, sequence and
// digest and then calls the handler; new commands are added by registering a
// handler, without touching the core.
//
// Thread safety: none; the Lab serialises every call under its lock.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "emulator/lab_spec.hpp"
#include "protocol/bytes.hpp"
#include "protocol/md5.hpp"

namespace zelin::emulator {

using Nonce = std::array<uint8_t, 4>;

struct Endpoint {
  Ipv4 address = 0;
  uint16_t port = 0;  // host order
  auto operator<=>(const Endpoint&) const = default;
};
std::string EndpointText(const Endpoint& e);

// The settings that configuration commands stage and SaveAndRestart applies.
struct DeviceSettings {
  std::array<uint8_t, wire::kNameSize> name{};  // as on the wire: characters, then spaces
  Ipv4 ip = 0;
  Ipv4 netmask = 0;
  std::string password;
  std::array<uint8_t, wire::kMaxPorts> port_kinds{};
  uint8_t dhcp = 0;
  std::vector<AccessEntry> access;
  std::vector<RouteEntry> routes;
  bool operator==(const DeviceSettings&) const = default;

  std::string NameText() const;  // the name without its trailing spaces
};

// What the last firmware image looked like to the server.
struct ImageRecord {
  uint64_t size = 0;
  std::string md5_hex;
  bool accepted = false;
};

// Everything a test may look at; a copy is handed out as a snapshot.
struct DeviceState {
  DeviceType type = 0;
  uint16_t serial = 0;
  uint32_t firmware = 0;
  uint8_t flags = 0;  // bit 0 follows the applied password
  uint8_t port_count = 0;
  std::array<uint8_t, 6> hardware{};
  DeviceSettings applied;
  DeviceSettings staged;
  bool locating = false;
  bool restarting = false;  // silent between SaveAndRestart (or an upgrade) and the rebind
  bool bound = false;       // sockets open at the applied address
  int restarts = 0;
  int upgrades = 0;
  std::optional<ImageRecord> last_image;
  FirmwareRule firmware_rule;
  FaultSettings faults;
  bool strict_nonce = false;  // only the newest nonce handed out to a client opens a request
  size_t clients = 0;         // clients with authentication state
  DiagPlan diag;              // what the self-tests find
  int diagnoses = 0;          // diagnose commands taken
  PortTrafficSpec port_status;
  PortTraffic traffic;
};

// Who else uses an address (for CheckAddress): the other emulated servers and the
// lab's occupied addresses. Returns the hardware address of the user, if any.
class AddressOwners {
 public:
  virtual ~AddressOwners() = default;
  virtual std::optional<std::array<uint8_t, 6>> Owner(Ipv4 address,
                                                      const DeviceState& asking) const = 0;
};

// --- UDP handler table ----------------------------------------------------------

enum class FrameKind {
  kSearch,         // Search: no sequence check, fresh nonce, identity from the exclusion list
  kShort,          // 10 bytes, identity at 6/8, no digest
  kAuthenticated,  // 26-byte header with sequence, digest and identity at 22/24
  kUnsigned,       // the same header, but the digest field is not checked
};

class Device;

struct UdpContext {
  Device& device;
  Bytes request;                // the whole datagram, length already checked
  Endpoint from;                // the requesting client
  std::vector<uint8_t>& reply;  // pre-sized to the handler's reply size; header written later
  const AddressOwners& owners;
  bool restart_after_reply = false;  // set by SaveAndRestart
  std::string note;                  // added to the log verdict
};

// What a handler decided: a status for the reply header, or no reply at all.
struct HandlerResult {
  bool ignore = false;
  uint8_t status = wire::kStatusOk;
  std::string reason;  // why it was ignored or refused
  static HandlerResult Ok() { return {}; }
  static HandlerResult Status(uint8_t s, std::string why) { return {false, s, std::move(why)}; }
  static HandlerResult Ignore(std::string why) { return {true, 0, std::move(why)}; }
};

using UdpHandlerFn = HandlerResult (*)(UdpContext&);

struct UdpHandler {
  uint8_t code = 0;
  FrameKind frame = FrameKind::kAuthenticated;
  size_t request_size = 0;                  // exact size, or the base size when request_step > 0
  size_t request_step = 0;                  // > 0: request_size + n * step bytes for any n >= 0
  size_t reply_size = wire::kAckReplySize;  // handlers may resize the reply (>= 18 bytes)
  UdpHandlerFn handle = nullptr;
  bool any_model = false;  // device type 0 in the request names any model (serial must match)
};

// The handlers of one protocol keyed by their command code; a later Register of a code
// replaces the earlier handler.
template <typename Handler>
class Dispatch {
 public:
  void Register(const Handler& h) { handlers_[h.code] = h; }
  const Handler* Find(uint8_t code) const {
    const auto it = handlers_.find(code);
    return it == handlers_.end() ? nullptr : &it->second;
  }

 private:
  std::map<uint8_t, Handler> handlers_;
};

using UdpDispatch = Dispatch<UdpHandler>;

// Search, LocateOn/Off, the configuration commands, Login and Dhcp.
void RegisterStandardUdpHandlers(UdpDispatch& dispatch);

// --- TCP handler table (commands after the login) -----------------------------------

class TcpSession;

struct TcpContext {
  Device& device;
  TcpSession& session;
  Bytes request;              // exactly the handler's request size
  std::vector<uint8_t>& out;  // bytes to send, each reply appended whole
  std::string verdict = "ok";
};

// What a TCP handler wants after its reply: go on reading, or close the connection.
enum class TcpAction { kContinue, kClose };
using TcpHandlerFn = TcpAction (*)(TcpContext&);

struct TcpHandler {
  uint8_t code = 0;
  size_t request_size = 1;
  TcpHandlerFn handle = nullptr;
};

using TcpDispatch = Dispatch<TcpHandler>;

// The firmware download (0x0D), and the diagnostic commands below.
void RegisterStandardTcpHandlers(TcpDispatch& dispatch);
// Port status (0x0F) and the diagnose command (0x0E) with its stream of progress
// reports (emulator/diag_commands.cpp).
void RegisterDiagTcpHandlers(TcpDispatch& dispatch);

// The port status query (UDP) and the reset command (TCP) of the port status monitor.
void RegisterMonitorHandlers(UdpDispatch& udp, TcpDispatch& tcp);

// --- the device ---------------------------------------------------------------------

// The outcome of one datagram.
struct UdpOutcome {
  std::string verdict;            // "ok", "refused:<why>", "replayed", "ignored:<why>", ...
  int status = -1;                // reply status, -1 when nothing was answered
  int sequence = -1;              // request sequence, -1 when the frame has none
  std::vector<uint8_t> reply;     // empty: no answer
  std::vector<uint8_t> previous;  // the reply sent to this client before (for stale replies)
  bool restart_after_reply = false;
};

class Device {
 public:
  Device(const ServerSpec& desc, uint64_t seed, bool strict_nonce = false);

  const DeviceState& state() const { return state_; }
  DeviceState& mutable_state() { return state_; }

  UdpOutcome HandleDatagram(Bytes datagram, Endpoint from, const UdpDispatch& dispatch,
                            const AddressOwners& owners);

  // SaveAndRestart (`apply_staged`): the staged settings become the applied ones.
  // A restart after an accepted upgrade drops them instead (staged := applied).
  // Either way the device goes silent until the Lab rebinds it.
  void BeginRestart(bool apply_staged);

  Nonce FreshNonce();
  bool IsSelf(DeviceType type, uint16_t serial) const {
    return type == state_.type && serial == state_.serial;
  }
  // The flags byte as the device reports it: bit 0 from the applied password, bit 2
  // when `owners` has another host using the applied address.
  uint8_t ReportedFlags(const AddressOwners& owners) const;

 private:
  struct Client {
    bool known = false;
    bool after_search = false;         // the next request may use any nonce of the search replies
    std::vector<Nonce> search_nonces;  // handed out in search replies since the last exchange
    bool in_session = false;           // `nonce` and `expected_sequence` hold
    Nonce nonce{};                     // handed out in the last other reply
    uint16_t expected_sequence = 1;
    // One-entry replay cache: the authenticated request just answered and its
    // answer. A retransmission has the same command code, sequence and digest; the
    // rest of its bytes may differ (a SetPassword retry carries a new time stamp).
    // After an error status, which moved nothing on, a request at the same step
    // with other bytes is a new request and is judged afresh.
    bool has_last = false;
    uint8_t last_code = 0;
    uint16_t last_sequence = 0;
    Md5Digest last_digest{};
    std::vector<uint8_t> last_request;
    std::vector<uint8_t> last_answer;
    std::vector<uint8_t> last_reply;  // the last reply of any kind (for the stale fault)
    uint64_t last_use = 0;
  };
  Client& ClientFor(Endpoint from);
  void WriteReplyHeader(std::vector<uint8_t>& reply, uint8_t code, uint8_t status,
                        uint16_t sequence, const Nonce& nonce) const;

  DeviceState state_;
  std::map<Endpoint, Client> clients_;
  uint64_t use_counter_ = 0;
  std::mt19937_64 rng_;
};

// Handles the TCP byte stream of one connection to port 4000: login, then the
// commands of the TCP table; a firmware image is streamed without being kept
// (its size, first bytes and MD5 are). Partial input is buffered.
class TcpSession {
 public:
  struct Event {  // one request, for the log
    uint8_t code = 0;
    size_t length = 0;
    std::string verdict;
    std::vector<uint8_t> head;  // the request's first bytes
  };

  TcpSession(Device& device, const TcpDispatch& dispatch);
  ~TcpSession();
  TcpSession(const TcpSession&) = delete;
  TcpSession& operator=(const TcpSession&) = delete;

  // Feeds received bytes; appends what to send to `out` and what happened to
  // `events`. Returns kClose when the connection must end (after sending `out`).
  TcpAction Feed(Bytes in, std::vector<uint8_t>& out, std::vector<Event>& events);

  // Set when an accepted image asks the Lab to restart the device after the verdict.
  bool restart_requested() const { return restart_requested_; }
  void clear_restart_request() { restart_requested_ = false; }

  // Called by the download handler: the next `length` bytes are an image.
  void BeginImage(uint32_t length);
  // Called by a handler: restart the device once the reply has been sent.
  void RequestRestart() { restart_requested_ = true; }

  // Bytes a handler sends later: each `delay_ms` (lab clock) after the one scheduled
  // before it; an empty piece closes the connection once what came before is sent.
  // before it. The Lab takes them after each Feed and sends them when due.
  struct Scheduled {
    int64_t delay_ms = 0;
    std::vector<uint8_t> bytes;
  };
  void Schedule(int64_t delay_ms, std::vector<uint8_t> bytes) {
    scheduled_.push_back({delay_ms, std::move(bytes)});
  }
  std::vector<Scheduled> TakeScheduled() { return std::exchange(scheduled_, {}); }

 private:
  enum class Stage { kAwaitLogin, kAwaitAnswer, kReady, kImage, kClosed };
  TcpAction FinishImage(std::vector<uint8_t>& out, std::vector<Event>& events);

  Device& device_;
  const TcpDispatch& dispatch_;
  Stage stage_ = Stage::kAwaitLogin;
  Nonce challenge_{};
  std::vector<uint8_t> pending_;  // command bytes not yet complete (bounded)
  // Image being received.
  uint64_t image_length_ = 0;
  uint64_t image_received_ = 0;
  std::vector<uint8_t> image_head_;
  struct Md5Stream;
  std::unique_ptr<Md5Stream> md5_;
  bool restart_requested_ = false;
  std::vector<Scheduled> scheduled_;
};

}  // namespace zelin::emulator
