// Datagram frames encoded and decoded per second: requests built from a record
// (digest included) and replies checked and applied to it.

#include <benchmark/benchmark.h>

#include <vector>

#include "protocol/frames.hpp"

namespace {

using namespace zelin;

ServerRecord MakeRecord() {
  ServerRecord r;
  PutLe16(r.search_reply, wire::kSrDeviceType, 9476);
  PutLe16(r.search_reply, wire::kSrSerial, 1234);
  r.set_name("Bench");
  r.password = "secret";
  r.new_password = "newsecret";
  r.sequence = 7;
  r.nonce = {1, 2, 3, 4};
  for (size_t i = 0; i < wire::kTableCapacity; ++i)
    r.access_table[i] = {Ipv4FromOctets(127, 0, 0, static_cast<uint8_t>(i + 1)),
                         Ipv4FromOctets(255, 255, 255, 255), 0xFFFF};
  r.access_total = r.access_count = 32;
  return r;
}

void BM_BuildRequest(benchmark::State& state) {
  const ServerRecord r = MakeRecord();
  const auto code = static_cast<uint8_t>(state.range(0));
  size_t bytes = 0;
  for (auto _ : state) {
    auto f = frames::BuildRequest(r, code, 1700000000u);
    bytes += f->size();
    benchmark::DoNotOptimize(f);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_BuildRequest)
    ->Arg(wire::kLogin)
    ->Arg(wire::kSetPassword)
    ->Arg(wire::kSetAccessList)
    ->Arg(wire::kLocateOn);

// A reply for `code` as the server sends it: header plus `size - 18` payload bytes.
std::vector<uint8_t> Reply(const ServerRecord& r, uint8_t code, size_t size) {
  std::vector<uint8_t> b(size, 0);
  b[0] = static_cast<uint8_t>(code | wire::kReplyBit);
  PutBe16(b, 2, static_cast<uint16_t>(size));
  PutLe16(b, 4, static_cast<uint16_t>(r.sequence));
  b[6] = 9;
  PutLe16(b, 10, r.device_type());
  PutLe16(b, 12, r.serial_number());
  if (code == wire::kGetAccessList) {
    PutLe16(b, wire::kTableTotal, 32);
    for (size_t i = 0; i < 32; ++i)
      PutAccessEntry(b, wire::kTableSlots + wire::kAccessEntrySize * i, r.access_table[i]);
  }
  return b;
}

void BM_CheckAndApplyReply(benchmark::State& state) {
  ServerRecord r = MakeRecord();
  const auto code = static_cast<uint8_t>(state.range(0));
  const auto desc = frames::ReplySpecFor(code);
  const auto reply = Reply(r, code, desc->expected);
  for (auto _ : state) {
    const auto e = frames::CheckReply(reply, reply.size(), code, r);
    benchmark::DoNotOptimize(e);
    benchmark::DoNotOptimize(frames::ApplyReplyPayload(code, reply, r));
    r.nonce = frames::ReplyNonce(reply);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_CheckAndApplyReply)->Arg(wire::kLogin)->Arg(wire::kGetAccessList)->Arg(wire::kDhcp);

void BM_SearchReply(benchmark::State& state) {
  std::array<uint8_t, wire::kSearchReplySize> reply{};
  reply[0] = 0x81;
  PutLe16(reply, wire::kSrDeviceType, 9476);
  std::fill_n(reply.begin() + wire::kSrName, wire::kNameSize, uint8_t{' '});
  reply[wire::kSrName] = 'A';
  for (auto _ : state) {
    auto copy = reply;
    benchmark::DoNotOptimize(frames::IsSearchReplyShape(copy, copy.size()));
    frames::CleanSearchReplyName(copy);
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SearchReply);

void BM_BuildSearchWithExclusions(benchmark::State& state) {
  std::vector<ServerRecord> found(static_cast<size_t>(state.range(0)), MakeRecord());
  for (auto _ : state) benchmark::DoNotOptimize(frames::BuildSearch(found));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildSearchWithExclusions)->Arg(0)->Arg(31);

}  // namespace

BENCHMARK_MAIN();
