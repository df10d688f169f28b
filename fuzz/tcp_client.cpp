// The client's side of the TCP command session: the login challenge, then the two-byte
// answers (login result, download ready, download verdict, the monitor's reset
// acknowledgement). Input: one message.
//
// Invariants: a challenge is taken exactly when it is 0x14 0x04 and a 4-byte nonce,
// and its nonce is those 4 bytes; a two-byte answer matches only itself.

#include <algorithm>

#include "fuzz/fuzz_check.hpp"
#include "protocol/frames.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  const Bytes message(data, size);
  const auto nonce = frames::ParseTcpChallenge(message);
  const bool shaped = size == wire::kTcpChallengeSize && data[0] == wire::kTcpLoginRequest &&
                      data[1] == wire::kTcpChallengeTag;
  FUZZ_CHECK(nonce.has_value() == shaped);
  if (nonce) {
    FUZZ_CHECK(std::equal(nonce->begin(), nonce->end(), data + wire::kTcpChallengeNonce));
    const auto answer = frames::BuildTcpLoginAnswer("password", *nonce);
    FUZZ_CHECK(answer[0] == wire::kTcpLoginResultTag);
  }
  const struct {
    uint8_t first, second;
  } answers[] = {{wire::kTcpLoginResultTag, wire::kTcpLoginAccepted},
                 {wire::kTcpDownload, wire::kTcpDownloadReady},
                 {wire::kTcpDownload, wire::kTcpDownloadAccepted},
                 {wire::kTcpReset, wire::kTcpResetDone}};
  for (const auto& a : answers) {
    const bool match = frames::IsTcpPair(message, a.first, a.second);
    FUZZ_CHECK(match == (size == 2 && data[0] == a.first && data[1] == a.second));
  }
  return 0;
}
