#include "portcheck/core/session.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>

#include "platform/text_format.hpp"
#include "protocol/address.hpp"
#include "protocol/frames.hpp"
#include "protocol/socket_address.hpp"
#include "protocol/types.hpp"

namespace zelin {

using portcheck::DiagDownloadResult;
using portcheck::LoginResult;
using portcheck::SessionError;

// --- status texts ------------------------------------------------------------------

std::string_view StatusCode<SessionError>::Describe(SessionError code) {
  switch (code) {
    case SessionError::kNone:
      break;
    case SessionError::kAlreadyOpen:
      return "the host interfaces are already open";
    case SessionError::kNoAddress:
      return "no host IPv4 address to use";
    case SessionError::kSocketFailed:
      return "no socket could be created";
    case SessionError::kNothingBound:
      return "no host interface socket could be bound";
    case SessionError::kNotFound:
      return "the server did not answer the search";
    case SessionError::kConnectFailed:
      return "no connection to the server";
    case SessionError::kAborted:
      return "aborted";
    case SessionError::kWaitFailed:
      return "the connection to the server failed";
    case SessionError::kNoReply:
      return "no valid reply from the server";
    case SessionError::kNotConnected:
      return "no session with the server";
    case SessionError::kCancelled:
      return "cancelled";
  }
  return "";
}

std::string_view StatusCode<LoginResult>::Describe(LoginResult code) {
  switch (code) {
    case LoginResult::kOk:
      break;
    case LoginResult::kWaitFailed:
      return "login: the connection failed";
    case LoginResult::kRefused:
      return "login: password refused";
    case LoginResult::kNoReply:
      return "login: no valid reply";
    case LoginResult::kAborted:
      return "login: aborted";
  }
  return "";
}

std::string_view StatusCode<DiagDownloadResult>::Describe(DiagDownloadResult code) {
  using R = DiagDownloadResult;
  switch (code) {
    case R::kOk:
      break;
    case R::kFileFailed:
      return "the firmware file cannot be read";
    case R::kReadyWaitFailed:
      return "the connection failed before the server was ready";
    case R::kReadyTimeout:
      return "the server did not get ready for the image";
    case R::kReadyLength:
    case R::kReadyCode:
      return "the server's ready reply is malformed";
    case R::kNotReady:
      return "the server cannot take the image";
    case R::kVerdictWaitFailed:
      return "the connection failed before the server's verdict";
    case R::kVerdictTimeout:
      return "the server gave no verdict on the image";
    case R::kVerdictLength:
    case R::kVerdictCode:
      return "the server's verdict is malformed";
    case R::kServerTimeout:
      return "the server timed out receiving the image";
    case R::kInvalidFormat:
      return "invalid firmware format";
    case R::kRejected:
      return "the server refused the image";
  }
  return "";
}

}  // namespace zelin

