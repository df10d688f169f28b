#include "exporter/core/prober.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "monitor/core/code_tables.hpp"
#include "monitor/core/polling.hpp"
#include "protocol/frames.hpp"
#include "protocol/types.hpp"
#include "protocol/wire.hpp"

namespace zelin::exporter {
namespace {

using namespace zelin::monitor;

// A search is answered within this long, or sent again (three searches in all, as when
// the monitor locates a server); a status request that brought nothing within this long
// is sent again.
constexpr int64_t kSearchWaitMs = 1000;
constexpr int kSearchAttempts = 3;
constexpr int64_t kQueryRetryMs = 1000;

class Socket {
 public:
  explicit Socket(Ipv4 source) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = source;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }
  bool Send(Ipv4 to, uint16_t port, Bytes data) const {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = to;
    a.sin_port = htons(port);
    return ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(data.size());
  }

 private:
  int fd_;
};

// Searches `to` until a search reply from it arrives or the time is up.
bool Search(const Socket& socket, Ipv4 to, uint16_t port, int64_t deadline_ms, Clock& clock,
            ServerRecord& record) {
  const auto search = frames::BuildSearch();
  std::array<uint8_t, wire::kSearchReplySize> buf;
  for (int attempt = 0; attempt < kSearchAttempts && clock.NowMs() < deadline_ms; ++attempt) {
    if (!socket.Send(to, port, search)) return false;
    const int64_t until = std::min(deadline_ms, clock.NowMs() + kSearchWaitMs);
    for (int64_t left; (left = until - clock.NowMs()) > 0;) {
      buf.fill(0);
      const int fd[] = {socket.fd()};
      const Result<Received> got = ReceiveDatagram(fd, buf, left, clock);
      if (!got) return false;
      if (got->length == 0) break;
      const Bytes kept(buf.data(), std::min(got->length, buf.size()));
      if (got->from != to || !frames::IsSearchReplyShape(kept, got->length) ||
          frames::ReplySequence(kept) != 0)
        continue;
      frames::CleanSearchReplyName(buf);
      record.search_reply = buf;
      record.nonce = frames::ReplyNonce(kept);
      record.sequence = 1;
      record.socket = socket.fd();
      record.unicast = true;
      record.unicast_address = to;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string_view ProbeFailureName(ProbeFailure failure) {
  switch (failure) {
    case ProbeFailure::kNone: return "none";
    case ProbeFailure::kBadRequest: return "bad_request";
    case ProbeFailure::kRefused: return "refused";
    case ProbeFailure::kPassword: return "password";
    case ProbeFailure::kNoAnswer: return "no_answer";
    case ProbeFailure::kConflict: return "address_conflict";
    case ProbeFailure::kNoStatus: return "no_status";
    case ProbeFailure::kSocket: return "socket";
  }
  return "none";
}

std::pair<uint64_t, uint64_t> CarryTable::Update(Ipv4 address, uint16_t serial, size_t port,
                                                 const PortStatusBlock& block, int64_t now_ms) {
  std::lock_guard lock(mu_);
  Carry& c = carries_[{address, serial, port}];
  const int64_t elapsed = c.tx.started() ? now_ms - c.last_ms : 0;
  c.last_ms = now_ms;
  return {c.tx.Update(block.tx_total, block.time_stamp, elapsed),
          c.rx.Update(block.rx_total, block.time_stamp, elapsed)};
}

size_t CarryTable::size() const {
  std::lock_guard lock(mu_);
  return carries_.size();
}

ProbeResult ProbeServer(const ProbeRequest& request, const ProbeOptions& options,
                        int64_t deadline_ms, Clock& clock, CarryTable& carries) {
  ProbeResult result;
  result.server.address = request.address;
  result.server.state = kStateNotAnswered;
  auto fail = [&result](ProbeFailure why) {
    result.failure = why;
    return result;
  };
  if (options.loopback_only && !IsLoopback(request.address)) return fail(ProbeFailure::kRefused);
  if (options.password.size() > wire::kMaxPasswordLength) return fail(ProbeFailure::kPassword);
  const Socket socket(options.source);
  if (socket.fd() < 0) return fail(ProbeFailure::kSocket);

  ServerRecord record;
  record.password = options.password;
  if (!Search(socket, request.address, options.server_port, deadline_ms, clock, record))
    return fail(ProbeFailure::kNoAnswer);
  result.identified = true;
  result.server.serial = record.serial_number();
  result.server.name = record.name();
  result.server.device_type = record.device_type();
  result.server.firmware = record.firmware_version();
  if (options.expected_serial && *options.expected_serial != record.serial_number()) {
    result.server.state = kStateAddressConflict;
    return fail(ProbeFailure::kConflict);
  }

  // The monitor's records for one watched server.
  auto config = MonitorConfig::New();
  config->server_count = 1;
  MonitoredServer& watched = config->servers[0];
  watched.serial_number = record.serial_number();
  watched.ip_address = request.address;
  watched.device_type = record.device_type();
  watched.port_count = static_cast<uint16_t>(MonitorPortCount(record.device_type()));
  const uint32_t all = watched.port_count >= 32 ? ~0u : (1u << watched.port_count) - 1;
  watched.watched_mask = request.ports & all;
  const std::vector<PortGroup> groups = PortGroups(watched);
  if (groups.empty()) {  // an unknown model or no asked port it has: nothing to ask
    result.server.state = kStateAnswered;
    return fail(ProbeFailure::kNoStatus);
  }

  auto reported = [&watched] {
    uint32_t mask = 0;
    for (size_t p = 0; p < kMaxPorts; ++p)
      if (watched.rates[p].initialised != 0) mask |= 1u << p;
    return mask;
  };
  auto send_missing = [&] {
    const uint32_t have = reported();
    for (const PortGroup& g : groups) {
      const bool missing = std::any_of(g.begin(), g.end(), [have](uint8_t p) {
        return p < kMaxPorts && (have >> p & 1u) == 0;
      });
      if (missing && !socket.Send(request.address, options.server_port, BuildQueryPorts(record, g)))
        return false;
    }
    return true;
  };
  if (!send_missing()) return fail(ProbeFailure::kSocket);
  bool accepted = false;
  std::array<uint8_t, kStatusReplySize> buf;
  int64_t retry_at = clock.NowMs() + kQueryRetryMs;
  while (reported() != watched.watched_mask) {
    const int64_t now = clock.NowMs();
    if (now >= deadline_ms) break;
    if (now >= retry_at) {
      if (!send_missing()) return fail(ProbeFailure::kSocket);
      retry_at = now + kQueryRetryMs;
    }
    const int fd[] = {socket.fd()};
    const Result<Received> got =
        ReceiveDatagram(fd, buf, std::min(deadline_ms, retry_at) - now, clock);
    if (!got) return fail(ProbeFailure::kSocket);
    if (got->length == 0) continue;
    const size_t kept = std::min(got->length, buf.size());
    const ReplyOutcome out =
        AcceptStatusReply(Bytes(buf.data(), kept), got->length, got->from, record, *config);
    if (out.verdict == ReplyVerdict::kAccepted) accepted = true;
    if (LoadState(watched) == kStateAddressConflict) {
      result.server.state = kStateAddressConflict;
      return fail(ProbeFailure::kConflict);
    }
  }

  result.server.state = accepted ? kStateAnswered : kStateSilent;
  const int64_t now = clock.NowMs();
  for (size_t p = 0; p < kMaxPorts; ++p) {
    if (watched.rates[p].initialised == 0) continue;
    PortSample sample;
    sample.port = p;
    sample.block = watched.blocks[p];
    std::tie(sample.tx_bytes_total, sample.rx_bytes_total) =
        carries.Update(request.address, watched.serial_number, p, sample.block, now);
    result.server.ports.push_back(sample);
  }
  result.server.reported = !result.server.ports.empty();
  if (reported() != watched.watched_mask) return fail(ProbeFailure::kNoStatus);
  result.success = true;
  return result;
}

}  // namespace zelin::exporter
