#include "store/server_store.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <sstream>

#include "store/com_devices.hpp"
#include "store/reg_text.hpp"
#include "store/store_check.hpp"
#include "tests/store/store_util.hpp"

namespace zelin {
namespace {

using testing::MakeServer;
using testing::MapPort;
using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFileText;

using Table = std::vector<ServerConfig>;

const std::string kParams(kParametersKey);

std::string ServerKey(const std::string& name) {
  return RegJoin(kParams, name);
}

// A server key written by hand, with every value the loader requires.
void RawServer(Registry& reg, const std::string& name, uint32_t type, uint32_t serial) {
  const std::string key = ServerKey(name);
  ASSERT_TRUE(reg.CreateKey(key));
  ASSERT_TRUE(reg.WriteDword(key, "DeviceType", type));
  ASSERT_TRUE(reg.WriteDword(key, "ServerFlag", 1));
  ASSERT_TRUE(reg.WriteDword(key, "SerialNo", serial));
  ASSERT_TRUE(reg.WriteBinary(key, "ServerName", AsBytes(name)));
  ASSERT_TRUE(reg.WriteDword(key, "IPAddress", 0x0A000001));
  ASSERT_TRUE(reg.WriteDword(key, "Netmask", 0x00FFFFFF));
}

std::vector<uint16_t> Serials(const Table& t) {
  std::vector<uint16_t> out;
  for (const auto& c : t) out.push_back(c.serial_number);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class StoreTest : public ::testing::Test {
 protected:
  MemoryRegistry Tree() const {
    MemoryRegistry reg;
    const Status st = hive_.Load(reg);
    EXPECT_TRUE(st.ok()) << st.message();
    return reg;
  }
  void Put(const MemoryRegistry& reg) { ASSERT_TRUE(hive_.Store(reg).ok()); }
  std::string Text() const { return ReadFileText(hive_.path()); }

  // Loads with the given capacity; the records loaded (empty on -1, see `result`).
  Table Load(size_t capacity = kMaxConfiguredServers, int* result = nullptr) const {
    Table table(capacity);
    const int n = LoadServerStore(hive_, table).value_or(-1);
    if (result != nullptr) *result = n;
    table.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return table;
  }
  bool Save(const Table& now, const Table& old) {
    const Status st = SaveServerStore(hive_, now, old);
    EXPECT_TRUE(st.ok() || !st.message().empty()) << "a failure tells what failed";
    return st.ok();
  }
  // Saves `now` over `saved` and makes it the saved copy.
  void Commit(const Table& now, Table& saved) {
    ASSERT_TRUE(Save(now, saved));
    saved = now;
  }
  std::string PortKey(uint16_t serial, int port) const {
    const auto name = FindServerKey(Tree(), serial);
    EXPECT_TRUE(name) << serial;
    return RegJoin(ServerKey(name.value_or("?")), PortKeyName(static_cast<uint32_t>(port)));
  }
  std::string DeviceKeyOf(uint16_t serial, int port) const {
    return RegJoin(kEnumRootKey, Tree().ReadString(PortKey(serial, port), "PortDriver").value());
  }
  // Problems other than duplicate COM numbers (which the tests do not avoid).
  std::vector<std::string> Inconsistencies() const {
    std::vector<std::string> out;
    for (const auto& p : CheckStore(Tree()))
      if (p.kind != StoreProblem::Kind::kDuplicateCom) out.push_back(p.message);
    return out;
  }

  TempDir dir_;
  HiveFile hive_{dir_ / "registry.reg"};
};

TEST_F(StoreTest, LoadTakesUpToServersUsableKeysInRegistryOrder) {
  MemoryRegistry reg;
  RawServer(reg, "Server4", 9480, 4);
  RawServer(reg, "Broken", 9480, 99);
  ASSERT_TRUE(reg.DeleteKey(ServerKey("Broken")));
  ASSERT_TRUE(reg.CreateKey(ServerKey("Broken")));  // no values at all
  RawServer(reg, "Server2", 769, 2);                // a type of another product line
  RawServer(reg, "Server1", 771, 1);
  RawServer(reg, "Server3", 8452, 3);
  ASSERT_TRUE(reg.WriteDword(kParams, "Servers", 5));
  Put(reg);
  EXPECT_EQ(Serials(Load()), (std::vector<uint16_t>{4, 1, 3}));
  EXPECT_EQ(Serials(Load(2)), (std::vector<uint16_t>{4, 1}));
  const Table t = Load();
  EXPECT_EQ(t[0].port_count, 8u);
  EXPECT_EQ(t[1].port_count, 16u);
  EXPECT_EQ(t[2].port_count, 4u);
  EXPECT_EQ(t[1].name(), "Server1");
  EXPECT_EQ(t[1].flags, 1);

  ASSERT_TRUE(reg.WriteDword(kParams, "Servers", 2));
  Put(reg);
  EXPECT_EQ(Serials(Load()), (std::vector<uint16_t>{4, 1}));
  ASSERT_TRUE(reg.WriteDword(kParams, "Servers", 0));
  Put(reg);
  int result = -2;
  EXPECT_TRUE(Load(32, &result).empty());
  EXPECT_EQ(result, 0);

  ASSERT_TRUE(reg.DeleteKey(kParams));
  Put(reg);
  Load(32, &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(ReadInstallationType(hive_).value_or(-1), -1);
}

TEST_F(StoreTest, ProductLinesTakeOnlyTheirOwnModels) {
  MemoryRegistry reg;
  const std::string zelit(ParametersKeyOf(ProductLine::kZelit));
  for (const auto& [name, type] : {std::pair{"A", 769u}, {"B", 9480u}, {"C", 772u}}) {
    ASSERT_TRUE(reg.CreateKey(RegJoin(zelit, name)));
    const std::string key = RegJoin(zelit, name);
    for (const char* v : {"ServerFlag", "SerialNo", "IPAddress", "Netmask"})
      ASSERT_TRUE(reg.WriteDword(key, v, 1));
    ASSERT_TRUE(reg.WriteDword(key, "DeviceType", type));
    ASSERT_TRUE(reg.WriteBinary(key, "ServerName", AsBytes(name)));
  }
  ASSERT_TRUE(reg.WriteDword(zelit, "Servers", 3));
  Put(reg);
  Table t(32);
  ASSERT_EQ(LoadServerStore(hive_, ProductLine::kZelit, t), 2);
  EXPECT_EQ(t[0].port_count, 1u);
  EXPECT_EQ(t[1].port_count, 4u);
  EXPECT_EQ(LoadServerStore(hive_, ProductLine::kZelinExpress, t).value_or(-1), -1);
  EXPECT_EQ(PortCountOf(ProductLine::kZelinExpress, 33553), 1);
  EXPECT_EQ(PortCountOf(769), 0);
  EXPECT_EQ(PortCountOf(9747), 16);
}

TEST_F(StoreTest, AMissingStoreIsNoStoreOnBothLayersNamingTheKeyAndTheFile) {
  const MemoryRegistry empty;
  Table t(4);
  const std::string express(ParametersKeyOf(ProductLine::kZelinExpress));
  for (const Status& st : {LoadServerStore(empty, ProductLine::kZelinExpress, t).status(),
                           ReadInstallationType(empty).status()}) {
    EXPECT_EQ(st, StoreError::kNoStore);
    EXPECT_EQ(st.message().rfind("no store (the key ", 0), 0u) << st;
  }
  EXPECT_NE(LoadServerStore(empty, ProductLine::kZelinExpress, t).status().message().find(express),
            std::string::npos);
  Put(empty);
  const Status st = LoadServerStore(hive_, ProductLine::kZelinExpress, t).status();
  EXPECT_EQ(st, StoreError::kNoStore);
  EXPECT_EQ(st.message(), hive_.path().string() + ": no store (the key " + express +
                              " does not exist)");
  EXPECT_EQ(ReadInstallationType(hive_).status(), StoreError::kNoStore);
}

// Every known code against every line: a code counts only in its own line's store.
TEST_F(StoreTest, EachLineHasItsOwnKeyAndPortCounts) {
  EXPECT_EQ(ParametersKeyOf(ProductLine::kZelin), "SoftWare\\KIVO\\Zelin\\Parameters");
  EXPECT_EQ(ParametersKeyOf(ProductLine::kZelit), "SoftWare\\KIVO\\Zelit\\Parameters");
  EXPECT_EQ(ParametersKeyOf(ProductLine::kZelinExpress),
            "SoftWare\\KIVO\\ZelinExpress\\Parameters");
  struct Expected {
    DeviceType type;
    int zelin, zelit, express;
  };
  static constexpr Expected kCounts[] = {
      {771, 16, 0, 0},  {776, 8, 0, 0},    {8452, 4, 0, 0},  {8456, 8, 0, 0},  {8470, 16, 0, 0},
      {9476, 4, 0, 0},  {9480, 8, 0, 0},   {9491, 16, 0, 0}, {9494, 16, 0, 0}, {9496, 8, 0, 0},
      {9747, 16, 0, 0}, {9752, 8, 0, 0},   {769, 0, 1, 0},   {817, 0, 1, 0},   {770, 0, 2, 0},
      {818, 0, 2, 0},   {772, 0, 4, 0},    {820, 0, 4, 0},   {785, 0, 0, 1},   {33553, 0, 0, 1},
      {0, 0, 0, 0},     {0x2100, 0, 0, 0}, {65535, 0, 0, 0}};
  for (const auto& e : kCounts) {
    EXPECT_EQ(PortCountOf(e.type), e.zelin) << e.type;
    EXPECT_EQ(PortCountOf(ProductLine::kZelin, e.type), e.zelin) << e.type;
    EXPECT_EQ(PortCountOf(ProductLine::kZelit, e.type), e.zelit) << e.type;
    EXPECT_EQ(PortCountOf(ProductLine::kZelinExpress, e.type), e.express) << e.type;
  }

  // Each line loads from its own key only: one server of each line in each tree.
  MemoryRegistry reg;
  const ProductLine lines[] = {ProductLine::kZelin, ProductLine::kZelit,
                               ProductLine::kZelinExpress};
  const uint32_t types[] = {9480, 818, 33553};
  for (const ProductLine line : lines) {
    const std::string params(ParametersKeyOf(line));
    ASSERT_TRUE(reg.CreateKey(params));
    ASSERT_TRUE(reg.WriteDword(params, "Servers", 3));
    for (size_t i = 0; i < 3; ++i) {
      const std::string key = RegJoin(params, "Server" + std::to_string(i + 1));
      ASSERT_TRUE(reg.CreateKey(key));
      for (const char* v : {"ServerFlag", "IPAddress", "Netmask"})
        ASSERT_TRUE(reg.WriteDword(key, v, 0));
      ASSERT_TRUE(reg.WriteDword(key, "SerialNo", 100 * (static_cast<uint32_t>(line) + 1) + i));
      ASSERT_TRUE(reg.WriteDword(key, "DeviceType", types[i]));
      ASSERT_TRUE(reg.WriteBinary(key, "ServerName", AsBytes("x")));
    }
  }
  Put(reg);
  for (size_t l = 0; l < 3; ++l) {
    Table t(32);
    ASSERT_EQ(LoadServerStore(hive_, lines[l], t), 1) << l;
    EXPECT_EQ(t[0].device_type, types[l]);
    EXPECT_EQ(t[0].serial_number, 100 * (l + 1) + l);
  }
}

TEST_F(StoreTest, PortValuesLoadUntilTheFirstMissingPortKey) {
  MemoryRegistry reg;
  RawServer(reg, "Server1", 8452, 1);  // 4 ports
  ASSERT_TRUE(reg.WriteDword(kParams, "Servers", 1));
  const std::string s = ServerKey("Server1");
  auto port = [&](const char* name, std::initializer_list<std::pair<const char*, uint32_t>> v) {
    ASSERT_TRUE(reg.CreateKey(RegJoin(s, name)));
    for (const auto& [k, x] : v) ASSERT_TRUE(reg.WriteDword(RegJoin(s, name), k, x));
  };
  port("Port0000", {{"PortFlag", 1}, {"COM", 0}, {"Transmission", 1}, {"FIFO", 1}});
  port("Port0001", {{"PortFlag", 1}, {"Transmission", 1}});  // no COM: rest unread
  port("Port0003", {{"PortFlag", 1}, {"COM", 9}});           // behind a missing key
  Put(reg);
  const Table t = Load();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].port_mapped[0], 1);
  EXPECT_EQ(ComNumberOf(t[0].com_number[0]), 256);
  EXPECT_EQ(t[0].port_options[0], kOptionClassical | kOptionFifoDisabled);
  EXPECT_EQ(t[0].port_mapped[1], 1);
  EXPECT_EQ(t[0].port_options[1], 0);
  EXPECT_EQ(t[0].port_mapped[3], 0);
  EXPECT_EQ(t[0].com_number[3], 0);
  EXPECT_EQ(t[0].password(), "");  // no Password value
  EXPECT_EQ(t[0].write_state, kWriteWhenChanged);
}

TEST_F(StoreTest, AddressAndNetmaskUseTheirOwnByteOrders) {
  WriteFileText(hive_.path(),
                "REGEDIT4\n\n"
                "[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters]\n"
                "\"Servers\"=dword:00000001\n\n"
                "[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters\\Server1]\n"
                "\"DeviceType\"=dword:00002504\n"
                "\"ServerFlag\"=dword:00000000\n"
                "\"SerialNo\"=dword:00000007\n"
                "\"ServerName\"=hex:4e,31\n"
                "\"IPAddress\"=dword:c0a8010a\n"
                "\"Netmask\"=dword:00ffffff\n\n");
  Table t = Load();
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(Ipv4Octets(t[0].ip_address), (std::array<uint8_t, 4>{192, 168, 1, 10}));
  EXPECT_EQ(Ipv4Octets(t[0].netmask), (std::array<uint8_t, 4>{255, 255, 255, 0}));
  EXPECT_EQ(t[0].name(), "N1");

  // Saved back (as an update) and as a new server, both keep the same numbers.
  ASSERT_TRUE(Save(t, t));
  ServerConfig added = MakeServer(8);
  added.ip_address = t[0].ip_address;
  added.netmask = t[0].netmask;
  t.push_back(added);
  ASSERT_TRUE(Save(t, Table(t.begin(), t.begin() + 1)));
  const MemoryRegistry reg = Tree();
  for (const char* server : {"Server1", "Server2"}) {
    EXPECT_EQ(reg.ReadDword(ServerKey(server), "IPAddress"), 0xC0A8010Au) << server;
    EXPECT_EQ(reg.ReadDword(ServerKey(server), "Netmask"), 0x00FFFFFFu) << server;
  }
}

TEST_F(StoreTest, PasswordIsMaskedPerServer) {
  const Md5Digest mask = PasswordMask(9480, 0x1234);
  EXPECT_EQ(mask, (Md5Digest{0x3d, 0x30, 0x64, 0x85, 0x5d, 0x18, 0xdb, 0x46, 0x25, 0xf9, 0x0b, 0xcc,
                             0x7d, 0x46, 0xb8, 0x11}));
  Table t{MakeServer(1), MakeServer(2), MakeServer(3)};
  t[0].set_password("secret");
  t[1].set_password("secret");
  t[2].set_password("0123456789abcdef");  // all 16 bytes, no terminator
  ASSERT_TRUE(Save(t, {}));
  MemoryRegistry reg = Tree();
  const auto p1 = reg.ReadBinary(ServerKey("Server1"), "Password");
  const auto p2 = reg.ReadBinary(ServerKey("Server2"), "Password");
  ASSERT_TRUE(p1 && p2);
  EXPECT_EQ(p1->size(), 16u);
  EXPECT_NE(*p1, *p2);
  const Table back = Load();
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].password(), "secret");
  EXPECT_EQ(back[1].password(), "secret");
  EXPECT_EQ(back[2].password(), "0123456789abcdef");

