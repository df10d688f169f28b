// The diagnostic configuration: its file image, the file's life cycle, hostile files,
// the pages' rules and the COM mapping read from the store.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "portcheck/core/com_mapping.hpp"
#include "portcheck/core/config_file.hpp"
#include "portcheck/core/config_pages.hpp"
#include "store/registry.hpp"
#include "store/server_store.hpp"

namespace zelin::portcheck {
namespace {

namespace fs = std::filesystem;

ServerImage Image(uint16_t type, uint16_t serial, Ipv4 ip, std::string_view name) {
  ServerImage im;
  PutLe16(im.bytes, wire::kSrDeviceType, type);
  PutLe16(im.bytes, wire::kSrSerial, serial);
  PutIpv4(im.bytes, wire::kSrIpAddress, ip);
  im.bytes[wire::kSrPortCount] = static_cast<uint8_t>(ModelPortCount(type));
  for (size_t i = 0; i < name.size(); ++i) im.bytes[wire::kSrName + i] = static_cast<uint8_t>(name[i]);
  return im;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct ConfigFileTest : ::testing::Test {
  fs::path dir = fs::path(::testing::TempDir()) / ("portcheck_cfg_" + std::to_string(::getpid()));
  fs::path file = dir / "sub" / "ZELIN.CFG";
  void SetUp() override { fs::remove_all(dir); }
  void TearDown() override { fs::remove_all(dir); }
};

TEST(DiagConfigImage, FieldsSitAtTheirOffsets) {
  DiagConfig c = DiagConfig::Defaults();
  ServerTestSettings s;
  s.password = "harbour";
  s.port_mask = 0xFFFF;
  s.server_flags = kTestPrinter;
  s.status = -1;
  s.port_status.fill(0xFFFFFFFF);
  s.port_status[0] = 7;
  ASSERT_TRUE(c.AddServer(Image(9480, 3307, Ipv4FromOctets(127, 0, 0, 9), "Workshop"), s));
  const DiagImage b = EncodeDiagConfig(c);
  EXPECT_EQ(GetLe32(b, 0), 1028u);
  EXPECT_EQ(GetLe32(b, 4), 0x1000072u);
  EXPECT_EQ(GetLe32(b, 8), 14u);
  EXPECT_EQ(GetLe32(b, 12), 3u);
  EXPECT_EQ(GetLe32(b, 16), 1u);
  EXPECT_EQ(GetLe16(b, 20 + 10), 9480);
  EXPECT_EQ(b[20 + 74], 127);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[2772])), "harbour");
  EXPECT_EQ(GetLe32(b, 2772 + 64), 0xFFFFu);
  EXPECT_EQ(GetLe32(b, 2772 + 68), 4u);
  EXPECT_EQ(GetLe32(b, 2772 + 72), 0xFFFFFFFFu);
  EXPECT_EQ(GetLe32(b, 2772 + 76), 7u);
  EXPECT_EQ(GetLe32(b, 2772 + 80), 0xFFFFFFFFu);
  for (size_t i = 7252; i < kDiagConfigSize; ++i) ASSERT_EQ(b[i], 0) << i;

  auto back = DecodeDiagConfig(b);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, c);

  // Removing the first of two servers moves the second up and leaves the old last entry.
  c.AddServer(Image(771, 1201, Ipv4FromOctets(127, 0, 0, 10), "Dock North"), {});
  c.RemoveServer(0);
  EXPECT_EQ(c.server_count, 1);
  EXPECT_EQ(c.images[0].name(), "Dock North");
  EXPECT_EQ(c.images[1].name(), "Dock North");
}

