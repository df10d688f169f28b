#include "protocol/discovery.hpp"

#include <algorithm>
#include <cstdio>

#include "protocol/frames.hpp"

namespace zelin {
namespace {

constexpr int kSearchSends = 3;
constexpr int64_t kSearchSendGapMs = 500;
constexpr int kFirstRoundSeconds = 3;

// One wait for a search reply on `socket`, at most `timeout_seconds` of the clock.
// On acceptance `into` holds the reply (name cleaned up), its nonce and sequence 1;
// nothing else of `into` is touched.
bool WaitSearchReply(Transport& t, int socket, ServerRecord& into, int timeout_seconds) {
  into.sequence = 0;
  const int64_t start = t.clock().NowMs();
  std::array<uint8_t, wire::kSearchReplySize> buf;
  while (t.clock().NowMs() - start <= int64_t{timeout_seconds} * 1000) {
    buf.fill(0);
    const int n = t.Receive(socket, buf, timeout_seconds);
    if (n == 0) {
      t.set_last_error(LastCommandError::kTimeout);
      return false;
    }
    if (n < 0) {
      t.NoticeSocketError();
      return false;
    }
    const Bytes kept(buf.data(), std::min<size_t>(static_cast<size_t>(n), buf.size()));
    if (!frames::IsSearchReplyShape(kept, static_cast<size_t>(n))) continue;
    const uint16_t sequence = frames::ReplySequence(kept);
    if (sequence != into.sequence) {
      char text[64];
      std::snprintf(text, sizeof text, "Source ID=%02X Dest INVALID ID=%02X",
                    static_cast<unsigned>(into.sequence), static_cast<unsigned>(sequence));
      t.notices().Notice(NoticeLevel::kWarning, text);
      continue;
    }
    if (!IsAcceptedBy(GetLe16(kept, wire::kSrDeviceType), t.deliverable())) continue;
    frames::CleanSearchReplyName(buf);
    into.search_reply = buf;
    into.nonce = frames::ReplyNonce(kept);
    into.sequence = 1;
    return true;
  }
  return false;
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
void CollectRound(Transport& t, ServerList& list, int timeout_seconds) {
  for (int j = 0; j < t.interface_count(); ++j) {
    const int fd = t.socket(j);
    if (fd == kNoSocket) continue;
    while (list.count < static_cast<int>(kMaxServers)) {
      ServerRecord reply;
      if (!WaitSearchReply(t, fd, reply, timeout_seconds)) break;
      if (const int known = list.FindSerial(reply.serial_number()); known >= 0) {
        ServerRecord& r = list.records[static_cast<size_t>(known)];
        if (r.socket == fd) r.nonce = reply.nonce;
        continue;
      }
      list.records[static_cast<size_t>(list.count)] = NewRecord(reply, fd);
      ++list.count;
    }
    if (list.count >= static_cast<int>(kMaxServers)) return;
  }
}

}  // namespace

void SearchServers(Transport& t, ServerList& list, int second_round_timeout_seconds) {
  list.count = 0;
  t.SetDestination(kBroadcastAddress);
  {
    BusyScope busy(t.notices());
    const auto search = frames::BuildSearch();
    for (int i = 0; i < kSearchSends; ++i) {
      if (!t.SendAll(search)) return;
      t.clock().SleepMs(kSearchSendGapMs);
    }
  }
  CollectRound(t, list, kFirstRoundSeconds);
  if (list.count == 0 || list.count >= static_cast<int>(kMaxServers)) return;

  // Servers that missed the first broadcasts answer this one; those listed stay silent.
  t.SetDestination(kBroadcastAddress);
  const auto exclusion = frames::BuildSearch(
      std::span<const ServerRecord>(list.records.data(), static_cast<size_t>(list.count)));
  if (!t.SendAll(exclusion)) return;
  CollectRound(t, list, second_round_timeout_seconds);
}

int ProbeAddress(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds) {
  t.SetDestination(address);
  if (!t.SendAll(frames::BuildSearch())) return -1;
  for (int j = 0; j < t.interface_count(); ++j) {
    const int fd = t.socket(j);
    if (fd == kNoSocket) continue;
    ServerRecord reply;
    if (!WaitSearchReply(t, fd, reply, timeout_seconds)) continue;
    if (reply.ip_address() != address) continue;
    const int known = list.FindSerial(reply.serial_number());
    if (known >= 0) {
      // A known server: refresh its name and port kinds only.
      auto& r = list.records[static_cast<size_t>(known)];
      std::copy_n(reply.search_reply.begin() + wire::kSrName, wire::kNameSize,
                  r.search_reply.begin() + wire::kSrName);
      std::copy_n(reply.search_reply.begin() + wire::kSrPortKinds, wire::kMaxPorts,
                  r.search_reply.begin() + wire::kSrPortKinds);
      return known;
    }
    if (list.count >= static_cast<int>(kMaxServers)) return -1;
    ServerRecord r = NewRecord(reply, fd);
    r.unicast = true;
    r.unicast_address = reply.ip_address();
    const int index = list.count;
    list.records[static_cast<size_t>(index)] = std::move(r);
    ++list.count;
    return index;
  }
  return -1;
}

int ProbeAddressRetry(Transport& t, ServerList& list, Ipv4 address, int timeout_seconds) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int index = ProbeAddress(t, list, address, timeout_seconds);
    if (index >= 0) return index;
  }
  return -1;
}

}  // namespace zelin