  // Any other length reads as no password.
  ASSERT_TRUE(reg.WriteBinary(ServerKey("Server1"), "Password",
                              std::vector<uint8_t>(p1->begin(), p1->end() - 1)));
  Put(reg);
  EXPECT_EQ(Load()[0].password(), "");
}

TEST_F(StoreTest, FreedServerNumberIsReused) {
  Table saved;
  Commit({MakeServer(1), MakeServer(2), MakeServer(3)}, saved);
  Commit({MakeServer(1), MakeServer(3)}, saved);
  EXPECT_FALSE(Tree().KeyExists(ServerKey("Server2")));
  Commit({MakeServer(1), MakeServer(3), MakeServer(4)}, saved);
  EXPECT_EQ(FindServerKey(Tree(), 4), "Server2");
  EXPECT_EQ(FindServerKey(Tree(), 3), "Server3");
  // Registry order is creation order: the reused key comes last.
  EXPECT_EQ(Serials(Load()), (std::vector<uint16_t>{1, 3, 4}));
  const MemoryRegistry reg = Tree();
  EXPECT_EQ(reg.ReadDword(kParams, "Servers"), 3u);
  EXPECT_EQ(reg.ReadDword(kParams, "Ports"), 24u);
  EXPECT_EQ(reg.ReadDword(kParams, "SessionRecovery"), 1u);
}