namespace zelin::portcheck {

// --- FoundServer --------------------------------------------------------------------

std::string FoundServer::name() const {
  const auto* begin = reinterpret_cast<const char*>(reply.data() + wire::kSrName);
  const size_t max = wire::kNameSize - 1;
  size_t n = 0;
  while (n < max && begin[n] != '\0') ++n;
  return std::string(begin, n);
}

// --- host interfaces ------------------------------------------------------------------

HostInterfaces::HostInterfaces(Clock& clock, NoticeSink& notices, TransportOptions options)
    : transport_(std::make_unique<Transport>(clock, notices, Deliverable::Diagnostic,
                                             std::move(options))) {}

HostInterfaces::~HostInterfaces() {
  Close();
}

Status HostInterfaces::Open() {
  if (open_) return SessionError::kAlreadyOpen;
  const Status opened = transport_->OpenTransport(kFirstLocalPort);
  if (!opened) {
    const bool no_address = transport_->interface_count() == 0;
    transport_->CloseTransport();
    return Status(no_address ? SessionError::kNoAddress : SessionError::kSocketFailed,
                  opened.message());
  }
  bool any = false;
  for (int j = 0; j < transport_->interface_count(); ++j) any = any || bound(j);
  if (!any) {
    transport_->CloseTransport();
    return SessionError::kNothingBound;
  }
  known_.assign(static_cast<size_t>(transport_->interface_count()), Known{});
  open_ = true;
  return {};
}

void HostInterfaces::Close() {
  if (!open_) return;
  transport_->CloseTransport();
  known_.clear();
  open_ = false;
}

int HostInterfaces::count() const {
  return open_ ? transport_->interface_count() : 0;
}

Ipv4 HostInterfaces::address(int slot) const {
  return slot >= 0 && slot < count() ? transport_->local_address(slot) : 0;
}

bool HostInterfaces::bound(int slot) const {
  return slot >= 0 && slot < transport_->interface_count() && transport_->socket(slot) != kNoSocket;
}

uint16_t HostInterfaces::local_port(int slot) const {
  return bound(slot) ? transport_->local_port(slot) : 0;
}

std::span<const Ipv4> HostInterfaces::known_servers(int slot) const {
  if (slot < 0 || static_cast<size_t>(slot) >= known_.size()) return {};
  return known_[static_cast<size_t>(slot)].servers;
}

int HostInterfaces::SlotOf(Ipv4 host_address) const {
  for (int j = 0; j < count(); ++j)
    if (transport_->local_address(j) == host_address) return j;
  return -1;
}

void HostInterfaces::NoteKnown(int slot, Ipv4 server) {
  for (Known& k : known_) std::erase(k.servers, server);
  auto& list = known_[static_cast<size_t>(slot)].servers;
  if (list.size() < kMaxKnownServers) list.push_back(server);
}

std::optional<SearchReading> ReadSearchReply(Bytes kept, size_t full_length) {
  if (!frames::IsSearchReplyShape(kept, full_length)) return std::nullopt;
  SearchReading r;
  FoundServer& found = r.found;
  std::copy_n(kept.begin(), found.reply.size(), found.reply.begin());
  r.accepted = GetLe16(found.reply, wire::kOffSequence) == 0 &&
               IsAcceptedBy(found.device_type(), Deliverable::Diagnostic);
  // The name as a string: its 30th byte is the terminator, and trailing blanks and
  // zero bytes go (the first character always stays).
  found.reply[wire::kSrName + wire::kNameSize - 1] = 0;
  for (size_t at = wire::kSrName + wire::kNameSize - 2;
       at > wire::kSrName && (found.reply[at] == ' ' || found.reply[at] == 0); --at)
    found.reply[at] = 0;
  return r;
}

std::optional<FoundServer> HostInterfaces::ReceiveOne(int slot, int64_t wait_ms) {
  std::array<uint8_t, wire::kReceiveBufferSize> buffer{};
  const int fd = transport_->socket(slot);
  if (fd == kNoSocket) return std::nullopt;
  for (;;) {
    const Result<Received> got = transport_->ReceiveMs(fd, buffer, wait_ms);
    if (!got || got->length == 0) return std::nullopt;
    const size_t kept = std::min(got->length, buffer.size());
    auto reading = ReadSearchReply(Bytes(buffer.data(), kept), got->length);
    if (!reading) continue;
    FoundServer& found = reading->found;
    const int through = SlotOf(GetIpv4(found.reply, wire::kSrHostAddress));
    if (through < 0) continue;
    NoteKnown(through, found.ip_address());
    if (!reading->accepted) continue;
    found.interface_address = transport_->local_address(through);
    return found;
  }
}

void HostInterfaces::BroadcastSearch(SearchTable& table, int wait_seconds) {
  table = SearchTable{};
  if (!open_) return;
  auto round = [&](Bytes request, int64_t wait_ms) {
    transport_->SetDestination(kBroadcastAddress);
    (void)transport_->SendAll(request);  // a failed send shows as silence
    for (int j = 0; j < count(); ++j) {
      if (!bound(j)) continue;
      while (auto found = ReceiveOne(j, wait_ms)) {
        bool seen = false;
        for (int k = 0; k < table.count; ++k)
          seen = seen || table.records[static_cast<size_t>(k)].serial_number() ==
                             found->serial_number();
        if (!seen && table.count < static_cast<int>(kMaxSearchResults))
          table.records[static_cast<size_t>(table.count++)] = *found;
      }
    }
  };
  round(frames::BuildSearch(), kPollMs);
  if (table.count == 0) return;
  std::vector<ServerRecord> exclude(static_cast<size_t>(table.count));
  for (size_t k = 0; k < exclude.size(); ++k) exclude[k].search_reply = table.records[k].reply;
  round(frames::BuildSearch(exclude), int64_t{wait_seconds} * 1000);
}

Result<FoundServer> HostInterfaces::UnicastSearch(Ipv4 address, int wait_seconds) {
  if (!open_) return SessionError::kNotFound;
  bool any = false;
  for (int j = 0; j < count(); ++j) any = any || bound(j);
  if (!any) return SessionError::kNotFound;
  transport_->SetDestination(address);
  (void)transport_->SendAll(frames::BuildSearch());
  const int64_t wait_ms = int64_t{wait_seconds} * 1000;
  for (int j = 0; j < count(); ++j) {
    const auto& known = known_[static_cast<size_t>(j)].servers;
    if (std::find(known.begin(), known.end(), address) == known.end()) continue;
    if (auto found = ReceiveOne(j, wait_ms)) return *found;
    return SessionError::kNotFound;
  }
  for (int j = 0; j < count(); ++j) {
    if (!bound(j)) continue;
    if (auto found = ReceiveOne(j, wait_ms)) return *found;
  }
  return SessionError::kNotFound;
}

Result<FoundServer> HostInterfaces::SearchWithRetries(Ipv4 address,
                                                      const std::atomic<bool>& cancel,
                                                      int attempts) {
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0 && cancel.load()) return SessionError::kCancelled;
    if (auto found = UnicastSearch(address, 1)) return found;
  }
  return SessionError::kNotFound;
}