TEST_F(ConfigFileTest, MissingThenSavedThenUnchangedThenReplacedWithBackup) {
  DiagConfigFile f(file.string());
  DiagConfig live = f.Load();
  EXPECT_FALSE(f.loaded_file());
  EXPECT_EQ(live, DiagConfig::Defaults());

  ServerTestSettings s;
  s.status = 1;
  s.port_mask = 0xFFFF;
  live.AddServer(Image(771, 1201, Ipv4FromOctets(127, 0, 0, 10), "Dock North"), s);
  ASSERT_TRUE(f.SaveIfChanged(live));  // creates the directory too
  EXPECT_EQ(ReadAll(file).size(), kDiagConfigSize);
  EXPECT_FALSE(fs::exists(file.string() + ".bak"));

  DiagConfigFile again(file.string());
  DiagConfig loaded = again.Load();
  EXPECT_TRUE(again.loaded_file());
  EXPECT_EQ(loaded.settings[0].status, kStatusUnreachable);  // unknown until checked
  // Only the status changed since the file was read: written back, the old file kept.
  ASSERT_TRUE(again.SaveIfChanged(loaded));
  EXPECT_EQ(ReadAll(file.string() + ".bak")[2772 + 72], 1);
  EXPECT_EQ(ReadAll(file)[2772 + 72], 0xFF);
  fs::remove(file.string() + ".bak");
  ASSERT_TRUE(again.SaveIfChanged(loaded));  // nothing new: not written
  EXPECT_FALSE(fs::exists(file.string() + ".bak"));
}

TEST_F(ConfigFileTest, ForeignFilesGiveDefaultsAndAreReplacedAtExit) {
  fs::create_directories(file.parent_path());
  std::mt19937 rng(1028);
  const DiagImage good = EncodeDiagConfig(DiagConfig::Defaults());
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes;
    switch (round % 4) {
      case 0: bytes.resize(rng() % (2 * kDiagConfigSize)); break;           // random size
      case 1: bytes.assign(good.begin(), good.begin() + rng() % kDiagConfigSize); break;  // cut
      case 2: bytes.assign(good.begin(), good.end()); bytes.push_back(0); break;  // one too many
      case 3: bytes.assign(good.begin(), good.end()); break;                 // right size, noise
    }
    for (size_t i = (round % 4 == 3 ? 4 : 0); i < bytes.size(); ++i)
      if (round % 4 == 0 || round % 4 == 3) bytes[i] = static_cast<uint8_t>(rng());
    if (round % 8 == 3) PutLe32(bytes, 0, 1029);  // wrong magic
    WriteAll(file, bytes);
    DiagConfigFile f(file.string());
    const DiagConfig live = f.Load();
    if (round % 4 != 3) {
      ASSERT_EQ(live, DiagConfig::Defaults()) << round;
      ASSERT_TRUE(f.SaveIfChanged(live));
      ASSERT_EQ(ReadAll(file), std::vector<uint8_t>(good.begin(), good.end())) << round;
      ASSERT_EQ(ReadAll(file.string() + ".bak"), bytes) << round;
    } else {
      // Noise behind a valid magic: a configuration within the capacities, or defaults.
      ASSERT_LE(live.server_count, kMaxDiagServers);
      ASSERT_LT(live.baud_index, kBaudTable.size());
      for (int i = 0; i < live.server_count; ++i)
        ASSERT_LE(live.settings[i].password.size(), kMaxPasswordLength);
    }
  }
}