TEST_F(StoreTest, NoServerIsAddedWhenAllNumbersAreTaken) {
  MemoryRegistry reg;
  for (int n = 1; n <= kMaxServerKeyNumber; ++n)
    ASSERT_TRUE(reg.CreateKey(ServerKey("Server" + std::to_string(n))));
  ASSERT_TRUE(reg.WriteDword(kParams, "SessionRecovery", 0));
  Put(reg);
  ASSERT_TRUE(Save({MakeServer(5)}, {}));
  EXPECT_FALSE(FindServerKey(Tree(), 5));
  EXPECT_EQ(Tree().ReadDword(kParams, "SessionRecovery"), 0u);  // kept as found
}

TEST_F(StoreTest, MappedPortsGetTheLowestFreeIndicesAndComNames) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("Enum\\Root\\Ports\\0000"));  // someone else's port
  Put(reg);
  Table saved;
  Commit({MakeServer(1, 8452)}, saved);
  // Unmapped ports only get a link, named after the device index free at that time.
  EXPECT_EQ(Tree().ReadString(PortKey(1, 3), "PortDriver"), "Ports\\0001");
  EXPECT_FALSE(Tree().KeyExists("Enum\\Root\\Ports\\0001"));

  Table now = saved;
  MapPort(now[0], 1, 5);
  MapPort(now[0], 2, 0);
  Commit(now, saved);
  const MemoryRegistry tree = Tree();
  EXPECT_EQ(tree.ReadString(PortKey(1, 1), "PortDriver"), "Ports\\0001");
  EXPECT_EQ(tree.ReadString(PortKey(1, 2), "PortDriver"), "Ports\\0002");
  EXPECT_EQ(tree.ReadString("Enum\\Root\\Ports\\0001", "Driver"), "ports\\0000");
  EXPECT_EQ(tree.ReadString("Enum\\Root\\Ports\\0002", "Driver"), "ports\\0001");
  EXPECT_EQ(tree.ReadString("Enum\\Root\\Ports\\0001", "PortName"), "COM5");
  EXPECT_EQ(tree.ReadString("Enum\\Root\\Ports\\0002", "PortName"), "COM256");
  EXPECT_EQ(tree.ReadString("Enum\\Root\\Ports\\0002", "FriendlyName"), "Zelin Server (COM256)");
  EXPECT_EQ(tree.ReadDword(PortKey(1, 2), "COM"), 0u);
  EXPECT_EQ(tree.ReadDword(PortKey(1, 2), "PortFlag"), 1u);

  // A changed COM number reaches the device key on the next save.
  now[0].com_number[1] = 6;
  Commit(now, saved);
  EXPECT_EQ(Tree().ReadString("Enum\\Root\\Ports\\0001", "PortName"), "COM6");
  EXPECT_TRUE(Inconsistencies().empty());
}