// --- the TCP session ----------------------------------------------------------------

DiagSession::DiagSession(Clock& clock, NoticeSink& notices, TransportOptions options)
    : clock_(clock), notices_(notices), options_(std::move(options)) {}

DiagSession::~DiagSession() {
  Close();
}

void DiagSession::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  peer_ = 0;
}

Status DiagSession::Open(Ipv4 address) {
  Close();
  abort_.Clear();
  if (options_.loopback_only && !IsLoopback(address)) {
    last_error_ = EPERM;
    Status refused(SessionError::kConnectFailed,
                   "Refused to connect to " + AddressToText(address) +
                       ": this program may only connect to loopback addresses (127.0.0.0/8).");
    notices_.Notice(NoticeLevel::kError, refused.message());
    return refused;
  }
  if (aborted()) return SessionError::kAborted;  // a Cancel or SKIP held since before
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd_ < 0) {
    last_error_ = errno;
    return SessionError::kSocketFailed;
  }
  const sockaddr_in sa = SocketAddress(address, wire::kServerTcpPort);
  for (int attempt = 0;; ++attempt) {
    if (::connect(fd_, AsSockaddr(sa), sizeof sa) == 0 || errno == EISCONN) break;
    const int error = errno;
    if (error == ECONNREFUSED || error == ECONNRESET || error == ETIMEDOUT ||
        error == EHOSTUNREACH || error == ENETUNREACH || error == ECONNABORTED) {
      // A failed attempt leaves the socket unusable for another connect here: start
      // the next attempt on a fresh one.
      ::close(fd_);
      fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
      if (fd_ < 0) {
        last_error_ = errno;
        return SessionError::kConnectFailed;
      }
    }
    last_error_ = error;
    if (aborted()) {
      Close();
      return SessionError::kAborted;
    }
    if (attempt >= kConnectRetries) {
      Close();
      return SessionError::kConnectFailed;
    }
    // A connect under way is given the retry step to complete (the next attempt then
    // finds it connected at once); a refused one sleeps the step.
    if (error == EINPROGRESS || error == EALREADY)
      (void)Poll(kConnectRetryMs, POLLOUT);
    else
      clock_.SleepMs(kConnectRetryMs);
  }
  const int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  peer_ = address;
  return {};
}

