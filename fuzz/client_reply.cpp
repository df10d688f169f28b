// The reply to a configuration command as a client takes it: the checks against the
// pending request, then the command's payload parser. Input: a selector byte (low bits:
// the command; bit 7: give the record the reply's identity and sequence so the checks
// pass), then the datagram.
//
// Invariants: a reply that fails the checks or that the parser refuses leaves the
// record's tables untouched; a taken table reply's total is within the table limit
// (the window count is the server's and may be anything: readers clamp it).

#include <algorithm>
#include <array>

#include "fuzz/fuzz_check.hpp"
#include "protocol/frames.hpp"

namespace {

using namespace zelin;

constexpr uint8_t kCodes[] = {wire::kLocateOn,      wire::kLocateOff,     wire::kSetAddress,
                              wire::kSaveAndRestart, wire::kSetName,      wire::kSetPortKinds,
                              wire::kSetPassword,   wire::kAddRoute,      wire::kGetRoutes,
                              wire::kGetAccessList, wire::kSetAccessList, wire::kCheckAddress,
                              wire::kLogin,         wire::kDhcp};

bool SameState(const ServerRecord& a, const ServerRecord& b) {
  return a.search_reply == b.search_reply && a.access_total == b.access_total &&
         a.access_start == b.access_start && a.access_count == b.access_count &&
         a.access_table == b.access_table && a.route_total == b.route_total &&
         a.route_start == b.route_start && a.route_count == b.route_count &&
         a.route_table == b.route_table && a.dhcp == b.dhcp &&
         a.conflict_hardware == b.conflict_hardware && a.nonce == b.nonce &&
         a.sequence == b.sequence;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const uint8_t code = kCodes[(selector & 0x7F) % std::size(kCodes)];
  const Bytes datagram(data + 1, size - 1);

  ServerRecord record;
  record.sequence = 7;
  PutLe16(record.search_reply, wire::kSrDeviceType, 771);
  PutLe16(record.search_reply, wire::kSrSerial, 1234);
  record.search_reply[wire::kSrPortCount] = 8;
  if ((selector & 0x80) != 0 && datagram.size() >= wire::kReplyHeaderSize) {
    record.sequence = GetLe16(datagram, wire::kOffSequence);
    PutLe16(record.search_reply, wire::kSrDeviceType, GetLe16(datagram, wire::kReplyDeviceType));
    PutLe16(record.search_reply, wire::kSrSerial, GetLe16(datagram, wire::kReplySerial));
  }

  // The receive keeps at most the expected length of the reply.
  const auto shape = frames::ReplySpecFor(code);
  FUZZ_CHECK(shape.has_value());
  const Bytes kept(datagram.data(), std::min(datagram.size(), shape->expected));
  const ServerRecord before = record;
  const LastCommandError checked = frames::CheckReply(kept, datagram.size(), code, record);
  FUZZ_CHECK(SameState(before, record));
  if (checked != LastCommandError::kNone) return 0;
  FUZZ_CHECK(kept.size() >= wire::kReplyHeaderSize);
  (void)frames::ReplySequence(kept);
  (void)frames::ReplyNonce(kept);
  if (kept[wire::kOffStatus] != wire::kStatusOk || kept.size() < shape->needed) return 0;

  frames::Messages messages;
  const bool taken = frames::ApplyReplyPayload(code, kept, record, &messages);
  if (!taken) FUZZ_CHECK(SameState(before, record));
  if (taken && code == wire::kGetRoutes) FUZZ_CHECK(record.route_total <= wire::kTableLimit);
  if (code == wire::kGetAccessList) FUZZ_CHECK(record.access_total <= wire::kTableSlotCount);
  return 0;
}