TEST_F(StoreTest, UnmappingRemovesBothKeysButKeepsTheLink) {
  Table saved;
  Table now{MakeServer(1, 8452)};
  MapPort(now[0], 0, 3);
  MapPort(now[0], 1, 4);
  Commit(now, saved);
  const std::string device = DeviceKeyOf(1, 0);
  const std::string klass = RegJoin(kClassRootKey, *Tree().ReadString(device, "Driver"));
  ASSERT_TRUE(Tree().KeyExists(klass));
  now[0].port_mapped[0] = 0;
  now[0].com_number[0] = 0;
  Commit(now, saved);
  const MemoryRegistry tree = Tree();
  EXPECT_FALSE(tree.KeyExists(device));
  EXPECT_FALSE(tree.KeyExists(klass));
  EXPECT_EQ(RegJoin(kEnumRootKey, tree.ReadString(PortKey(1, 0), "PortDriver").value()), device);
  EXPECT_EQ(tree.ReadDword(PortKey(1, 0), "PortFlag"), 0u);
  EXPECT_TRUE(tree.KeyExists(DeviceKeyOf(1, 1)));
  EXPECT_TRUE(Inconsistencies().empty());
}

TEST_F(StoreTest, RemovingAServerLeavesOtherServersEntriesAlone) {
  // Server 1's unmapped port links to device index 0 (free when it was added); server 2
  // then maps a port and gets that index. Removing server 1 must not take it away.
  Table saved;
  Commit({MakeServer(1, 8452)}, saved);
  Table now = saved;
  now.push_back(MakeServer(2, 8452));
  MapPort(now[1], 0, 9);
  Commit(now, saved);
  ASSERT_EQ(DeviceKeyOf(2, 0), "Enum\\Root\\Ports\\0000");
  ASSERT_EQ(Tree().ReadString(PortKey(1, 0), "PortDriver"), "Ports\\0000");
  now.erase(now.begin());
  Commit(now, saved);
  EXPECT_TRUE(Tree().KeyExists("Enum\\Root\\Ports\\0000"));
  EXPECT_EQ(Tree().ReadString("Enum\\Root\\Ports\\0000", "PortName"), "COM9");
  EXPECT_TRUE(Inconsistencies().empty());
}

