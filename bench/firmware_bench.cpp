// Firmware download throughput: a 4 MiB image over the TCP session to an emulated
// server on loopback (127.201.2.0/24), login and verdict included, on the real clock.
// The server's rule rejects the image after reading and hashing all of it, so that it
// does not restart between iterations; the bytes moved are the same as for an upgrade.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "bench/bench_lab.hpp"
#include "platform/notices.hpp"
#include "protocol/firmware.hpp"
#include "protocol/transport.hpp"

namespace {

using namespace zelin;

Ipv4 Address(uint8_t host) {
  return bench::BenchAddress(2, host);
}

class NoProgress final : public ProgressSink {
 public:
  void Show(std::string_view) override {}
  void SetText(std::string_view) override {}
  void Step() override { ++steps; }
  void Close() override {}
  int steps = 0;
};

void BM_FirmwareDownload(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  emulator::ServerSpec s = bench::BenchServer(2, "pw");
  s.firmware_rule.prefix = {'N', 'O'};
  const auto lab = bench::StartBenchLab(2, s);

  const std::string path = "/tmp/zelin_firmware_bench.rom";
  {
    std::ofstream out(path, std::ios::binary);
    std::string chunk(64 * 1024, 'F');
    for (size_t done = 0; done < size; done += chunk.size())
      out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), size - done)));
  }
  ConsoleNotices notices{/*quiet=*/true};
  Transport t(SystemClock(), notices, Deliverable::Manager,
              TransportOptions{
                  .interfaces = {Address(1)}, .broadcast = Address(255), .loopback_only = true});
  ServerRecord r;
  r.set_ip_address(Address(10));
  r.password = "pw";
  int wrong = 0;
  for (auto _ : state) {
    NoProgress progress;
    if (DownloadFirmware(t, r, path, 20, progress) != DownloadResult::kNoVerdict) ++wrong;
  }
  const auto image = lab->Snapshot(1)->last_image;
  if (!image || image->size != size) ++wrong;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["unexpected"] = wrong;
  lab->Stop();
  std::remove(path.c_str());
}
BENCHMARK(BM_FirmwareDownload)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
