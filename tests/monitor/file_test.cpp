// The monitor file: its exact bytes, every refusal, and hostile files.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "monitor/core/monitor_file.hpp"
#include "tests/monitor/monitor_fixture.hpp"

namespace zelin::monitor {
namespace {

using testing::TempFolder;

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void WriteAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::unique_ptr<MonitorConfig> OneServer() {
  auto config = MonitorConfig::New();
  config->server_count = 1;
  MonitoredServer& s = config->servers[0];
  s.serial_number = 1201;
  s.port_count = 16;
  s.set_name("Dock North");
  s.watched_mask = 0x00F0;
  s.ip_address = Ipv4FromOctets(127, 0, 77, 10);
  s.blocks[4].tx_total = 77;  // run-time values are written as they stand
  return config;
}

TEST(MonitorFile, ExactBytesAndRoundTrip) {
  TempFolder dir;
  MonitorConfig fresh;
  ASSERT_EQ(WriteMonitorFile(dir / "new.mnt", fresh), 25);
  EXPECT_EQ(ReadAll(dir / "new.mnt"),
            (std::vector<uint8_t>{0x5A, 0x45, 0x4C, 0x49, 0x4E, 0x00, 0x01, 0x08, 0x0C, 0x08, 0x00,
                                  0x00, 0x00, 0x03, 0x0B, 0x08, 0x0C, 0x03, 0x00, 0x00, 0x00, 0x7A,
                                  0x04, 0xFC, 0x03}));

  auto config = OneServer();
  ASSERT_EQ(WriteMonitorFile(dir / "one.mnt", *config), 2169);
  auto back = MonitorConfig::New();
  EXPECT_EQ(ReadMonitorFile(dir / "one.mnt", *back), 1);
  EXPECT_EQ(*back, *config);
  EXPECT_TRUE(ReadMonitorFile(dir / "none.mnt", *back).status().Is(MonitorFileError::kCannotOpen));
  EXPECT_TRUE(WriteMonitorFile(dir / "no-folder" / "x.mnt", *config)
                  .status()
                  .Is(MonitorFileError::kCannotOpen));
}

TEST(MonitorFile, EveryChangedPayloadByteAndEveryBadHeaderIsRefused) {
  const std::vector<uint8_t> good = EncodeMonitorFile(*OneServer());
  ASSERT_EQ(good.size(), 2169u);
  MonitorConfig out;
  for (size_t at = 17; at < good.size(); ++at) {
    std::vector<uint8_t> bad = good;
    bad[at] ^= 0x5A;
    ASSERT_TRUE(DecodeMonitorFile(bad, out).status().Is(MonitorFileError::kChecksum)) << at;
  }
  const auto with = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> bad = good;
    bad[at] = value;
    return DecodeMonitorFile(bad, out).status();
  };
  EXPECT_TRUE(with(0, 'z').Is(MonitorFileError::kBadFormat));      // magic
  EXPECT_TRUE(with(7, 0x09).Is(MonitorFileError::kBadFormat));     // version
  const auto length = [&](uint32_t claimed) {
    std::vector<uint8_t> bad = good;
    PutLe32(bad, 9, claimed);
    return DecodeMonitorFile(bad, out).status();
  };
  EXPECT_TRUE(length(7).Is(MonitorFileError::kBadFormat));             // below the header
  EXPECT_TRUE(length(8 + 2144 * 33).Is(MonitorFileError::kBadFormat));  // beyond 32 servers
  EXPECT_TRUE(length(8 + 2144 + 2).Is(MonitorFileError::kBadFormat));   // part of a record
  EXPECT_TRUE(length(8 + 2144 * 2).Is(MonitorFileError::kShort));       // claims more than held
  EXPECT_TRUE(DecodeMonitorFile(Bytes(good).first(30), out).status().Is(MonitorFileError::kShort));
  EXPECT_TRUE(DecodeMonitorFile(Bytes(good).first(16), out).status().Is(MonitorFileError::kBadFormat));

  // A count or an interval that no writer produces, with a checksum that matches.
  const auto rewritten = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> bad = good;
    bad[at] = value;
    PutLe32(bad, 13, MonitorFileChecksum(Bytes(bad).first(13), Bytes(bad).subspan(17)));
    return DecodeMonitorFile(bad, out).status();
  };
  EXPECT_TRUE(rewritten(17 + 2, 5).Is(MonitorFileError::kBadFormat));  // 5 servers in 1 record
  EXPECT_TRUE(rewritten(17 + 0, 0).Is(MonitorFileError::kBadFormat));  // interval 0
  EXPECT_TRUE(rewritten(17 + 0, 20).ok());
}

// Random, truncated, oversized and mutated files are refused or read, never crash.
TEST(MonitorFile, HostileFilesNeverCrashTheReader) {
  TempFolder dir;
  std::mt19937 rng(20261207);
  const std::vector<uint8_t> good = EncodeMonitorFile(*OneServer());
  auto out = MonitorConfig::New();
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> file;
    switch (round % 4) {
      case 0:  // noise behind a valid header start
        file.resize(rng() % 3000);
        for (auto& b : file) b = static_cast<uint8_t>(rng());
        if (file.size() >= 9) std::copy_n(good.begin(), 9, file.begin());
        break;
      case 1:  // truncated
        file.assign(good.begin(), good.begin() + static_cast<ptrdiff_t>(rng() % good.size()));
        break;
      case 2:  // oversized: the largest length and more bytes than any file holds
        file = good;
        file.resize(17 + MonitorConfig::kSize + 1 + rng() % 5000, static_cast<uint8_t>(rng()));
        PutLe32(file, 9, rng() % 2 ? MonitorConfig::kSize : 0xFFFFFFFFu - rng() % 100);
        break;
      default:  // a few bytes changed anywhere
        file = good;
        for (int k = 0; k < 3; ++k) file[rng() % file.size()] = static_cast<uint8_t>(rng());
        break;
    }
    // Every tenth file goes through the disk, the others are decoded in memory.
    Result<int> read = 0;
    if (round % 10 == 0) {
      WriteAll(dir / "fuzz.mnt", file);
      read = ReadMonitorFile(dir / "fuzz.mnt", *out);
    } else {
      read = DecodeMonitorFile(file, *out);
    }
    if (read.ok()) {
      ++accepted;
      ASSERT_LE(*read, 32);
      ASSERT_EQ(out->server_count, *read);
    }
  }
  EXPECT_LT(accepted, 3000);
}

}  // namespace
}  // namespace zelin::monitor