TEST_F(StoreTest, RemoveAllServersTakesEveryEntryWhateverTheOrder) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("Enum\\Root\\Ports\\0999"));  // not ours
  ASSERT_TRUE(reg.CreateKey("SoftWare\\KIVO\\Other"));
  ASSERT_TRUE(reg.CreateKey(kParams));
  ASSERT_TRUE(reg.WriteDword(kParams, "ZelinType", 2));
  Put(reg);
  Table saved;
  Table now{MakeServer(1), MakeServer(2), MakeServer(3)};
  for (auto& c : now)
    for (int p = 0; p < 8; ++p) MapPort(c, p, static_cast<uint8_t>(c.serial_number * 10 + p));
  Commit(now, saved);
  now.erase(now.begin() + 1);
  Commit(now, saved);
  now.push_back(MakeServer(4));
  MapPort(now.back(), 7, 200);
  Commit(now, saved);  // Server2 now comes after Server3
  ASSERT_EQ(Tree().EnumSubkey(kParams, 2), "Server2");
  ASSERT_EQ(ReadInstallationType(hive_), kMultiHost);

  const Status st = RemoveAllServers(hive_);
  ASSERT_TRUE(st) << st;
  const MemoryRegistry tree = Tree();
  EXPECT_FALSE(tree.KeyExists(kZelinKey));
  EXPECT_TRUE(tree.KeyExists("SoftWare\\KIVO\\Other"));
  EXPECT_EQ(tree.EnumSubkey(kDeviceParentKey, 0), "0999");
  EXPECT_FALSE(tree.EnumSubkey(kDeviceParentKey, 1));
  EXPECT_FALSE(tree.EnumSubkey(RegJoin(kClassRootKey, "ports"), 0));
  EXPECT_EQ(ReadInstallationType(hive_).value_or(-1), -1);
  int result = 0;
  Load(32, &result);
  EXPECT_EQ(result, -1);
}

