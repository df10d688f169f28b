// A datagram on a client's search socket (search and probe replies): the shape check,
// the sequence and nonce readers and the name clean-up that discovery applies before
// it keeps the reply as a record.
//
// Invariants: the clean-up changes only the name field, is idempotent, and leaves a
// terminated name of at most 29 characters.

#include <algorithm>
#include <array>

#include "fuzz/fuzz_check.hpp"
#include "protocol/frames.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  std::array<uint8_t, wire::kSearchReplySize> buf{};
  const size_t kept_size = std::min(size, buf.size());
  std::copy_n(data, kept_size, buf.begin());
  const Bytes kept(buf.data(), kept_size);
  (void)frames::ReplySequence(kept);
  if (!frames::IsSearchReplyShape(kept, size)) return 0;
  FUZZ_CHECK(size == wire::kSearchReplySize && buf[0] == 0x81 && buf[wire::kOffStatus] == 0);

  const auto original = buf;
  frames::CleanSearchReplyName(buf);
  for (size_t i = 0; i < buf.size(); ++i) {
    if (i < wire::kSrName || i >= wire::kSrName + wire::kNameSize) FUZZ_CHECK(buf[i] == original[i]);
  }
  const auto cleaned = buf;
  frames::CleanSearchReplyName(buf);
  FUZZ_CHECK(buf == cleaned);

  ServerRecord record;
  record.search_reply = buf;
  record.nonce = frames::ReplyNonce(kept);
  FUZZ_CHECK(std::equal(record.nonce.begin(), record.nonce.end(), original.begin() + wire::kSrNonce));
  FUZZ_CHECK(record.name().size() < wire::kNameSize);
  return 0;
}
