// A datagram on one of the diagnostic program's search sockets as it reads it
// (portcheck::ReadSearchReply, which every search's receive calls). Input: a byte whose
// bit 0 says the datagram arrived one byte longer than kept, then the datagram.
//
// Invariants: a reading exists exactly for a search reply's shape; only the name field
// changes, and reading the result again (or keeping it in the configuration) changes
// nothing more; the name is at most 29 characters.

#include <algorithm>

#include "fuzz/fuzz_check.hpp"
#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/session.hpp"
#include "protocol/frames.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  using namespace zelin::portcheck;
  if (size == 0) return 0;
  const Bytes kept(data + 1, std::min(size - 1, wire::kReceiveBufferSize));
  const size_t full_length = size - 1 + (data[0] & 1);
  const auto reading = ReadSearchReply(kept, full_length);
  FUZZ_CHECK(reading.has_value() == frames::IsSearchReplyShape(kept, full_length));
  if (!reading) return 0;

  const auto& reply = reading->found.reply;
  const size_t name_end = wire::kSrName + wire::kNameSize;
  for (size_t i = 0; i < reply.size(); ++i)
    if (i < wire::kSrName || i >= name_end) FUZZ_CHECK(reply[i] == kept[i]);
  FUZZ_CHECK(reading->accepted == (GetLe16(kept, wire::kOffSequence) == 0 &&
                                   IsAcceptedBy(reading->found.device_type(),
                                                Deliverable::Diagnostic)));
  FUZZ_CHECK(reading->found.name().size() < wire::kNameSize);
  const auto again = ReadSearchReply(reply, reply.size());
  FUZZ_CHECK(again.has_value() && again->found.reply == reply);
  FUZZ_CHECK(ServerImage::FromReply(reply).bytes == reply);
  return 0;
}