// A server that keeps its serial number but reports another model: the ports it no
// longer has go with their device entries, the new ones are created and mapped.
TEST_F(StoreTest, ChangedModelKeepsOnlyThePortsItHas) {
  Table saved;
  Table now{MakeServer(1, 771)};  // 16 ports
  for (int p = 0; p < 16; ++p) MapPort(now[0], p, static_cast<uint8_t>(p + 1));
  Commit(now, saved);
  Table smaller{MakeServer(1, 8452)};  // 4 ports
  MapPort(smaller[0], 3, 4);
  Commit(smaller, saved);
  EXPECT_EQ(Load(), smaller);
  EXPECT_EQ(Tree().Subkeys(ServerKey("Server1")).size(), 4u);
  EXPECT_EQ(Tree().Subkeys(kDeviceParentKey).size(), 1u);
  EXPECT_EQ(Inconsistencies(), std::vector<std::string>{});
  EXPECT_EQ(Tree().ReadDword(kParams, "Ports"), 4u);

  Table larger{MakeServer(1, 9480)};  // 8 ports
  MapPort(larger[0], 7, 9);
  Commit(larger, saved);
  EXPECT_EQ(Load(), larger);
  EXPECT_EQ(Tree().ReadString(DeviceKeyOf(1, 7), "PortName"), "COM9");
  EXPECT_EQ(Tree().Subkeys(kDeviceParentKey).size(), 1u);
  EXPECT_EQ(Inconsistencies(), std::vector<std::string>{});
}

// Two records with one serial number (a hand-edited store loads that way) each keep a
// key of their own, and dropping one of them takes its key and entries with it.
TEST_F(StoreTest, RecordsSharingASerialNumberPairWithTheirOwnKeys) {
  Table saved;
  Table now{MakeServer(1), MakeServer(1, 8452)};
  MapPort(now[0], 0, 3);
  MapPort(now[1], 0, 4);
  MapPort(now[1], 1, 5);
  Commit(now, saved);
  EXPECT_EQ(Load(), now);
  EXPECT_EQ(Tree().Subkeys(kDeviceParentKey).size(), 3u);

  now[1].com_number[1] = 6;  // the second record changes: its own key follows
  Commit(now, saved);
  EXPECT_EQ(Load(), now);

  now.pop_back();
  Commit(now, saved);
  EXPECT_EQ(Load(), now);
  EXPECT_EQ(Tree().Subkeys(kParams).size(), 1u);
  EXPECT_EQ(Tree().Subkeys(kDeviceParentKey).size(), 1u);
  EXPECT_EQ(Inconsistencies(), std::vector<std::string>{});

  Commit({}, saved);
  EXPECT_TRUE(Tree().Subkeys(kDeviceParentKey).empty());
  EXPECT_TRUE(Tree().Subkeys(kParams).empty());
}

TEST_F(StoreTest, SaveChangesOnlyWhatChanged) {
  Table saved;
  Table now{MakeServer(1), MakeServer(2, 8452)};
  MapPort(now[0], 0, 3);
  MapPort(now[0], 1, 4);
  now[1].set_password("pw");
  Commit(now, saved);
  const std::string before = Text();

  Table loaded = Load();
  ASSERT_EQ(loaded, saved);
  struct stat st1 {};
  ASSERT_EQ(::stat(hive_.path().c_str(), &st1), 0);
  ASSERT_TRUE(Save(loaded, loaded));  // nothing changed: the file is not even rewritten
  struct stat st2 {};
  ASSERT_EQ(::stat(hive_.path().c_str(), &st2), 0);
  EXPECT_EQ(st1.st_ino, st2.st_ino);
  EXPECT_EQ(Text(), before);

  Table edited = loaded;
  edited[0].com_number[1] = 7;
  ASSERT_TRUE(Save(edited, loaded));
  const auto a = Lines(before);
  const auto b = Lines(Text());
  ASSERT_EQ(a.size(), b.size());
  std::vector<std::string> changed;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) changed.push_back(b[i]);
  EXPECT_EQ(changed, (std::vector<std::string>{
                         "\"COM\"=dword:00000007", "\"DeviceDesc\"=\"Zelin Server (COM7)\"",
                         "\"PortName\"=\"COM7\"", "\"FriendlyName\"=\"Zelin Server (COM7)\""}));
  EXPECT_EQ(Load(), edited);
}

