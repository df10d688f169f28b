#pragma once
// The diagnostic program's own session with device servers:
//
//  - HostInterfaces: one UDP socket per host address, bound from local port 5124
//    upwards (so that it runs beside the manager), with the list of servers whose
//    replies arrived through each interface; the broadcast search (with the
//    exclusion round) and the unicast search of one address.
//  - DiagSession: one TCP connection to port 4000 of one server, a protocol TcpSession
//    whose connect is retried every 100 ms for about 30 seconds; every later wait is
//    made of 1-second polls. A raised AbortFlag ends any wait within 100 ms (the
//    session's abort condition), except the firmware download's.
//    Commands: SessionLogin, GetPortStatus, the diagnose command with its progress
//    reports, and FirmwareDownload with its 100 ms pacing and the server's verdicts.
//  - PasswordDialog and LoginWithPrompt: the password prompt every caller but the
//    test engine goes through when the stored password is refused.
//
// Failures are Status values of the families below; their numeric codes are the
// ones the product shows ("Download fail (%d)!" takes DiagDownloadResult's code).
// Messages to the user go only through the Prompter given to the dialog; the
// sockets tell their notices (refused addresses, socket error texts) to the program's
// NoticeSink, but not their waits (NoticesWithoutBusy).
//
// Threads: a HostInterfaces and a DiagSession are used from one thread at a time (the
// test worker, the status-check worker, or the user-interface thread). Only
// DiagSession::RaiseAbort (the AbortFlag) may be called from another thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "platform/prompter.hpp"
#include "platform/status.hpp"
#include "portcheck/core/diag_messages.hpp"
#include "protocol/bytes.hpp"
#include "protocol/device_types.hpp"
#include "protocol/tcp_session.hpp"
#include "protocol/transport.hpp"
#include "protocol/wire.hpp"

namespace zelin::portcheck {

inline constexpr uint16_t kFirstLocalPort = wire::kMonitorFirstLocalPort;  // 5124
inline constexpr size_t kMaxKnownServers = 256;
inline constexpr size_t kMaxSearchResults = 32;
inline constexpr int64_t kConnectRetryMs = 100;
inline constexpr int kConnectRetries = 300;  // further attempts after the first
inline constexpr int kPollsPerReply = 30;    // 1-second polls for a login or status reply
inline constexpr int64_t kPollMs = 1000;
// A raised AbortFlag is seen this soon.
inline constexpr int64_t kAbortCheckMs = TcpSession::kAbortCheckMs;
inline constexpr int64_t kPiecePauseMs = 100;  // after each 2048-byte piece of an image
inline constexpr int kSearchAttempts = 30;     // unicast searches of one server per test
inline constexpr size_t kMaxPasswordField = 29;

// Session failures other than the login's and the download's.
enum class SessionError : int {
  kNone = 0,
  kAlreadyOpen = 1,    // Open interfaces while they are open
  kNoAddress = 2,      // the host has no IPv4 address to use
  kSocketFailed = 3,   // a socket could not be created
  kNothingBound = 4,   // no interface socket could be bound
  kNotFound = 5,       // no accepted search reply within the wait
  kConnectFailed = 6,  // no TCP connection within the retries
  kAborted = 7,        // the AbortFlag ended the operation
  kWaitFailed = 8,     // a wait failed, or the server closed the connection
  kNoReply = 9,        // no valid reply within the polls
  kNotConnected = 10,  // a command without an open session
  kCancelled = 11,     // the caller's cancel flag ended a series of attempts
};
}  // namespace zelin::portcheck
template <>
struct zelin::StatusCode<zelin::portcheck::SessionError> {
  static constexpr StatusDomain kDomain = StatusDomain::kDiagSession;
  static std::string_view Describe(portcheck::SessionError code);
};
namespace zelin::portcheck {

// SessionLogin's results, as the product numbers them (same domain, negative codes).
enum class LoginResult : int {
  kOk = 0,
  kWaitFailed = -1,
  kRefused = -2,
  kNoReply = -3,
  kAborted = -4,
};
}  // namespace zelin::portcheck
template <>
struct zelin::StatusCode<zelin::portcheck::LoginResult> {
  static constexpr StatusDomain kDomain = StatusDomain::kDiagSession;
  static std::string_view Describe(portcheck::LoginResult code);
};
namespace zelin::portcheck {

// FirmwareDownload's results, as the product numbers them.
enum class DiagDownloadResult : int {
  kOk = 0,
  kFileFailed = -1,         // the file cannot be opened (or read)
  kReadyWaitFailed = -2,    // waiting for "ready" failed
  kReadyTimeout = -3,       // no "ready" within the wait
  kReadyLength = -4,        // the "ready" reply is not 2 bytes
  kReadyCode = -5,          // ... does not start with 0x0D
  kNotReady = -6,           // ... its status is not 0
  kVerdictWaitFailed = -7,  // waiting for the verdict failed
  kVerdictTimeout = -8,     // no verdict within the wait
  kVerdictLength = -9,      // the verdict is not 2 bytes
  kVerdictCode = -10,       // ... does not start with 0x0D
  kServerTimeout = -11,     // verdict 0xFD: the server timed out receiving the image
  kInvalidFormat = -12,     // verdict 0xFC: invalid firmware format
  kRejected = -13,          // any other verdict
};
}  // namespace zelin::portcheck
template <>
struct zelin::StatusCode<zelin::portcheck::DiagDownloadResult> {
  static constexpr StatusDomain kDomain = StatusDomain::kDiagDownload;
  static std::string_view Describe(portcheck::DiagDownloadResult code);
};
namespace zelin::portcheck {

// One accepted search reply as the server sent it (the name made a string: byte 57
// and trailing blanks zeroed), with the host address it arrived through.
struct FoundServer {
  Ipv4 interface_address = 0;
  std::array<uint8_t, wire::kSearchReplySize> reply{};

