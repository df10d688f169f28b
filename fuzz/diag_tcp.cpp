// The diagnostic program's side of its TCP session: what one read from the server may
// hold, for each reader of it (the port status reply, a progress report, the
// download's "ready" answer and verdict), then the results a test run keeps of the
// reports and the tables and texts the report makes of them. Input: messages as
// [length][bytes], each one read.
//
// Invariants: a decoded port status reply or progress report writes back as the bytes
// read; the download answers pass exactly for 0x0D 0x00 ("ready") and 0x0D 0x01 (the
// verdict); the pair table of any results holds at most 16 pairs.

#include <algorithm>

#include "fuzz/fuzz_check.hpp"
#include "portcheck/core/session.hpp"
#include "portcheck/core/test_results.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  using namespace zelin::portcheck;
  using R = DiagDownloadResult;
  FuzzInput in(data, size);
  ResultStore store;
  for (int n = 0; n < 64 && !in.empty(); ++n) {
    size_t length = 0;
    const uint8_t* bytes = in.Take(in.Byte(), &length);
    const Bytes message(bytes, length);

    if (const auto words = DecodePortStatusReply(message)) {
      std::array<uint8_t, wire::kPortStatusReplySize> back{wire::kTcpPortStatus};
      PutBe16(back, wire::kPortStatusLength, wire::kPortStatusDataSize);
      for (size_t p = 0; p < words->size(); ++p)
        PutLe32(back, wire::kPortStatusData + 4 * p, (*words)[p]);
      FUZZ_CHECK(std::equal(back.begin(), back.end(), message.begin(), message.end()));
    }
    const bool download_pair = length == wire::kTcpReplySize && bytes[0] == wire::kTcpDownload;
    FUZZ_CHECK((DownloadReadyResult(message) == R::kOk) ==
               (download_pair && bytes[1] == wire::kTcpDownloadReady));
    FUZZ_CHECK((DownloadVerdictResult(message) == R::kOk) ==
               (download_pair && bytes[1] == wire::kTcpDownloadAccepted));

    const auto report = ProgressReport::Decode(message);
    if (!report) continue;
    FUZZ_CHECK(std::equal(report->bytes.begin(), report->bytes.end(), message.begin(),
                          message.end()));
    (void)DescribeStep(*report);
    (void)ItemName(report->item());
    (void)SubitemName(report->subitem());
    if (report->has_result()) {
      (void)store.Keep(*report);
      (void)DescribeError(report->result());
      (void)ErrorCodeText(report->result());
    }
  }
  FUZZ_CHECK(store.count <= ResultStore::kCapacity);
  PairTable table;
  FUZZ_CHECK(BuildPairTable(store, table) <= PairTable::kCapacity);
  FUZZ_CHECK(table.count <= PairTable::kCapacity);
  return 0;
}