DiagSession::Wait DiagSession::Poll(int64_t ms, short events, bool abortable) {
  const int64_t start = clock_.NowMs();
  const int64_t slice = clock_.WaitSliceMs();
  for (bool first = true;; first = false) {
    const int64_t left = std::max<int64_t>(0, ms - (clock_.NowMs() - start));
    if (!first && left == 0) return Wait::kTimeout;
    // An abortable wait looks at the flag every kAbortCheckMs of the clock.
    const int64_t step = abortable ? std::min(left, kAbortCheckMs) : left;
    int64_t real_ms = step > 0 ? clock_.RealWaitMs(step) : 0;
    const bool sliced = slice > 0 && real_ms > slice;
    if (sliced) real_ms = slice;
    pollfd p{fd_, events, 0};
    int r;
    do {
      r = ::poll(&p, 1, static_cast<int>(std::clamp<int64_t>(real_ms, 0, INT_MAX)));
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
      last_error_ = errno;
      return Wait::kFailed;
    }
    if (r > 0) {
      // Hang-up or error with nothing left to read shows up at the receive.
      if ((p.revents & (POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0) {
        last_error_ = ECONNRESET;
        return Wait::kFailed;
      }
      return Wait::kReady;
    }
    if (sliced) clock_.KeepAlive();
    if (abortable && aborted()) return Wait::kTimeout;  // the caller sees the flag
  }
}

int DiagSession::ReceiveOnce(MutableBytes buffer) {
  ssize_t n;
  do {
    n = ::recv(fd_, buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    last_error_ = errno;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  }
  if (n == 0) {
    last_error_ = ECONNRESET;  // the server closed the connection
    return -1;
  }
  return static_cast<int>(n);
}

bool DiagSession::SendAll(Bytes data, int64_t timeout_ms, bool abortable) {
  if (fd_ < 0) return false;
  while (!data.empty()) {
    const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data = data.subspan(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Poll(timeout_ms, POLLOUT, abortable) == Wait::kReady) continue;
      last_error_ = ETIMEDOUT;
      return false;
    }
    last_error_ = errno;
    return false;
  }
  return true;
}

Status DiagSession::SessionLogin(std::string_view password) {
  if (fd_ < 0) return LoginResult::kWaitFailed;
  std::array<uint8_t, 256> buffer{};
  const uint8_t request = wire::kTcpLoginRequest;
  (void)SendAll(Bytes(&request, 1), kPollMs);  // a failed send shows as silence
  // Polls until one read is `expected` bytes (and, for the challenge, has its shape).
  auto await = [&](size_t expected, auto&& accept) -> LoginResult {
    for (int poll = 0; poll < kPollsPerReply; ++poll) {
      const Wait w = Poll(kPollMs, POLLIN);
      if (w == Wait::kFailed) return LoginResult::kWaitFailed;
      if (w == Wait::kReady) {
        const int n = ReceiveOnce(buffer);
        if (n < 0) return LoginResult::kWaitFailed;
        if (static_cast<size_t>(n) == expected &&
            accept(Bytes(buffer.data(), static_cast<size_t>(n))))
          return LoginResult::kOk;
      }
      if (aborted()) return LoginResult::kAborted;
    }
    return LoginResult::kNoReply;
  };
  std::optional<frames::Nonce> nonce;
  if (const LoginResult r = await(wire::kTcpChallengeSize,
                                  [&](Bytes m) { return (nonce = frames::ParseTcpChallenge(m)).has_value(); });
      r != LoginResult::kOk)
    return r;
  (void)SendAll(frames::BuildTcpLoginAnswer(password, *nonce), kPollMs);
  bool accepted = false;
  if (const LoginResult r = await(wire::kTcpReplySize,
                                  [&](Bytes m) {
                                    accepted = frames::IsTcpPair(m, wire::kTcpLoginResultTag,
                                                                 wire::kTcpLoginAccepted);
                                    return true;
                                  });
      r != LoginResult::kOk)
    return r;
  return accepted ? LoginResult::kOk : LoginResult::kRefused;
}

Result<PortStatusWords> DiagSession::GetPortStatus() {
  if (fd_ < 0) return SessionError::kNotConnected;
  const uint8_t request = wire::kTcpPortStatus;
  (void)SendAll(Bytes(&request, 1), kPollMs);
  std::array<uint8_t, 256> buffer{};
  for (int poll = 0; poll < kPollsPerReply; ++poll) {
    const Wait w = Poll(kPollMs, POLLIN);
    if (w == Wait::kFailed) return SessionError::kWaitFailed;
    if (w == Wait::kReady) {
      const int n = ReceiveOnce(buffer);
      if (n < 0) return SessionError::kWaitFailed;
      if (auto words = DecodePortStatusReply(Bytes(buffer.data(), static_cast<size_t>(n))))
        return *words;
    }
    if (aborted()) return SessionError::kAborted;
  }
  return SessionError::kNoReply;
}

std::optional<PortStatusWords> DecodePortStatusReply(Bytes m) {
  if (m.size() != wire::kPortStatusReplySize || m[0] != wire::kTcpPortStatus ||
      GetBe16(m, wire::kPortStatusLength) != wire::kPortStatusDataSize)
    return std::nullopt;
  PortStatusWords words{};
  for (size_t p = 0; p < words.size(); ++p) words[p] = GetLe32(m, wire::kPortStatusData + 4 * p);
  return words;
}

DiagDownloadResult DownloadReadyResult(Bytes reply) {
  using R = DiagDownloadResult;
  if (reply.size() != wire::kTcpReplySize) return R::kReadyLength;
  if (reply[0] != wire::kTcpDownload) return R::kReadyCode;
  if (reply[1] != wire::kTcpDownloadReady) return R::kNotReady;
  return R::kOk;
}

DiagDownloadResult DownloadVerdictResult(Bytes reply) {
  using R = DiagDownloadResult;
  if (reply.size() != wire::kTcpReplySize) return R::kVerdictLength;
  if (reply[0] != wire::kTcpDownload) return R::kVerdictCode;
  switch (reply[1]) {
    case wire::kTcpDownloadAccepted:
      return R::kOk;
    case wire::kTcpDownloadServerTimeout:
      return R::kServerTimeout;
    case wire::kTcpDownloadInvalidFormat:
      return R::kInvalidFormat;
    default:
      return R::kRejected;
  }
}

Status DiagSession::SendDiagnose(const DiagnoseCommand& command) {
  if (fd_ < 0) return SessionError::kNotConnected;
  if (!SendAll(command.Encode(), kPollMs)) return SessionError::kWaitFailed;
  return {};
}

Result<ProgressReport> DiagSession::ReceiveProgressReport() {
  if (fd_ < 0) return SessionError::kNotConnected;
  const Wait w = Poll(kPollMs, POLLIN);
  if (w == Wait::kFailed) return SessionError::kWaitFailed;
  if (w == Wait::kReady) {
    std::array<uint8_t, wire::kProgressReportSize> buffer{};
    const int n = ReceiveOnce(buffer);
    if (n < 0) return SessionError::kWaitFailed;
    if (auto report = ProgressReport::Decode(Bytes(buffer.data(), static_cast<size_t>(n))))
      return *report;
  }
  if (aborted()) return SessionError::kAborted;
  return SessionError::kNoReply;
}

Status DiagSession::FirmwareDownload(const std::string& path, int wait_seconds) {
  using R = DiagDownloadResult;
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
  if (!file) return R::kFileFailed;
  long length = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) length = std::ftell(file.get());
  if (length < 0 || static_cast<unsigned long>(length) > 0xFFFFFFFFul ||
      std::fseek(file.get(), 0, SEEK_SET) != 0)
    return R::kFileFailed;
  const int64_t wait_ms = int64_t{wait_seconds} * 1000;
  std::array<uint8_t, wire::kTcpReceiveBufferSize> reply{};
  size_t got = 0;
  // One reply: a wait of up to wait_ms, then one read of at most 80 bytes (`got`).
  auto await = [&](R wait_failed, R timeout) -> std::optional<R> {
    if (fd_ < 0) return wait_failed;
    const Wait w = Poll(wait_ms, POLLIN, /*abortable=*/false);
    if (w == Wait::kFailed) return wait_failed;
    if (w != Wait::kReady) return timeout;
    const int n = ReceiveOnce(reply);
    if (n < 0) return wait_failed;
    got = static_cast<size_t>(n);
    return std::nullopt;
  };
  (void)SendAll(frames::BuildDownloadRequest(static_cast<uint32_t>(length)), wait_ms, false);
  if (auto failed = await(R::kReadyWaitFailed, R::kReadyTimeout)) return *failed;
  if (const R ready = DownloadReadyResult(Bytes(reply.data(), got)); ready != R::kOk) return ready;
  std::array<uint8_t, wire::kFirmwarePieceSize> piece{};
  for (size_t taken; (taken = std::fread(piece.data(), 1, piece.size(), file.get())) > 0;) {
    (void)SendAll(Bytes(piece.data(), taken), wait_ms, false);  // a broken send shows at the verdict
    clock_.SleepMs(kPiecePauseMs);
  }
  if (std::ferror(file.get())) return R::kFileFailed;
  if (auto failed = await(R::kVerdictWaitFailed, R::kVerdictTimeout)) return *failed;
  const R verdict = DownloadVerdictResult(Bytes(reply.data(), got));
  if (verdict == R::kOk) return {};
  return verdict;
}

// --- password dialog -------------------------------------------------------------------

PasswordDialog::PasswordDialog(DiagSession& session, Prompter& prompter, Ipv4 server,
                               std::string server_name, std::string& password)
    : session_(session),
      prompter_(prompter),
      server_(server),
      name_(std::move(server_name)),
      password_(password) {}

std::string PasswordDialog::AddressLine() const {
  return "Zelin Server " + AddressToText(server_);
}

void PasswordDialog::SetField(std::string_view text) {
  field_ = std::string(text.substr(0, kMaxPasswordField));
}

bool PasswordDialog::Ok() {
  password_ = field_;
  if (!session_.Open(server_)) {
    prompter_.Message("Fail to connect Zelin Server!");
    return false;
  }
  if (!session_.SessionLogin(password_)) {
    session_.Close();
    field_.clear();
    prompter_.Message(Format("Zelin Server %s (%s)\n          Password check fail!",
                             AddressToText(server_).c_str(), name_.c_str()));
    return false;
  }
  end_ = End::kOk;
  return true;
}

void PasswordDialog::Cancel() {
  if (!session_.Open(server_)) prompter_.Message("Fail to connect Zelin Server!");
  end_ = End::kCancel;
}

PasswordDialogRunner PromptedPasswordRunner(Prompter& prompter) {
  return [&prompter](PasswordDialog& dialog) {
    while (dialog.end() == PasswordDialog::End::kNone) {
      const auto answer = prompter.AskPassword(
          dialog.AddressLine() + "\n" + dialog.NameLine() + "\n" +
              std::string(PasswordDialog::kPrompt),
          kMaxPasswordField);
      if (!answer) {
        dialog.Cancel();
        return;
      }
      dialog.SetField(*answer);
      dialog.Ok();
    }
  };
}

Status LoginWithPrompt(DiagSession& session, const LoginTarget& target, Prompter& prompter,
                       const PasswordDialogRunner& run_dialog) {
  std::string scratch;
  std::string& password = target.password != nullptr ? *target.password : scratch;
  Status login = session.SessionLogin(password);
  if (login.ok() || !login.Is(LoginResult::kRefused)) return login;
  PasswordDialog dialog(session, prompter, target.address, target.name, password);
  if (run_dialog) run_dialog(dialog);
  if (dialog.end() == PasswordDialog::End::kOk) return {};
  return LoginResult::kRefused;
}

}  // namespace zelin::portcheck