TEST_F(StoreTest, RandomSavesNeverLeaveOrphans) {
  std::mt19937 rng(20261207);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const uint16_t types[] = {9480, 8452, 771};
  Table saved;
  Table now;
  uint16_t next_serial = 1;
  for (int step = 0; step < 60; ++step) {
    switch (pick(5)) {
      case 0:
        if (now.size() < 6) now.push_back(MakeServer(next_serial++, types[pick(3)]));
        break;
      case 1:
        if (!now.empty()) now.erase(now.begin() + static_cast<long>(pick(now.size())));
        break;
      default:
        if (!now.empty()) {
          ServerConfig& c = now[pick(now.size())];
          for (int k = 0; k < 3; ++k) {
            const size_t p = pick(c.port_count);
            c.port_mapped[p] = static_cast<uint8_t>(pick(2));
            c.com_number[p] = static_cast<uint8_t>(pick(256));
            c.port_options[p] = static_cast<uint8_t>(pick(4));
          }
        }
    }
    Commit(now, saved);
    ASSERT_EQ(Inconsistencies(), std::vector<std::string>{}) << "step " << step;
    ASSERT_EQ(Load(), now) << "step " << step;
    // Exactly one device key and one class key per mapped port.
    size_t mapped = 0;
    for (const auto& c : now)
      for (size_t p = 0; p < c.port_count; ++p) mapped += c.port_mapped[p] != 0;
    const MemoryRegistry tree = Tree();
    size_t devices = 0;
    while (tree.EnumSubkey(kDeviceParentKey, devices)) ++devices;
    size_t classes = 0;
    while (tree.EnumSubkey(RegJoin(kClassRootKey, "ports"), classes)) ++classes;
    ASSERT_EQ(devices, mapped) << "step " << step;
    ASSERT_EQ(classes, mapped) << "step " << step;
  }
}

TEST_F(StoreTest, CapacitiesAreCheckedBeforeAnythingIsWritten) {
  Table saved;
  Commit({MakeServer(1)}, saved);
  const std::string before = Text();
  Table too_many;
  for (uint16_t s = 1; s <= kMaxConfiguredServers + 1; ++s) too_many.push_back(MakeServer(s));
  EXPECT_FALSE(Save(too_many, saved));
  Table too_wide{MakeServer(2)};
  too_wide[0].port_count = kMaxServerPorts + 1;
  EXPECT_FALSE(Save(too_wide, saved));
  EXPECT_EQ(Text(), before);
}

TEST_F(StoreTest, MalformedHiveIsReportedAndLeftAlone) {
  const std::string bad =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters]\n\"Servers\"=dword:1\n"
      "\"ServerName\"=hex:41,4\n";
  WriteFileText(hive_.path(), bad);
  Table table(32);
  const Result<int> loaded = LoadServerStore(hive_, table);
  EXPECT_EQ(loaded.value_or(-1), -1);
  EXPECT_NE(loaded.status().message().find("registry.reg:5:"), std::string::npos)
      << loaded.status();
  const Status st = SaveServerStore(hive_, Table{MakeServer(1)}, Table{});
  EXPECT_FALSE(st);
  EXPECT_NE(st.message().find("registry.reg:5:"), std::string::npos) << st.message();
  EXPECT_FALSE(WriteInstallationType(hive_, kSingleHost));
  EXPECT_FALSE(RemoveAllServers(hive_));
  EXPECT_EQ(Text(), bad);
}

TEST_F(StoreTest, InstallationType) {
  EXPECT_EQ(ReadInstallationType(hive_).value_or(-1), -1);
  EXPECT_FALSE(Save({}, {}));  // no parameters key: nothing to count
  EXPECT_FALSE(std::filesystem::exists(hive_.path()));
  ASSERT_TRUE(WriteInstallationType(hive_, kCustom));
  EXPECT_EQ(ReadInstallationType(hive_), kCustom);
  EXPECT_FALSE(WriteInstallationType(hive_, 4));
  MemoryRegistry reg = Tree();
  ASSERT_TRUE(reg.WriteString(kParams, "ZelinType", "x"));  // not a DWORD: not set
  Put(reg);
  EXPECT_EQ(ReadInstallationType(hive_), 0);
}

// ---- Reliability ----

