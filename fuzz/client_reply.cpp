// The reply to a configuration command as a client's receive loop takes it
// (frames::TakeReply: the checks against the pending request, the status, then the
// command's payload parser). Input: a selector byte (low bits:
// the command; bit 7: give the record the reply's identity and sequence so the checks
// pass), then the datagram.
//
// Invariants: a datagram that is skipped, or a reply whose payload the parser refuses,
// leaves the record untouched; a refusal (status 6) moves only the nonce and the
// sequence on, as a taken reply does; a taken table reply's total is within the table limit
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

  // The receive keeps at most the expected length of the reply (and its buffer's).
  const auto shape = frames::ReplySpecFor(code);
  FUZZ_CHECK(shape.has_value());
  const Bytes kept(datagram.data(),
                   std::min({datagram.size(), shape->expected, wire::kReceiveBufferSize}));
  const ServerRecord before = record;
  (void)frames::ReplySequence(kept);
  const frames::ReplyStep step = frames::TakeReply(kept, datagram.size(), code, record);
  const bool moved_on = record.sequence == before.sequence + 1 &&
                        record.nonce == frames::ReplyNonce(kept);
  if (!step.ends_wait || step.error == LastCommandError::kErrorStatus) {
    FUZZ_CHECK(SameState(before, record));
    return 0;
  }
  FUZZ_CHECK(kept.size() >= wire::kReplyHeaderSize);
  FUZZ_CHECK(moved_on);
  if (step.error == LastCommandError::kWrongCodeOrRefused) {
    FUZZ_CHECK(kept[wire::kOffStatus] == wire::kStatusRefused);
    ServerRecord tables = record;
    tables.sequence = before.sequence;
    tables.nonce = before.nonce;
    FUZZ_CHECK(SameState(before, tables));
    return 0;
  }
  FUZZ_CHECK(step.error == LastCommandError::kNone);
  FUZZ_CHECK(kept.size() >= shape->needed);
  if (code == wire::kGetRoutes) FUZZ_CHECK(record.route_total <= wire::kTableLimit);
  if (code == wire::kGetAccessList) FUZZ_CHECK(record.access_total <= wire::kTableSlotCount);
  return 0;
}