TEST(ConfigPages, StopBitsAndTestItemsWriteTheirBits) {
  DiagConfig c = DiagConfig::Defaults();
  CommParamsPage comm;
  comm.Open(c);
  EXPECT_EQ(comm.baud, 14);
  EXPECT_EQ(comm.data_bits, 3);
  EXPECT_EQ(comm.stop_bits, 0);
  c.test_flags |= 0x30000000;
  comm.stop_bits = 2;
  comm.parity = 2;
  comm.Close(c);
  EXPECT_EQ(c.serial_mode, 3 | 4 | 0x18);
  EXPECT_EQ(c.test_flags, 0x81000072u);  // bits 28-31 rewritten: only bit 31
  comm.Open(c);
  EXPECT_EQ(comm.stop_bits, 2);
  comm.stop_bits = 1;
  comm.Close(c);
  EXPECT_EQ(c.test_flags, 0x01000072u);
  comm.Open(c);
  EXPECT_EQ(CommParamsPage::kStopBits[static_cast<size_t>(comm.stop_bits)], "1.5");
  c.test_flags |= 0x80000000;
  comm.stop_bits = 0;
  comm.Close(c);
  EXPECT_EQ(c.serial_mode & 4, 0);
  EXPECT_EQ(c.test_flags, 0x81000072u);  // "1" leaves TestFlags alone

  TestItemPage items;
  c.test_flags = 0x8F0000FF;
  items.Open(c);
  items.external = false;  // subitems keep their marks while disabled
  EXPECT_FALSE(items.subitems_enabled());
  items.Close(c);
  EXPECT_EQ(c.test_flags, 0x800000F2u);
}

TEST(ConfigPages, IpTextRules) {
  EXPECT_EQ(ParseIpText("127.0.43.7 (VR-13, Dock, SerialNo:1)"), Ipv4FromOctets(127, 0, 43, 7));
  EXPECT_EQ(ParseIpText("10..0.1"), Ipv4FromOctets(10, 0, 0, 1));  // empty part is 0
  EXPECT_EQ(ParseIpText("0.0.0.0"), 0u);
  EXPECT_EQ(ParseIpText("..."), 0u);
  EXPECT_EQ(ParseIpText("1.2.3"), 0u);
  EXPECT_EQ(ParseIpText("1.2.3.4.5"), 0u);
  EXPECT_EQ(ParseIpText("1.2.3.256"), 0u);
  EXPECT_EQ(ParseIpText("1.2.3.4x"), 0u);
  EXPECT_EQ(ParseIpText("1.2.3.99999999999999999999"), 0u);
}

TEST(ComMapping, ReadsCompleteServersOnly) {
  MemoryRegistry reg;
  const std::string root(kParametersKey);
  reg.CreateKey(root);
  reg.WriteDword(root, "Servers", 3);
  auto server = [&](const std::string& key, uint32_t type, uint16_t serial, bool password) {
    reg.CreateKey(key);
    reg.WriteDword(key, "IPAddress", 0x7F002B0A);
    reg.WriteDword(key, "SerialNo", serial);
    reg.WriteDword(key, "DeviceType", type);
    if (password) reg.WriteBinary(key, "Password", std::vector<uint8_t>(16));
    for (int p = 0; p < ModelPortCount(static_cast<DeviceType>(type)); ++p) {
      const std::string pk = key + "\\" + PortKeyName(static_cast<uint32_t>(p));
      reg.CreateKey(pk);
      if (p != 2) reg.WriteDword(pk, "PortFlag", p == 1 ? 0 : 1);
      reg.WriteDword(pk, "COM", p == 0 ? 0 : 5 + static_cast<uint32_t>(p));
    }
  };
  server(root + "\\Server1", 9480, 3307, true);
  server(root + "\\Server2", 9480, 3308, false);  // no password: skipped
  server(root + "\\Server3", 769, 3309, true);    // a model the diagnostic does not know
  const auto table = ComMappingTable::Read(reg);
  ASSERT_EQ(table.servers().size(), 1u);
  const Ipv4 ip = Ipv4FromOctets(127, 0, 43, 10);
  EXPECT_EQ(table.Lookup(ip, 3307, 0), 256);
  EXPECT_EQ(table.Lookup(ip, 3307, 1), -1);  // PortFlag 0
  EXPECT_EQ(table.Lookup(ip, 3307, 2), -1);  // no PortFlag
  EXPECT_EQ(table.Lookup(ip, 3307, 3), 8);
  EXPECT_EQ(table.Lookup(ip, 3308, 3), -1);
}

}  // namespace
}  // namespace zelin::portcheck
