// Server store load and save on a full hive: 32 servers of 16 ports, every port mapped
// (512 device keys and 512 driver keys), through the hive file with its lock, parse,
// format and atomic replace, and the same edits on the tree in memory.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "store/hive_file.hpp"
#include "store/reg_text.hpp"
#include "store/server_store.hpp"
#include "tests/support/temp_dir.hpp"

namespace zelin {
namespace {

using Table = std::vector<ServerConfig>;

Table FullTable() {
  Table t;
  for (uint16_t s = 0; s < kMaxConfiguredServers; ++s) {
    ServerConfig c;
    c.device_type = 9747;  // 16 ports
    c.serial_number = static_cast<uint16_t>(1000 + s);
    c.port_count = static_cast<uint32_t>(PortCountOf(c.device_type));
    c.set_name("Rack " + std::to_string(s));
    c.set_password("secret");
    c.ip_address = Ipv4FromOctets(10, 1, 0, static_cast<uint8_t>(s + 1));
    c.netmask = Ipv4FromOctets(255, 255, 255, 0);
    for (size_t p = 0; p < kMaxServerPorts; ++p) {
      c.port_mapped[p] = 1;
      c.com_number[p] = static_cast<uint8_t>((s * 16 + p + 3) % 256);
    }
    t.push_back(c);
  }
  return t;
}

// A hive file in a temporary folder of its own.
struct TempHive : zelin::testing::TempDir {
  TempHive() : TempDir("zelin-bench") {}
  HiveFile hive() const { return HiveFile(path() / "registry.reg"); }
};

void BM_LoadFullStore(benchmark::State& state) {
  TempHive tmp;
  HiveFile hive = tmp.hive();
  const Table full = FullTable();
  if (!SaveServerStore(hive, full, {})) state.SkipWithError("setup save failed");
  Table table(kMaxConfiguredServers);
  for (auto _ : state) benchmark::DoNotOptimize(LoadServerStore(hive, table).value_or(-1));
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(hive.path()));
}
BENCHMARK(BM_LoadFullStore)->Unit(benchmark::kMillisecond);

void BM_SaveFullStore(benchmark::State& state) {
  TempHive tmp;
  HiveFile hive = tmp.hive();
  const Table full = FullTable();
  for (auto _ : state) {
    state.PauseTiming();
    hive.Store(MemoryRegistry());
    state.ResumeTiming();
    if (!SaveServerStore(hive, full, {})) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveFullStore)->Unit(benchmark::kMillisecond);

void BM_SaveOnePortChange(benchmark::State& state) {
  TempHive tmp;
  HiveFile hive = tmp.hive();
  Table a = FullTable();
  Table b = a;
  b[17].port_mapped[9] = 0;  // one port unmapped and mapped again in turn
  if (!SaveServerStore(hive, a, {})) state.SkipWithError("setup save failed");
  bool flip = false;
  for (auto _ : state) {
    if (!SaveServerStore(hive, flip ? a : b, flip ? b : a)) state.SkipWithError("save failed");
    flip = !flip;
  }
}
BENCHMARK(BM_SaveOnePortChange)->Unit(benchmark::kMillisecond);

void BM_SaveFullStoreInMemory(benchmark::State& state) {
  const Table full = FullTable();
  for (auto _ : state) {
    MemoryRegistry reg;
    benchmark::DoNotOptimize(SaveServerStore(reg, full, {}));
  }
}
BENCHMARK(BM_SaveFullStoreInMemory)->Unit(benchmark::kMillisecond);

void BM_ParseAndFormatFullHive(benchmark::State& state) {
  MemoryRegistry reg;
  SaveServerStore(reg, FullTable(), {});
  const std::string text = FormatRegText(reg);
  for (auto _ : state) {
    const Result<MemoryRegistry> back = ParseRegText(text);
    benchmark::DoNotOptimize(FormatRegText(*back));
  }
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ParseAndFormatFullHive)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zelin

BENCHMARK_MAIN();