  DeviceType device_type() const { return GetLe16(reply, wire::kSrDeviceType); }
  uint16_t serial_number() const { return GetLe16(reply, wire::kSrSerial); }
  uint32_t firmware_version() const { return GetLe32(reply, wire::kSrFirmware); }
  uint8_t port_count() const { return reply[wire::kSrPortCount]; }
  uint8_t port_kind(size_t port) const {
    return port < wire::kMaxPorts ? reply[wire::kSrPortKinds + port] : 0;
  }
  Ipv4 ip_address() const { return GetIpv4(reply, wire::kSrIpAddress); }
  std::string name() const;  // up to the first zero byte, at most 29 characters
};

// One datagram on a search socket as the program reads it: nothing unless it has the
// shape of a search reply (86 bytes arrived, 0x81, status 0); otherwise the reply with
// its name made a string (no host address yet), and whether the program takes it as
// an answer (sequence 0 and a model the diagnostic program serves). A reply it does not
// take still tells which interface knows the server.
struct SearchReading {
  FoundServer found;
  bool accepted = false;
};
std::optional<SearchReading> ReadSearchReply(Bytes kept, size_t full_length);

// The broadcast search's table: up to 32 servers, in the order they answered.
struct SearchTable {
  int count = 0;
  std::array<FoundServer, kMaxSearchResults> records{};
};

// The program's notices without the busy bracket: the diagnostic sockets wait on the
// workers' threads too, where the cursor must not be touched (the user-interface
// thread's searches show the wait cursor themselves).
class NoticesWithoutBusy final : public NoticeSink {
 public:
  explicit NoticesWithoutBusy(NoticeSink& to) : to_(to) {}
  void Notice(NoticeLevel level, std::string_view text) override { to_.Notice(level, text); }
  void BusyBegin() override {}
  void BusyEnd() override {}

 private:
  NoticeSink& to_;
};

// The host interface table. Open() fills it, Close() empties it (and the destructor).
class HostInterfaces {
 public:
  HostInterfaces(Clock& clock, NoticeSink& notices, TransportOptions options);
  ~HostInterfaces();
  HostInterfaces(const HostInterfaces&) = delete;
  HostInterfaces& operator=(const HostInterfaces&) = delete;

  // kAlreadyOpen when open; kNoAddress, kSocketFailed (the sockets already bound are
  // closed again), kNothingBound. An address whose socket cannot broadcast or bind
  // keeps no socket.
  Status Open();
  void Close();
  bool is_open() const { return open_; }

