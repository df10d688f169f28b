#include "monitor/core/polling.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <span>
#include <system_error>

#include "protocol/frames.hpp"

namespace zelin::monitor {
namespace {

// A worker pass reads at most this many datagrams from one socket before it goes on
// with the next server, so that a flood of foreign datagrams cannot hold it.
constexpr int kReadsPerCall = 64;
constexpr uint8_t kRefused = wire::kStatusRefused;
constexpr uint32_t kNoPorts = 0xFFFFFFFFu;  // four unused places

// The status block size of a reply of `length` bytes: 94 or 92, 0 when the length
// fits neither.
size_t BlockSizeOf(size_t length) {
  if (length < wire::kQueryReplyBlocks) return 0;
  const size_t body = length - wire::kQueryReplyBlocks;
  if (body % wire::kStatusBlockSize == 0) return wire::kStatusBlockSize;
  if (body % wire::kStatusBlockShortSize == 0) return wire::kStatusBlockShortSize;
  return 0;
}

// Place k of a reply with blocks of `size` bytes, when all of it was received.
bool HasBlock(size_t kept, size_t size, size_t k) {
  return size != 0 && wire::kQueryReplyBlocks + size * (k + 1) <= kept;
}

PortStatusBlock DecodeBlock(Bytes d, size_t size, size_t k) {
  const size_t at = wire::kQueryReplyBlocks + size * k;
  return size == wire::kStatusBlockSize ? PortStatusBlock::Decode(d, at)
                                        : PortStatusBlock::DecodeShort(d, at);
}

void MoveOn(ServerRecord& record, Bytes d) {
  record.nonce = frames::ReplyNonce(d);
  ++record.sequence;
}

// The receive loop of ReceiveStatusReply; `accepted` runs under the mutex right after a
// reply was stored.
template <typename OnAccepted>
ReplyOutcome ReceiveLoop(ServerRecord& record, MonitorConfig& config, int timeout_seconds,
                         Clock& clock, std::mutex* mutex, OnAccepted&& accepted) {
  std::array<uint8_t, kStatusReplySize> buffer;
  const int64_t start_s = clock.NowMs() / 1000;
  for (int reads = 0; reads < kReadsPerCall; ++reads) {
    if (clock.NowMs() / 1000 - start_s > timeout_seconds) break;
    // The worker receives on a socket that the caller's thread sends on: no Transport.
    const int socket[] = {record.socket};
    const Result<Received> got =
        ReceiveDatagram(socket, buffer, int64_t{timeout_seconds} * 1000, clock);
    if (!got || got->length == 0) break;
    const size_t kept = std::min(got->length, buffer.size());
    std::unique_lock<std::mutex> lock;
    if (mutex != nullptr) lock = std::unique_lock(*mutex);
    const ReplyOutcome out =
        AcceptStatusReply(Bytes(buffer.data(), kept), got->length, got->from, record, config);
    if (out.verdict == ReplyVerdict::kSkipped) continue;
    if (out.verdict == ReplyVerdict::kAccepted) accepted(out);
    return out;
  }
  return {ReplyVerdict::kNothing, 0, -1};
}

}  // namespace

std::vector<PortGroup> PortGroups(const MonitoredServer& server) {
  std::vector<PortGroup> groups;
  PortGroup group;
  group.fill(wire::kQueryPlaceUnused);
  size_t used = 0;
  const size_t ports = std::min<size_t>(server.port_count, kMaxPorts);
  for (size_t p = 0; p < ports; ++p) {
    if (!server.watches(p)) continue;
    group[used++] = static_cast<uint8_t>(p);
    if (used == group.size()) {
      groups.push_back(group);
      group.fill(wire::kQueryPlaceUnused);
      used = 0;
    }
  }
  if (used > 0) groups.push_back(group);
  return groups;
}

std::array<uint8_t, wire::kQueryPortsSize> BuildQueryPorts(const ServerRecord& record,
                                                           const PortGroup& group) {
  std::array<uint8_t, wire::kQueryPortsSize> d{};
  d[wire::kOffCode] = wire::kQueryPorts;
  PutBe16(d, wire::kOffLength, static_cast<uint16_t>(d.size()));
  PutLe16(d, wire::kOffSequence, static_cast<uint16_t>(record.sequence));
  PutLe16(d, wire::kAuthDeviceType, record.device_type());
  PutLe16(d, wire::kAuthSerial, record.serial_number());
  std::copy(group.begin(), group.end(), d.begin() + wire::kQueryPortsPlaces);
  return d;
}

ReplyOutcome AcceptStatusReply(Bytes d, size_t full_length, Ipv4 sender, ServerRecord& record,
                               MonitorConfig& config) {
  ReplyOutcome out;
  // The fixed part must be there whole; a datagram longer than any reply is no reply.
  if (d.size() < wire::kQueryReplyBlocks || full_length > kStatusReplySize ||
      d.size() != full_length)
    return out;
  if (d[wire::kOffCode] != (wire::kQueryPorts | wire::kReplyBit)) return out;
  const uint8_t status = d[wire::kOffStatus];
  if (status == kRefused) {
    MoveOn(record, d);
    out.verdict = ReplyVerdict::kNothing;
    return out;
  }
  if (status != wire::kStatusOk) return out;

  out.verdict = ReplyVerdict::kNothing;
  const uint16_t serial = GetLe16(d, wire::kReplySerial);
  const size_t size = BlockSizeOf(d.size());
  auto watched = config.watched();
  for (size_t i = 0; i < watched.size(); ++i) {
    MonitoredServer& s = watched[i];
    if (s.serial_number != serial) {
      if (s.ip_address != sender) continue;
      // Another server answers from this one's address: it is in conflict and keeps its
      // values; the silence check starts from the stamps that came.
      for (size_t k = 0; k < wire::kQueryPlaceCount; ++k) {
        const uint8_t p = d[wire::kQueryReplyPlaces + k];
        if (p >= kMaxPorts || !s.watches(p) || !HasBlock(d.size(), size, k)) continue;
        s.rates[p].silence_time_stamp =
            GetLe32(d, wire::kQueryReplyBlocks + size * k + wire::kSbTimeStamp);
      }
      StoreState(s, kStateAddressConflict);
      return out;
    }
    uint32_t ports = kNoPorts;
    uint32_t taken = 0;  // ports stored from an earlier place of this reply
    for (size_t k = 0; k < wire::kQueryPlaceCount; ++k) {
      const uint8_t p = d[wire::kQueryReplyPlaces + k];
      if (p >= kMaxPorts || !s.watches(p) || !HasBlock(d.size(), size, k)) continue;
      if ((taken >> p & 1u) != 0) continue;  // a port named twice: its first place counts
      taken |= 1u << p;
      const PortStatusBlock block = DecodeBlock(d, size, k);
      PortRateSamples& r = s.rates[p];
      if (r.initialised == 0) {
        r.initialised = 1;
        r.first_tx_total = r.previous_tx_total = block.tx_total;
        r.first_rx_total = r.previous_rx_total = block.rx_total;
        r.first_time_stamp = r.previous_time_stamp = block.time_stamp;
        r.silence_time_stamp = block.time_stamp;
      }
      s.blocks[p] = block;
      s.received_mask |= 1u << p;
      ports = (ports & ~(0xFFu << (8 * k))) | (uint32_t{p} << (8 * k));
    }
    StoreState(s, kStateAnswered);
    MoveOn(record, d);
    out.verdict = ReplyVerdict::kAccepted;
    out.ports = ports;
    out.server_index = static_cast<int>(i);
    return out;
  }
  MoveOn(record, d);  // for no watched server
  return out;
}

uint32_t ReceiveStatusReply(ServerRecord& record, MonitorConfig& config, int* server_index,
                            int timeout_seconds, Clock& clock, std::mutex* mutex) {
  const ReplyOutcome out =
      ReceiveLoop(record, config, timeout_seconds, clock, mutex, [](const ReplyOutcome&) {});
  if (out.verdict != ReplyVerdict::kAccepted) return 0;
  if (server_index != nullptr) *server_index = out.server_index;
  return out.ports;
}

// --- PortPoller ----------------------------------------------------------------------

PortPoller::PortPoller(Transport& transport, MonitorConfig& config, ServerList& servers,
                       PollingObserver& observer)
    : transport_(transport),
      config_(config),
      servers_(servers),
      observer_(observer),
      clock_(transport.clock()),
      wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  record_.fill(-1);
}

