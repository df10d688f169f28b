#include "protocol/exchange.hpp"

#include <algorithm>

#include "protocol/frames.hpp"

namespace zelin {
namespace {

constexpr int kCommandAttempts = 3;
constexpr int64_t kRestartWaitMs = 6000;

// Waits for the reply to the request just sent; frames::TakeReply judges each datagram.
Status WaitReply(Transport& t, ServerRecord& r, uint8_t code, int timeout_seconds) {
  const auto shape = frames::ReplySpecFor(code);
  std::array<uint8_t, wire::kReceiveBufferSize> buf;
  const MutableBytes window(buf.data(), std::min(shape->expected, buf.size()));
  LastCommandError last = LastCommandError::kTimeout;
  const int64_t start = t.clock().NowMs();
  while (t.clock().NowMs() - start <= int64_t{timeout_seconds} * 1000) {
    std::fill(window.begin(), window.end(), uint8_t{0});
    const Result<Received> got = t.Receive(r.socket, window, timeout_seconds);
    if (!got) continue;  // a receive error counts as a datagram that does not match
    if (got->length == 0) return LastCommandError::kTimeout;
    const Bytes kept(window.data(), std::min(got->length, window.size()));
    const frames::ReplyStep step = frames::TakeReply(kept, got->length, code, r);
    for (const auto& m : step.messages) t.notices().Notice(NoticeLevel::kWarning, m);
    if (step.ends_wait) return step.error;
    last = step.error;
  }
  return last;
}

// Reads a table window by window with `code`, whose reply parser stores the window
// in `start`, `count` and `total`. Windows follow each other while start + count is
// below the total; a window that makes no progress, or one past what the record
// holds, ends the read.
Status ReadWindows(Transport& t, ServerRecord& r, uint8_t code, uint16_t& start,
                   const uint16_t& count, const uint16_t& total, int timeout_seconds) {
  uint32_t asked = 0;
  for (size_t window = 0; window < wire::kTableLimit; ++window) {
    if (Status read = Command(t, r, code, timeout_seconds); !read) return read;
    const uint32_t next = uint32_t{start} + count;
    if (next >= total || next <= asked || next >= wire::kTableCapacity) break;
    asked = next;
    start = static_cast<uint16_t>(next);
  }
  return {};
}

}  // namespace

// Every Status it returns is of the exchange family.
Status Exchange(Transport& t, ServerRecord& r, uint8_t code, int timeout_seconds) {
  auto request = frames::BuildRequest(r, code, t.clock().UnixSeconds());
  if (!request) return request.status();
  t.SetDestination(r.unicast ? r.unicast_address : kBroadcastAddress);
  if (!t.SendOne(r.socket, *request)) return LastCommandError::kSendFailed;
  if (Status reply = WaitReply(t, r, code, timeout_seconds); !reply) return reply;
  if (code == wire::kSaveAndRestart) {
    {
      BusyScope busy(t.notices());
      SleepCountingDown(t.clock(), kRestartWaitMs, t.restart_wait_observer());
    }
    // An address written by SetAddress takes effect with the restart.
    if (r.ip_address() != r.unicast_address) r.unicast_address = r.ip_address();
  }
  return {};
}

Status Command(Transport& t, ServerRecord& r, uint8_t code, int timeout_seconds) {
  Status st;
  for (int attempt = 0; attempt < kCommandAttempts; ++attempt)
    if ((st = Exchange(t, r, code, timeout_seconds))) break;
  return st;
}

Status ReadAccessTable(Transport& t, ServerRecord& r, int timeout_seconds) {
  r.access_total = r.access_start = r.access_count = 0;
  r.access_table.fill(AccessEntry{});
  return ReadWindows(t, r, wire::kGetAccessList, r.access_start, r.access_count, r.access_total,
                     timeout_seconds);
}

Status WriteAccessTable(Transport& t, ServerRecord& r, int entries, int timeout_seconds) {
  const auto n = static_cast<uint16_t>(std::clamp(entries, 0, int{wire::kTableCapacity}));
  r.access_total = n;
  r.access_count = n;
  r.access_start = 0;
  return Command(t, r, wire::kSetAccessList, timeout_seconds);
}

Status ReadRouteTable(Transport& t, ServerRecord& r, int timeout_seconds) {
  r.route_total = r.route_start = r.route_count = 0;
  r.route_table.fill(RouteEntry{});
  return ReadWindows(t, r, wire::kGetRoutes, r.route_start, r.route_count, r.route_total,
                     timeout_seconds);
}

Status SendRoute(Transport& t, ServerRecord& r, const RouteEntry& entry, int timeout_seconds) {
  r.route_to_send = entry;
  return Command(t, r, wire::kAddRoute, timeout_seconds);
}

std::vector<RouteEntry> RouteChangeEntries(const RouteEntry& before, const RouteEntry& after) {
  if (before == after) return {};
  if (SameRouteKey(before, after)) return {after};
  RouteEntry removal = before;
  removal.metric = wire::kRouteEmptyMetric;
  return {removal, after};
}

Status ChangeRoute(Transport& t, ServerRecord& r, const RouteEntry& before, const RouteEntry& after,
                   int timeout_seconds) {
  for (const RouteEntry& entry : RouteChangeEntries(before, after))
    if (Status sent = SendRoute(t, r, entry, timeout_seconds); !sent) return sent;
  return {};
}

}  // namespace zelin