  int count() const;                   // interfaces (addresses), bound or not
  Ipv4 address(int slot) const;
  bool bound(int slot) const;
  uint16_t local_port(int slot) const;  // 0 when unbound
  // The servers whose replies last arrived through this interface.
  std::span<const Ipv4> known_servers(int slot) const;

  // Fills `table` (emptied first): Search to the broadcast address from every socket,
  // replies on each socket with 1-second waits until one ends with nothing; then, when
  // something was found, the Search that excludes the found servers, and replies with
  // waits of wait_seconds. A server (by serial number) is kept from its first reply.
  void BroadcastSearch(SearchTable& table, int wait_seconds);

  // Search to `address` from every socket; one accepted reply, waited for on the
  // socket of the interface that knows the address, else on each socket in turn
  // (wait_seconds each). kNotFound (at once when no socket is bound). The reply is
  // not checked to come from `address`: callers compare serial and address.
  Result<FoundServer> UnicastSearch(Ipv4 address, int wait_seconds);

  // UnicastSearch with 1-second waits, up to `attempts` times; before each further
  // attempt a set `cancel` ends the series with kCancelled.
  Result<FoundServer> SearchWithRetries(Ipv4 address, const std::atomic<bool>& cancel,
                                        int attempts = kSearchAttempts);

 private:
  struct Known {
    std::vector<Ipv4> servers;
  };
  // One accepted reply on `slot` with waits of wait_ms; nullopt when a wait ends empty.
  std::optional<FoundServer> ReceiveOne(int slot, int64_t wait_ms);
  void NoteKnown(int slot, Ipv4 server);
  int SlotOf(Ipv4 host_address) const;

  NoticesWithoutBusy notices_;
  std::unique_ptr<Transport> transport_;
  std::vector<Known> known_;
  bool open_ = false;
};

// Set by another thread to make the session's waits give up; cleared by Open (a
// caller's hold, DiagSession::set_abort_hold, outlasts that).
class AbortFlag {
 public:
  void Raise() { raised_.store(true, std::memory_order_relaxed); }
  void Clear() { raised_.store(false, std::memory_order_relaxed); }
  bool raised() const { return raised_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> raised_{false};
};

// The 16 port status words of GetPortStatus, port 1 first; wire::kPortClosed (-1)
// for a closed port.
using PortStatusWords = std::array<uint32_t, wire::kMaxPorts>;

// The client's readings of the server's TCP answers (each takes the bytes of one read):
// the port status reply (exactly 67 bytes: 0x0F, length 64 big-endian, 16 words
// little-endian; nothing for anything else), and the download's "ready" answer and
// verdict (kOk, or the code the program shows for that answer).
std::optional<PortStatusWords> DecodePortStatusReply(Bytes message);
DiagDownloadResult DownloadReadyResult(Bytes reply);
DiagDownloadResult DownloadVerdictResult(Bytes reply);

// The TCP session with one server (at most one at a time per object).
class DiagSession {
 public:
  DiagSession(Clock& clock, NoticeSink& notices, TransportOptions options);
  ~DiagSession();
  DiagSession(const DiagSession&) = delete;
  DiagSession& operator=(const DiagSession&) = delete;

  // Clears the AbortFlag and connects to port 4000 of `address`, retrying every 100 ms
  // up to 300 further times. kSocketFailed, kConnectFailed, kAborted. Closes any
  // session held before. A destination outside 127.0.0.0/8 is refused (with a notice)
  // when the options say loopback only.
  Status Open(Ipv4 address);
  void Close();
  bool is_open() const { return tcp_.is_open(); }
  Ipv4 peer() const { return peer_; }

  // Login request, challenge, answer with MD5(password, nonce), result. A LoginResult.
  Status SessionLogin(std::string_view password);

  // Sends 0x0F and waits for the 67-byte reply that carries length 64. kNoReply,
  // kWaitFailed, kAborted, kNotConnected.
  Result<PortStatusWords> GetPortStatus();

  // Sends the 10-byte diagnose command. kNotConnected, kWaitFailed (the send failed).
  Status SendDiagnose(const DiagnoseCommand& command);

  // One 1-second poll for a progress report (exactly 7 bytes starting with 0x0E).
  // kNoReply (nothing, or something else, arrived), kAborted (the flag was raised),
  // kWaitFailed (the wait failed or the server closed the connection: no report will
  // come any more), kNotConnected.
  Result<ProgressReport> ReceiveProgressReport();