// A realistic save: one server removed, one added with mapped ports, one updated
// (a port unmapped, another mapped, the name changed).
struct Scenario {
  Table saved;
  Table next;
};

Scenario MakeScenario() {
  Scenario s;
  s.saved = {MakeServer(1), MakeServer(2, 8452)};
  MapPort(s.saved[0], 0, 3);
  MapPort(s.saved[0], 1, 4);
  MapPort(s.saved[1], 2, 5);
  s.next = {s.saved[0], MakeServer(3, 8452)};
  s.next[0].port_mapped[0] = 0;
  MapPort(s.next[0], 5, 9);
  s.next[0].set_name("renamed");
  MapPort(s.next[1], 0, 10);
  MapPort(s.next[1], 3, 0);
  return s;
}

TEST_F(StoreTest, ASaveFailingAtAnyWriteLeavesTheFileAsItWas) {
  const Scenario s = MakeScenario();
  ASSERT_TRUE(Save(s.saved, {}));
  const std::string before = Text();

  MemoryRegistry probe = Tree();
  FailingRegistry counter(probe, 0);
  ASSERT_TRUE(SaveServerStore(counter, s.next, s.saved));
  const size_t writes = counter.writes();
  ASSERT_GT(writes, 50u);

  for (size_t n = 1; n <= writes; ++n) {
    bool result = true;
    const Status st = hive_.Update([&](Registry& reg) {
      FailingRegistry failing(reg, n);
      result = SaveServerStore(failing, s.next, s.saved);
      return result;
    });
    ASSERT_FALSE(result) << "write " << n;
    ASSERT_FALSE(st.ok()) << "write " << n;
    ASSERT_EQ(Text(), before) << "write " << n;
  }
  ASSERT_TRUE(Save(s.next, s.saved));
  EXPECT_EQ(Load(), s.next);
  EXPECT_TRUE(Inconsistencies().empty());
}

// Loads the store and tells which of the two tables it holds: 0, 1, or -1 for neither
// (or an unreadable or inconsistent tree).
int WhichTable(const HiveFile& hive, const Table& a, const Table& b) {
  MemoryRegistry reg;
  if (!hive.Load(reg).ok()) return -1;
  Table t(kMaxConfiguredServers);
  const int n = LoadServerStore(reg, ProductLine::kZelin, t).value_or(-1);
  if (n < 0) return -1;
  t.resize(static_cast<size_t>(n));
  for (const auto& p : CheckStore(reg))
    if (p.kind != StoreProblem::Kind::kDuplicateCom) return -1;
  return t == a ? 0 : t == b ? 1 : -1;
}

TEST_F(StoreTest, WriterKilledMidSaveLeavesTheOldOrTheNewTree) {
  const Scenario s = MakeScenario();
  ASSERT_TRUE(Save(s.saved, {}));
  for (int round = 0; round < 12; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      HiveFile hive(hive_.path());
      Table table(kMaxConfiguredServers);
      bool signalled = false;
      while (true) {  // flip between the two tables until killed
        const int n = LoadServerStore(hive, table).value_or(-1);
        if (n < 0) ::_exit(3);
        table.resize(static_cast<size_t>(n));
        const Table& target = table == s.saved ? s.next : s.saved;
        if (!SaveServerStore(hive, target, table)) ::_exit(4);
        table.resize(kMaxConfiguredServers);
        if (!signalled) {
          signalled = ::write(ready[1], "x", 1) == 1;
        }
      }
    }
    ::close(ready[1]);
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::usleep(static_cast<useconds_t>(round * 700));  // land in different phases of a save
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
    ASSERT_NE(WhichTable(hive_, s.saved, s.next), -1) << "round " << round;
  }
  // The next writer clears what the killed ones left behind.
  ASSERT_TRUE(hive_.Update([](Registry&) { return true; }).ok());
  for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_FALSE(e.path().filename().string().starts_with(".registry.reg.")) << e.path();
}

TEST_F(StoreTest, ConcurrentReaderNeverSeesATornTree) {
  const Scenario s = MakeScenario();
  ASSERT_TRUE(Save(s.saved, {}));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HiveFile hive(hive_.path());
    for (int i = 0; i < 60; ++i) {
      const Table& from = i % 2 == 0 ? s.saved : s.next;
      const Table& to = i % 2 == 0 ? s.next : s.saved;
      if (!SaveServerStore(hive, to, from)) ::_exit(4);
    }
    ::_exit(0);
  }
  int seen[2] = {0, 0};
  for (int i = 0; i < 300; ++i) {
    const int which = WhichTable(hive_, s.saved, s.next);
    ASSERT_NE(which, -1) << "read " << i;
    ++seen[which];
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(WhichTable(hive_, s.saved, s.next), 0);  // an even number of flips
}

}  // namespace
}  // namespace zelin