PortPoller::~PortPoller() {
  StopMonitoring();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void PortPoller::WakeWorker() {
  wake_.notify_all();
  if (wake_fd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void PortPoller::WaitIdle(size_t count) {
  // The watched servers' sockets (each once) and the wake-up of a stop or suspension.
  std::array<pollfd, kMaxWatchedServers + 1> fds{};
  size_t used = 0;
  if (wake_fd_ >= 0) fds[used++] = pollfd{wake_fd_, POLLIN, 0};
  {
    std::lock_guard lock(mu_);
    for (size_t i = 0; i < count; ++i) {
      if (record_[i] < 0) continue;
      const int fd = servers_.records[static_cast<size_t>(record_[i])].socket;
      if (fd < 0) continue;
      const bool listed =
          std::any_of(fds.begin(), fds.begin() + static_cast<std::ptrdiff_t>(used),
                      [fd](const pollfd& p) { return p.fd == fd; });
      if (!listed) fds[used++] = pollfd{fd, POLLIN, 0};
    }
  }
  if (stop_ || suspended_) return;
  const auto wait = static_cast<int>(clock_.RealWaitMs(kIdleSleepMs));
  int ready;
  do {
    ready = ::poll(fds.data(), used, wait);
  } while (ready < 0 && errno == EINTR);
  if (wake_fd_ >= 0 && fds[0].revents != 0) {
    uint64_t drained = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &drained, sizeof drained);
  }
}

int PortPoller::AppendRecord(const ServerRecord& record, bool watched) {
  if (servers_.count < 0) return -1;
  if (servers_.count < static_cast<int>(kMaxServers)) {
    servers_.records[static_cast<size_t>(servers_.count)] = record;
    return servers_.count++;
  }
  if (!watched) return -1;
  // The list is full (searches on a network of more than 32 servers fill it): a watched
  // server takes the place of one that is not watched. No watched server has more than
  // one entry, so with at most 32 watched servers there is always such a place.
  for (int i = servers_.count - 1; i >= 0; --i) {
    if (IsWatchedSerial(servers_.records[static_cast<size_t>(i)].serial_number())) continue;
    servers_.records[static_cast<size_t>(i)] = record;
    return i;
  }
  return -1;
}

bool PortPoller::IsWatchedSerial(uint16_t serial) const {
  const auto watched = config_.watched();
  return std::any_of(watched.begin(), watched.end(),
                     [serial](const MonitoredServer& s) { return s.serial_number == serial; });
}

namespace {

// A search reply that the monitor takes (shape, sequence 0, a model it knows) as a
// record bound to `socket`, unicast to `sender`; false for anything else.
bool TakeSearchReply(std::array<uint8_t, wire::kSearchReplySize>& buf, size_t n, int socket,
                     Ipv4 sender, ServerRecord& into) {
  const Bytes kept(buf.data(), std::min(n, buf.size()));
  if (!frames::IsSearchReplyShape(kept, n) ||
      frames::ReplySequence(kept) != 0 ||
      !IsAcceptedBy(GetLe16(kept, wire::kSrDeviceType), Deliverable::Monitor))
    return false;
  frames::CleanSearchReplyName(buf);
  into.search_reply = buf;
  into.nonce = frames::ReplyNonce(kept);
  into.sequence = 1;
  into.socket = socket;
  into.unicast = true;
  into.unicast_address = sender;
  return true;
}

}  // namespace

std::array<ServerState, kMaxWatchedServers> PortPoller::LocateAll() {
  std::array<ServerState, kMaxWatchedServers> states{};
  states.fill(kStateNotAnswered);
  auto watched = config_.watched();
  const size_t count = watched.size();
  // What each watched server's searches brought (answered or in conflict), and the
  // replies of other servers, first reply of a serial number first.
  std::array<std::optional<ServerRecord>, kMaxWatchedServers> answer;
  std::vector<ServerRecord> others;
  auto taken = [&](uint16_t serial) {
    for (size_t i = 0; i < count; ++i)
      if (answer[i] && answer[i]->serial_number() == serial) return true;
    return std::any_of(others.begin(), others.end(),
                       [serial](const ServerRecord& r) { return r.serial_number() == serial; });
  };
  // The watched server whose search `reply` from `sender` answers: one with that
  // address and serial number, else the one with that address (in conflict), else one
  // with that serial number that searched elsewhere; -1 for none.
  auto owner = [&](const ServerRecord& reply, Ipv4 sender) -> int {
    const uint16_t serial = reply.serial_number();
    int by_address = -1, by_serial = -1;
    for (size_t i = 0; i < count; ++i) {
      if (answer[i]) continue;
      const bool same_address = watched[i].ip_address == sender;
      const bool same_serial = watched[i].serial_number == serial;
      if (same_address && same_serial) return static_cast<int>(i);
      if (same_address && by_address < 0) by_address = static_cast<int>(i);
      if (same_serial && by_serial < 0) by_serial = static_cast<int>(i);
    }
    return by_address >= 0 ? by_address : by_serial;
  };
  std::vector<int> sockets;
  for (int j = 0; j < transport_.interface_count(); ++j)
    if (transport_.socket(j) != kNoSocket) sockets.push_back(transport_.socket(j));

  const auto search = frames::BuildSearch();
  for (int attempt = 0; attempt < kLocateAttempts; ++attempt) {
    // This attempt's searches, in the watched order, to every server still silent.
    size_t waiting = 0;
    for (size_t i = 0; i < count; ++i) {
      if (answer[i]) continue;
      transport_.SetDestination(watched[i].ip_address);
      if (transport_.SendAll(search)) ++waiting;
    }
    if (waiting == 0 || sockets.empty()) continue;
    // One wait of the attempt's length on every socket at once.
    const int64_t start = clock_.NowMs();
    const int64_t limit = int64_t{kLocateWaitSeconds} * 1000;
    std::array<uint8_t, wire::kSearchReplySize> buf;
    for (size_t reads = 0; waiting > 0 && reads < kReadsPerCall * (count + 1); ++reads) {
      const int64_t left = limit - (clock_.NowMs() - start);
      if (left < 0) break;
      buf.fill(0);
      const Result<Received> got = ReceiveDatagram(sockets, buf, left, clock_);
      if (!got || got->length == 0) break;  // the attempt's time is up, or a socket error
      ServerRecord reply;
      if (!TakeSearchReply(buf, got->length, got->socket, got->from, reply)) continue;
      const int i = owner(reply, got->from);
      if (i < 0) {  // another server: known from now on, but no answer of a watched one
        if (!taken(reply.serial_number())) others.push_back(reply);
        continue;
      }
      const auto at = static_cast<size_t>(i);
      states[at] = reply.serial_number() == watched[at].serial_number ? kStateAnswered
                                                                       : kStateAddressConflict;
      answer[at] = reply;
      --waiting;
    }
  }

  // The list takes the answers in the watched order, then the other servers, then the
  // placeholders of the servers that did not answer.
  auto merge = [this](const ServerRecord& reply) {
    const int known = servers_.FindSerial(reply.serial_number());
    if (known < 0) return AppendRecord(reply, IsWatchedSerial(reply.serial_number()));
    ServerRecord& r = servers_.records[static_cast<size_t>(known)];
    r.search_reply = reply.search_reply;
    r.nonce = reply.nonce;
    r.sequence = reply.sequence;
    r.socket = reply.socket;
    r.unicast = true;
    r.unicast_address = reply.unicast_address;
    return known;
  };
  for (size_t i = 0; i < count; ++i)
    if (answer[i]) record_[i] = merge(*answer[i]);
  for (const ServerRecord& r : others) merge(r);
  for (size_t i = 0; i < count; ++i) {
    if (answer[i]) continue;
    const MonitoredServer& s = watched[i];
    record_[i] = servers_.FindSerial(s.serial_number);
    if (record_[i] >= 0) continue;
    ServerRecord placeholder;
    placeholder.socket = transport_.primary_socket();
    PutLe16(placeholder.search_reply, wire::kSrSerial, s.serial_number);
    placeholder.set_ip_address(s.ip_address);
    placeholder.set_name(s.name());
    placeholder.unicast = true;
    placeholder.unicast_address = s.ip_address;
    record_[i] = AppendRecord(placeholder, true);
  }
  return states;
}

bool PortPoller::StartMonitoring() {
  StopMonitoring();
  rows_.Clear();
  record_.fill(-1);
  const std::array<ServerState, kMaxWatchedServers> located = LocateAll();
  auto watched = config_.watched();
  for (size_t i = 0; i < watched.size(); ++i) {
    MonitoredServer& s = watched[i];
    const ServerState state = located[i];
    {
      std::lock_guard lock(mu_);
      StoreState(s, state);
      const int rec = record_[i];
      if (state == kStateAnswered && rec >= 0) {
        const ServerRecord& r = servers_.records[static_cast<size_t>(rec)];
        s.device_type = r.device_type();
        s.set_name(r.name());
        for (size_t p = 0; p < kMaxPorts; ++p) s.port_kinds[p] = r.port_kind(p);
      }
    }
    drawn_[i] = state;
    rows_.AddServer(i, s);
  }
  observer_.RowsBuilt();
  if (rows_.empty()) return true;
  SendQueries();
  StartTimers();
  stop_ = false;
  suspended_ = false;
  try {
    worker_ = std::thread([this] { Work(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void PortPoller::StopMonitoring() {
  timers_running_ = false;
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(wake_mu_);
    stop_ = true;
    suspended_ = false;
  }
  WakeWorker();
  worker_.join();
  worker_ = std::thread();
}

void PortPoller::Suspend() {
  if (!worker_.joinable()) return;
  std::unique_lock lock(wake_mu_);
  suspended_ = true;
  WakeWorker();
  wake_.wait(lock, [this] { return parked_ || stop_.load(); });
}

void PortPoller::Resume() {
  {
    std::lock_guard lock(wake_mu_);
    suspended_ = false;
  }
  wake_.notify_all();
}

void PortPoller::StartTimers() {
  if (timers_running_ || rows_.empty()) return;
  const int64_t now = clock_.NowMs();
  next_sampling_ms_ = now + int64_t{config_.interval} * 1000;
  next_silence_ms_ = now + kSilencePeriodMs;
  timers_running_ = true;
}

void PortPoller::SendQueries() {
  struct Query {
    int socket;
    Ipv4 to;
    std::array<uint8_t, wire::kQueryPortsSize> bytes;
    size_t server;
  };
  std::vector<Query> queries;
  {
    std::lock_guard lock(mu_);
    auto watched = config_.watched();
    for (size_t i = 0; i < watched.size(); ++i) {
      const int rec = servers_.FindSerial(watched[i].serial_number);
      if (rec < 0) continue;
      const ServerRecord& r = servers_.records[static_cast<size_t>(rec)];
      if (r.password.size() > wire::kMaxPasswordLength) continue;
      for (const PortGroup& g : PortGroups(watched[i]))
        queries.push_back({r.socket, watched[i].ip_address, BuildQueryPorts(r, g), i});
    }
  }
  size_t failed = kMaxWatchedServers;  // a send failure stops the rest of that server's groups
  for (const Query& q : queries) {
    if (q.server == failed) continue;
    transport_.SetDestination(q.to);
    if (!transport_.SendOne(q.socket, q.bytes)) failed = q.server;
  }
}

void PortPoller::SamplingTick() {
  gate_->store(true);
  SendQueries();
}

void PortPoller::SilenceTick() {
  std::lock_guard lock(mu_);
  for (MonitoredServer& s : config_.watched()) {
    bool unchanged = false;
    for (size_t p = 0; p < std::min<size_t>(s.port_count, kMaxPorts); ++p) {
      if (!s.watches(p)) continue;
      unchanged = unchanged || s.blocks[p].time_stamp == s.rates[p].silence_time_stamp;
      s.rates[p].silence_time_stamp = s.blocks[p].time_stamp;
    }
    // Only an answering server falls silent: one in conflict stays magenta, one that
    // never answered stays as it is (both are drawn as not answering already).
    if (unchanged && LoadState(s) == kStateAnswered) StoreState(s, kStateSilent);
  }
}

int64_t PortPoller::RunDueTimers() {
  if (!timers_running_) return -1;
  const int64_t now = clock_.NowMs();
  const int64_t period = int64_t{std::clamp<uint16_t>(config_.interval, MonitorConfig::kMinInterval,
                                                      MonitorConfig::kMaxInterval)} *
                         1000;
  if (now >= next_sampling_ms_) {
    next_sampling_ms_ = std::max(next_sampling_ms_ + period, now + 1);
    SamplingTick();
  }
  if (now >= next_silence_ms_) {
    next_silence_ms_ = std::max(next_silence_ms_ + kSilencePeriodMs, now + 1);
    SilenceTick();
  }
  return std::max<int64_t>(0, std::min(next_sampling_ms_, next_silence_ms_) - clock_.NowMs());
}

void PortPoller::Work() {
  const size_t count = config_.watched().size();
  while (!stop_) {
    {
      std::unique_lock lock(wake_mu_);
      if (suspended_) {
        parked_ = true;
        wake_.notify_all();
        wake_.wait(lock, [this] { return !suspended_ || stop_; });
        parked_ = false;
        continue;
      }
    }
    bool any = false;
    for (size_t i = 0; i < count && !stop_; ++i) {
      if (record_[i] >= 0) {
        ServerRecord& record = servers_.records[static_cast<size_t>(record_[i])];
        const ReplyOutcome out = ReceiveLoop(
            record, config_, 0, clock_, &mu_, [this](const ReplyOutcome& o) {
              const auto j = static_cast<size_t>(o.server_index);
              MonitoredServer& s = config_.servers[j];
              for (size_t k = 0; k < wire::kQueryPlaceCount; ++k) {
                const uint8_t p = static_cast<uint8_t>(o.ports >> (8 * k));
                if (p >= kMaxPorts || !s.watches(p)) continue;
                if (const int row = rows_.RowOf(j, p); row >= 0) observer_.RowUpdated(row, j, p);
                PortRateSamples& r = s.rates[p];
                const PortStatusBlock& b = s.blocks[p];
                if (r.previous_time_stamp != b.time_stamp) {
                  r.previous_tx_total = b.tx_total;
                  r.previous_rx_total = b.rx_total;
                  r.previous_time_stamp = b.time_stamp;
                }
              }
            });
        any = any || out.verdict == ReplyVerdict::kAccepted;
      }
      ReportState(i);
    }
    if (!any) WaitIdle(count);
  }
  // A pass cut short by the stop may have left changes unreported.
  for (size_t i = 0; i < count; ++i) ReportState(i);
}

void PortPoller::ReportState(size_t i) {
  const ServerState state = LoadState(config_.servers[i]);
  if (state == drawn_[i]) return;
  drawn_[i] = state;
  const ServerRows rows = rows_.RowsOf(i);
  observer_.ServerStateChanged(i, state, rows.first, rows.last);
}

}  // namespace zelin::monitor