  // Sends `path` to the server: request with the length, "ready", the image in
  // 2048-byte pieces with a 100 ms pause after each, the verdict. Each of the two
  // replies is waited for up to wait_seconds. Not ended by the AbortFlag. A
  // DiagDownloadResult.
  Status FirmwareDownload(const std::string& path, int wait_seconds);

  // The AbortFlag; RaiseAbort may be called from any thread.
  void RaiseAbort() { abort_.Raise(); }
  // A condition that acts as a raised AbortFlag while it is true, even after Open has
  // cleared the flag: the test run holds it with its cancel flag, the status check with
  // SKIP, so a press that came just before a connect is not forgotten by
  // it. Open gives up at once while it holds. Set by the thread that uses the session
  // (empty: none); the condition must only read atomics.
  void set_abort_hold(std::function<bool()> held) { hold_ = std::move(held); }
  bool abort_raised() const { return abort_.raised(); }
  AbortFlag& abort_flag() { return abort_; }

 private:
  // One poll: waits up to `seconds` for a message and reads it once, at most
  // buffer.size() bytes. The length read (0: nothing came, or the AbortFlag ended the
  // wait); nothing when the wait failed or the server closed the connection.
  std::optional<size_t> ReceiveOnce(MutableBytes buffer,
                                    int seconds = static_cast<int>(kPollMs / 1000));

  bool aborted() const { return abort_.raised() || (hold_ && hold_()); }

  Clock& clock_;
  NoticesWithoutBusy notices_;
  TcpSession tcp_;
  AbortFlag abort_;
  std::function<bool()> hold_;
  Ipv4 peer_ = 0;
  bool downloading_ = false;  // the download's waits are not ended by the AbortFlag
};

// The password dialog's model ("Zelin Server Password", modal, always on top). The
// caller gives the server's address and name and the configuration copy's password,
// which OK overwrites. The dialog uses the caller's session.
class PasswordDialog {
 public:
  enum class End { kNone, kOk, kCancel };

  PasswordDialog(DiagSession& session, Prompter& prompter, Ipv4 server, std::string server_name,
                 std::string& password);

  static constexpr std::string_view kTitle = "Zelin Server Password";
  static constexpr std::string_view kPrompt = "Please input the server's password";
  static constexpr std::string_view kLabel = "Password  :";
  std::string AddressLine() const;  // "Zelin Server 127.0.0.10"
  const std::string& NameLine() const { return name_; }

  // The password field (at most 29 characters; longer text is cut).
  const std::string& field() const { return field_; }
  void SetField(std::string_view text);

  // OK: stores the field as the password, opens a session and logs in. True when the
  // dialog ends with OK (the session stays open and logged in); false when it stays
  // open after a message ("Fail to connect Zelin Server!", or "... Password check
  // fail!" with the field emptied).
  bool Ok();
  // Cancel or closing: opens a new session to the server (which the caller closes;
  // "Fail to connect Zelin Server!" when that fails). The dialog ends with Cancel.
  void Cancel();
  End end() const { return end_; }

 private:
  DiagSession& session_;
  Prompter& prompter_;
  Ipv4 server_;
  std::string name_;
  std::string& password_;
  std::string field_;
  End end_ = End::kNone;
};

// Shows the dialog until it ends (OK or Cancel). The Qt program runs it as a modal
// window; PromptedPasswordRunner asks through Prompter::AskPassword.
using PasswordDialogRunner = std::function<void(PasswordDialog&)>;
PasswordDialogRunner PromptedPasswordRunner(Prompter& prompter);

// What LoginWithPrompt needs of one configured server.
struct LoginTarget {
  Ipv4 address = 0;
  std::string name;
  std::string* password = nullptr;  // in the configuration copy; the dialog may change it
};

// SessionLogin with the stored password on an open session; when the server refuses
// it (LoginResult::kRefused), the password dialog. Success when logged in directly or
// by the dialog ending with OK (the session is then open and logged in); the login's
// Status otherwise, LoginResult::kRefused when the dialog was cancelled.
Status LoginWithPrompt(DiagSession& session, const LoginTarget& target, Prompter& prompter,
                       const PasswordDialogRunner& run_dialog);

}  // namespace zelin::portcheck
