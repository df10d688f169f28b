#include "portcheck/core/session.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/text_format.hpp"
#include "protocol/address.hpp"
#include "protocol/frames.hpp"
#include "protocol/types.hpp"

namespace zelin {

using portcheck::DiagDownloadResult;
using portcheck::LoginResult;
using portcheck::SessionError;

// --- status texts ------------------------------------------------------------------

std::string_view StatusCode<SessionError>::Describe(SessionError code) {
  static constexpr CodeText<SessionError> kTexts[] = {
      {SessionError::kAlreadyOpen, "the host interfaces are already open"},
      {SessionError::kNoAddress, "no host IPv4 address to use"},
      {SessionError::kSocketFailed, "no socket could be created"},
      {SessionError::kNothingBound, "no host interface socket could be bound"},
      {SessionError::kNotFound, "the server did not answer the search"},
      {SessionError::kConnectFailed, "no connection to the server"},
      {SessionError::kAborted, "aborted"},
      {SessionError::kWaitFailed, "the connection to the server failed"},
      {SessionError::kNoReply, "no valid reply from the server"},
      {SessionError::kNotConnected, "no session with the server"},
      {SessionError::kCancelled, "cancelled"},
  };
  return TextOf(kTexts, code);
}

std::string_view StatusCode<LoginResult>::Describe(LoginResult code) {
  static constexpr CodeText<LoginResult> kTexts[] = {
      {LoginResult::kWaitFailed, "login: the connection failed"},
      {LoginResult::kRefused, "login: password refused"},
      {LoginResult::kNoReply, "login: no valid reply"},
      {LoginResult::kAborted, "login: aborted"},
  };
  return TextOf(kTexts, code);
}

std::string_view StatusCode<DiagDownloadResult>::Describe(DiagDownloadResult code) {
  static constexpr CodeText<DiagDownloadResult> kTexts[] = {
      {DiagDownloadResult::kFileFailed, "the firmware file cannot be read"},
      {DiagDownloadResult::kReadyWaitFailed, "the connection failed before the server was ready"},
      {DiagDownloadResult::kReadyTimeout, "the server did not get ready for the image"},
      {DiagDownloadResult::kReadyLength, "the server's ready reply is malformed"},
      {DiagDownloadResult::kReadyCode, "the server's ready reply is malformed"},
      {DiagDownloadResult::kNotReady, "the server cannot take the image"},
      {DiagDownloadResult::kVerdictWaitFailed, "the connection failed before the server's verdict"},
      {DiagDownloadResult::kVerdictTimeout, "the server gave no verdict on the image"},
      {DiagDownloadResult::kVerdictLength, "the server's verdict is malformed"},
      {DiagDownloadResult::kVerdictCode, "the server's verdict is malformed"},
      {DiagDownloadResult::kServerTimeout, "the server timed out receiving the image"},
      {DiagDownloadResult::kInvalidFormat, "invalid firmware format"},
      {DiagDownloadResult::kRejected, "the server refused the image"},
  };
  return TextOf(kTexts, code);
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
    : notices_(notices),
      transport_(std::make_unique<Transport>(clock, notices_, Deliverable::Diagnostic,
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

namespace {

// Every 100 ms for about 30 seconds; sends are bounded by one poll unless told otherwise.
constexpr TcpConnectOptions kConnectOptions{
    .attempt_ms = kConnectRetryMs, .retries = kConnectRetries, .send_timeout_ms = kPollMs};

}  // namespace

DiagSession::DiagSession(Clock& clock, NoticeSink& notices, TransportOptions options)
    : clock_(clock), notices_(notices), tcp_(clock, notices_, options) {
  tcp_.set_abort_condition([this] { return !downloading_ && aborted(); });
}

DiagSession::~DiagSession() {
  Close();
}

void DiagSession::Close() {
  tcp_.Close();
  peer_ = 0;
}

Status DiagSession::Open(Ipv4 address) {
  Close();
  abort_.Clear();
  const Status connected = tcp_.Connect(address, wire::kServerTcpPort, kConnectOptions);
  if (connected.ok()) {
    peer_ = address;
    return {};
  }
  if (!tcp_.MayConnectTo(address)) return Status(SessionError::kConnectFailed, connected.message());
  if (connected.Is(TcpSessionError::kSocketFailed)) return SessionError::kSocketFailed;
  if (aborted()) return SessionError::kAborted;  // a Cancel or SKIP, held since before or new
  return SessionError::kConnectFailed;
}

std::optional<size_t> DiagSession::ReceiveOnce(MutableBytes buffer, int seconds) {
  const Result<size_t> n = tcp_.ReceiveMessage(buffer, seconds);
  if (!n || tcp_.peer_closed()) return std::nullopt;
  return *n;
}

Status DiagSession::SessionLogin(std::string_view password) {
  if (!is_open()) return LoginResult::kWaitFailed;
  std::array<uint8_t, 256> buffer{};
  const uint8_t request = wire::kTcpLoginRequest;
  (void)tcp_.SendAll(Bytes(&request, 1));  // a failed send shows as silence
  // Polls until one read is `expected` bytes (and, for the challenge, has its shape).
  auto await = [&](size_t expected, auto&& accept) -> LoginResult {
    for (int poll = 0; poll < kPollsPerReply; ++poll) {
      const std::optional<size_t> n = ReceiveOnce(buffer);
      if (!n) return LoginResult::kWaitFailed;
      if (*n == expected && accept(Bytes(buffer.data(), *n))) return LoginResult::kOk;
      if (aborted()) return LoginResult::kAborted;
    }
    return LoginResult::kNoReply;
  };
  std::optional<frames::Nonce> nonce;
  if (const LoginResult r = await(wire::kTcpChallengeSize,
                                  [&](Bytes m) { return (nonce = frames::ParseTcpChallenge(m)).has_value(); });
      r != LoginResult::kOk)
    return r;
  (void)tcp_.SendAll(frames::BuildTcpLoginAnswer(password, *nonce));
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
  if (!is_open()) return SessionError::kNotConnected;
  const uint8_t request = wire::kTcpPortStatus;
  (void)tcp_.SendAll(Bytes(&request, 1));
  std::array<uint8_t, 256> buffer{};
  for (int poll = 0; poll < kPollsPerReply; ++poll) {
    const std::optional<size_t> n = ReceiveOnce(buffer);
    if (!n) return SessionError::kWaitFailed;
    if (auto words = DecodePortStatusReply(Bytes(buffer.data(), *n))) return *words;
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
  if (!is_open()) return SessionError::kNotConnected;
  if (!tcp_.SendAll(command.Encode())) return SessionError::kWaitFailed;
  return {};
}

Result<ProgressReport> DiagSession::ReceiveProgressReport() {
  if (!is_open()) return SessionError::kNotConnected;
  std::array<uint8_t, wire::kProgressReportSize> buffer{};
  const std::optional<size_t> n = ReceiveOnce(buffer);
  if (!n) return SessionError::kWaitFailed;
  if (auto report = ProgressReport::Decode(Bytes(buffer.data(), *n))) return *report;
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
  // The AbortFlag does not end the download's waits.
  struct Unabortable {
    bool& downloading;
    explicit Unabortable(bool& flag) : downloading(flag) { downloading = true; }
    ~Unabortable() { downloading = false; }
  } unabortable(downloading_);
  std::array<uint8_t, wire::kTcpReceiveBufferSize> reply{};
  size_t got = 0;
  // One reply: a wait of up to wait_seconds, then one read of at most 80 bytes (`got`).
  auto await = [&](R wait_failed, R timeout) -> std::optional<R> {
    if (!is_open()) return wait_failed;
    const std::optional<size_t> n = ReceiveOnce(reply, wait_seconds);
    if (!n) return wait_failed;
    if (*n == 0) return timeout;
    got = *n;
    return std::nullopt;
  };
  (void)tcp_.SendAll(frames::BuildDownloadRequest(static_cast<uint32_t>(length)), wait_ms);
  if (auto failed = await(R::kReadyWaitFailed, R::kReadyTimeout)) return *failed;
  if (const R ready = DownloadReadyResult(Bytes(reply.data(), got)); ready != R::kOk) return ready;
  std::array<uint8_t, wire::kFirmwarePieceSize> piece{};
  for (size_t taken; (taken = std::fread(piece.data(), 1, piece.size(), file.get())) > 0;) {
    (void)tcp_.SendAll(Bytes(piece.data(), taken), wait_ms);  // a broken send shows at the verdict
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
