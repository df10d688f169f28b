#include "protocol/discovery.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "protocol/frames.hpp"

namespace zelin {
namespace {

constexpr int kSearchSends = 3;
constexpr int64_t kSearchSendGapMs = 500;
constexpr int kFirstRoundSeconds = 3;

// Takes a received datagram as a search reply for `into` (which expects sequence
// `into.sequence`): false for anything else, with the notice of a stray sequence
// number. On acceptance `into` holds the reply (name cleaned up), its nonce and
// sequence 1; nothing else of `into` is touched.
bool AcceptSearchReply(Transport& t, std::array<uint8_t, wire::kSearchReplySize>& buf, size_t n,
                       ServerRecord& into) {
  const Bytes kept(buf.data(), std::min(n, buf.size()));
  if (!frames::IsSearchReplyShape(kept, n)) return false;
  const uint16_t sequence = frames::ReplySequence(kept);
  if (sequence != into.sequence) {
    char text[64];
    std::snprintf(text, sizeof text, "Source ID=%02X Dest INVALID ID=%02X",
                  static_cast<unsigned>(into.sequence), static_cast<unsigned>(sequence));
    t.notices().Notice(NoticeLevel::kWarning, text);
    return false;
  }
  if (!IsAcceptedBy(GetLe16(kept, wire::kSrDeviceType), t.deliverable())) return false;
  frames::CleanSearchReplyName(buf);
  into.search_reply = buf;
  into.nonce = frames::ReplyNonce(kept);
  into.sequence = 1;
  return true;
}

// A receive that brought nothing to take: the time-out (kTimeout), or a socket error,
// whose text goes to the notice sink.
Status NothingReceived(Transport& t, const Result<Received>& got) {
  if (got) return LastCommandError::kTimeout;
  t.NoticeSocketError(got.status());
  return got.status();
}

// One wait for a search reply on `socket`, at most `timeout_seconds` of the clock:
// success with the reply in `into`, kTimeout when none came, or the socket error.
Status WaitSearchReply(Transport& t, int socket, ServerRecord& into, int timeout_seconds) {
  into.sequence = 0;
  const int64_t start = t.clock().NowMs();
  std::array<uint8_t, wire::kSearchReplySize> buf;
  while (t.clock().NowMs() - start <= int64_t{timeout_seconds} * 1000) {
    buf.fill(0);
    const Result<Received> got = t.Receive(socket, buf, timeout_seconds);
    if (!got || got->length == 0) return NothingReceived(t, got);
    if (AcceptSearchReply(t, buf, got->length, into)) return {};
  }
  return LastCommandError::kTimeout;
}

// A record for a server seen for the first time: everything from a clean slate, so
// nothing of a record that held the slot in an earlier search survives.
ServerRecord NewRecord(const ServerRecord& reply, int socket) {
  ServerRecord r;
  r.search_reply = reply.search_reply;
  r.nonce = reply.nonce;
  r.sequence = reply.sequence;
  r.socket = socket;
  return r;
}

// Collects replies on every socket in slot order until each stays silent for
// `timeout_seconds`; duplicates are dropped and the list stops at 32. A duplicate on
// the socket of its record still hands the record its nonce: the search goes out
// three times, each answer carries a new nonce, and a server may take only the
// newest one it handed out. The record is unused yet (sequence 1), so nothing else
// of it changes.
// Returns the failure of the last wait (kTimeout after silence), success when the list
// filled up.
Status CollectRound(Transport& t, ServerList& list, int timeout_seconds) {
  Status last = LastCommandError::kTimeout;
  for (int j = 0; j < t.interface_count(); ++j) {
    const int fd = t.socket(j);
    if (fd == kNoSocket) continue;
    while (list.count < static_cast<int>(kMaxServers)) {
      ServerRecord reply;
      if (last = WaitSearchReply(t, fd, reply, timeout_seconds); !last) break;
      if (const int known = list.FindSerial(reply.serial_number()); known >= 0) {
        ServerRecord& r = list.records[static_cast<size_t>(known)];
        if (r.socket == fd) r.nonce = reply.nonce;
        continue;
      }
      list.records[static_cast<size_t>(list.count)] = NewRecord(reply, fd);
      ++list.count;
    }
    if (list.count >= static_cast<int>(kMaxServers)) return {};
  }
  return last;
}

}  // namespace

Status SearchServers(Transport& t, ServerList& list, int second_round_timeout_seconds) {
  list.count = 0;
  t.SetDestination(kBroadcastAddress);
  {
    BusyScope busy(t.notices());
    const auto search = frames::BuildSearch();
    for (int i = 0; i < kSearchSends; ++i) {
      if (Status sent = t.SendAll(search); !sent) return sent;
      t.clock().SleepMs(kSearchSendGapMs);
    }
  }
  Status first = CollectRound(t, list, kFirstRoundSeconds);
  if (list.count == 0) return first;
  if (list.count >= static_cast<int>(kMaxServers)) return {};

  // Servers that missed the first broadcasts answer this one; those listed stay silent.
  t.SetDestination(kBroadcastAddress);
  const auto exclusion = frames::BuildSearch(
      std::span<const ServerRecord>(list.records.data(), static_cast<size_t>(list.count)));
  if (Status sent = t.SendAll(exclusion); !sent) return sent;
  CollectRound(t, list, second_round_timeout_seconds);
  return {};
}

namespace {

// A probe's reply that came on `socket`: the index of its record in the list (a known
// server gets only its name and port kinds refreshed; a new one is appended), or an
// error when the list is full.
Result<int> TakeProbeReply(ServerList& list, const ServerRecord& reply, int socket) {
  const int known = list.FindSerial(reply.serial_number());
  if (known >= 0) {
    auto& r = list.records[static_cast<size_t>(known)];
    std::copy_n(reply.search_reply.begin() + wire::kSrName, wire::kNameSize,
                r.search_reply.begin() + wire::kSrName);
    std::copy_n(reply.search_reply.begin() + wire::kSrPortKinds, wire::kMaxPorts,
                r.search_reply.begin() + wire::kSrPortKinds);
    return known;
  }
  if (list.count >= static_cast<int>(kMaxServers))
    return SocketStatus(
        ENOBUFS, "no room for another server: " + std::to_string(kMaxServers) + " are listed");
  ServerRecord r = NewRecord(reply, socket);
  r.unicast = true;
  r.unicast_address = reply.ip_address();
  const int index = list.count;
  list.records[static_cast<size_t>(index)] = std::move(r);
  ++list.count;
  return index;
}

// One probe attempt. A reply that comes late to an earlier attempt of the same probe
// still counts: it answers the same question.
Result<int> ProbeOnce(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds) {
  t.SetDestination(address);
  if (!t.SendAll(frames::BuildSearch())) return LastCommandError::kSendFailed;
  Status last = LastCommandError::kTimeout;
  for (int j = 0; j < t.interface_count(); ++j) {
    const int fd = t.socket(j);
    if (fd == kNoSocket) continue;
    ServerRecord reply;
    if (last = WaitSearchReply(t, fd, reply, timeout_seconds); !last) continue;
    if (reply.ip_address() != address) {
      last = LastCommandError::kTimeout;  // another server's answer: this one is silent
      continue;
    }
    return TakeProbeReply(list, reply, fd);
  }
  return last;
}

}  // namespace

// A probe starts from empty sockets: a server answers a probe once on every interface
// that reaches it, and the first answer is taken, so the others stay queued and would
// otherwise answer the next probe of that address, even after the server has gone.
Result<int> ProbeAddress(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds) {
  t.DiscardQueued();
  return ProbeOnce(t, list, address, timeout_seconds);
}

Result<int> ProbeAddressRetry(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds) {
  t.DiscardQueued();
  Result<int> index = LastCommandError::kTimeout;
  for (int attempt = 0; attempt < kProbeAttempts && !index; ++attempt)
    index = ProbeOnce(t, list, address, timeout_seconds);
  return index;
}

std::vector<Result<int>> ProbeAddressesRetry(Transport& t, ServerList& list,
                                             std::span<const Ipv4> addresses, int timeout_seconds) {
  std::vector<Result<int>> result(addresses.size(), LastCommandError::kTimeout);
  // Each distinct address is probed once; a repeated one shares the first one's answer.
  std::vector<size_t> first_of(addresses.size());
  for (size_t i = 0; i < addresses.size(); ++i) {
    first_of[i] = i;
    for (size_t k = 0; k < i; ++k)
      if (addresses[k] == addresses[i]) {
        first_of[i] = k;
        break;
      }
  }
  std::vector<int> sockets;
  for (int j = 0; j < t.interface_count(); ++j)
    if (t.socket(j) != kNoSocket) sockets.push_back(t.socket(j));
  std::vector<bool> sent(addresses.size(), false);
  t.DiscardQueued();
  for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
    // This attempt's requests, in the callers' order, to every address still silent.
    int waiting = 0;
    for (size_t i = 0; i < addresses.size(); ++i) {
      sent[i] = false;
      if (first_of[i] != i || result[i]) continue;
      t.SetDestination(addresses[i]);
      sent[i] = static_cast<bool>(t.SendAll(frames::BuildSearch()));
      if (sent[i])
        ++waiting;
      else
        result[i] = LastCommandError::kSendFailed;
    }
    if (waiting == 0) {
      if (std::all_of(result.begin(), result.end(), [](const Result<int>& r) { return r.ok(); }))
        break;
      continue;
    }
    // One wait of the attempt's length on every socket at once; each reply goes to the
    // probe of the address it carries.
    const int64_t start = t.clock().NowMs();
    const int64_t limit = int64_t{timeout_seconds} * 1000;
    std::array<uint8_t, wire::kSearchReplySize> buf;
    Status silence = LastCommandError::kTimeout;
    while (waiting > 0) {
      const int64_t left = limit - (t.clock().NowMs() - start);
      if (left <= 0) break;
      buf.fill(0);
      const Result<Received> got = t.ReceiveAnyMs(sockets, buf, left);
      if (!got || got->length == 0) {
        silence = NothingReceived(t, got);
        break;
      }
      ServerRecord reply;
      if (!AcceptSearchReply(t, buf, got->length, reply)) continue;
      for (size_t i = 0; i < addresses.size(); ++i) {
        if (!sent[i] || result[i] || reply.ip_address() != addresses[i]) continue;
        result[i] = TakeProbeReply(list, reply, got->socket);
        sent[i] = false;  // answered in this attempt
        --waiting;
        break;
      }
    }
    // The addresses still waiting end this attempt with the wait's failure.
    for (size_t i = 0; i < addresses.size(); ++i)
      if (sent[i] && !result[i]) result[i] = silence;
  }
  for (size_t i = 0; i < addresses.size(); ++i) result[i] = result[first_of[i]];
  return result;
}

}  // namespace zelin
