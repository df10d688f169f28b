#include "store/com_devices.hpp"

#include <gtest/gtest.h>

#include "store/reg_text.hpp"

namespace zelin {
namespace {

constexpr char kPortKey[] = "SoftWare\\KIVO\\Zelin\\Parameters\\Server1\\Port0000";

TEST(ComDevices, DeviceAndDriverKeysCarryTheirValuesInOrder) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey(kPortKey));
  ASSERT_TRUE(MapPortDevice(reg, kPortKey));
  ASSERT_TRUE(WriteComNames(reg, *reg.ReadString(kPortKey, "PortDriver"), 0));
  EXPECT_EQ(reg.ReadString(kPortKey, "PortDriver"), "Ports\\0000");
  EXPECT_EQ(FormatRegText(reg, {"Enum", "System"}),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\Root]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\Root\\ports]\n\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\Root\\ports\\0000]\n"
            "\"Class\"=\"ports\"\n"
            "\"Driver\"=\"ports\\\\0000\"\n"
            "\"Mfg\"=\"Kivo\"\n"
            "\"HardwareID\"=\"KVZELIN\"\n"
            "\"ClassGUID\"=\"{4d36e978-e325-11ce-bfc1-08002be10318}\"\n"
            "\"ConfigFlags\"=hex:00,00,00,00\n"
            "\"Capabilities\"=hex:14,00,00,00\n"
            "\"DeviceDesc\"=\"Zelin Server (COM256)\"\n"
            "\"PortName\"=\"COM256\"\n"
            "\"FriendlyName\"=\"Zelin Server (COM256)\"\n\n"
            "[HKEY_LOCAL_MACHINE\\System]\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet]\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services]\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class]\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\ports]\n\n"
            "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\ports\\0000]\n"
            "\"Enumerator\"=\"serenum.vxd\"\n"
            "\"ConfigDialog\"=\"serialui.dll\"\n"
            "\"DCB\"=hex:1c,00,00,00,80,25,00,00,11,33,00,00,00,00,0a,00,0a,00,08,00,00,11,13,\\\n"
            "  00,00,00\n"
            "\"DevLoader\"=\"*vcomm\"\n"
            "\"DriverDesc\"=\"Zelin\"\n"
            "\"EnumPropPages\"=\"serialui.dll,EnumPropPages\"\n"
            "\"InfPath\"=\"KVZELIN.INF\"\n"
            "\"InfSection\"=\"Zelin\"\n"
            "\"PortDriver\"=\"zelin.vxd\"\n"
            "\"PortSubClass\"=hex:01\n"
            "\"MatchingDeviceId\"=\"KVZELIN\"\n"
            "\"ProviderName\"=\"Kivo\"\n\n");
}

// Counts the values of a key.
size_t ValueCount(const Registry& reg, const std::string& key) {
  size_t n = 0;
  while (reg.EnumValue(key, n)) ++n;
  return n;
}

// Fails exactly one write (1-based), unlike FailingRegistry, which fails every later one.
class OneFailure final : public ForwardingRegistry {
 public:
  OneFailure(Registry& inner, size_t at) : ForwardingRegistry(inner), at_(at) {}
  bool CreateKey(std::string_view p) override { return ++n_ != at_ && inner_.CreateKey(p); }
  bool DeleteKey(std::string_view p) override { return ++n_ != at_ && inner_.DeleteKey(p); }
  bool WriteValue(std::string_view p, const RegValue& v) override {
    return ++n_ != at_ && inner_.WriteValue(p, v);
  }

 private:
  size_t n_ = 0;
  size_t at_;
};

TEST(ComDevices, DriverKeyStopsOnlyAtEssentialFailures) {
  const std::string key = RegJoin(kClassRootKey, "ports\\0000");
  // Writes: 1 the key, 2 Enumerator, 3 ConfigDialog, 4 DCB, 5 DevLoader, 6 DriverDesc,
  // 7 EnumPropPages, 8 InfPath, ... 12 MatchingDeviceId, 13 ProviderName.
  {
    MemoryRegistry inner;
    FailingRegistry reg(inner, 0);
    ASSERT_TRUE(CreateDriverKey(reg, "ports\\0000"));
    EXPECT_EQ(reg.writes(), 13u);
  }
  for (size_t optional_write : {size_t{6}, size_t{7}, size_t{13}}) {
    MemoryRegistry inner;
    OneFailure reg(inner, optional_write);
    EXPECT_TRUE(CreateDriverKey(reg, "ports\\0000")) << optional_write;
    EXPECT_EQ(ValueCount(inner, key), 11u) << optional_write;
  }
  // An essential value stops the rest.
  MemoryRegistry inner;
  FailingRegistry reg(inner, 8);  // InfPath
  EXPECT_FALSE(CreateDriverKey(reg, "ports\\0000"));
  EXPECT_EQ(ValueCount(inner, key), 6u);
  EXPECT_FALSE(inner.ReadString(key, "MatchingDeviceId"));
}

TEST(ComDevices, DeviceKeyStopsAtTheFirstFailedWrite) {
  MemoryRegistry inner;
  FailingRegistry reg(inner, 5);  // 1-2 keys, 3 Class, 4 Driver, 5 Mfg
  EXPECT_FALSE(CreateDeviceKey(reg, 3, "ports\\0001"));
  EXPECT_EQ(reg.writes(), 5u);
  EXPECT_EQ(inner.ReadString("Enum\\Root\\Ports\\0003", "Driver"), "ports\\0001");
  EXPECT_FALSE(CreateDeviceKey(inner, kMaxDeviceIndex, "ports\\0001"));
  EXPECT_FALSE(CreateDeviceKey(inner, -1, "ports\\0001"));
}

TEST(ComDevices, FreeIndicesAreTheLowestMissingOnes) {
  MemoryRegistry reg;
  EXPECT_EQ(FindFreeDeviceIndex(reg), 0);
  ASSERT_TRUE(reg.CreateKey("Enum\\Root\\PORTS\\0000"));
  ASSERT_TRUE(reg.CreateKey("Enum\\Root\\Ports\\0002"));
  ASSERT_TRUE(reg.CreateKey("Enum\\Root\\Ports\\1"));  // not a "%04d" name
  ASSERT_TRUE(reg.CreateKey("Enum\\Root\\Ports\\00001"));
  EXPECT_EQ(FindFreeDeviceIndex(reg), 1);
  ASSERT_TRUE(reg.CreateKey(RegJoin(kClassRootKey, "Ports\\0000")));
  EXPECT_EQ(FindFreeClassIndex(reg), 1);
  EXPECT_EQ(ClassKeyName(FindFreeClassIndex(reg).value_or(-1)), "ports\\0001");
  for (int i = 0; i < kMaxDeviceIndex; ++i)
    ASSERT_TRUE(reg.CreateKey(RegJoin(kClassRootKey, ClassKeyName(i))));
  EXPECT_EQ(FindFreeClassIndex(reg), std::nullopt);
  MemoryRegistry before = reg;
  ASSERT_TRUE(reg.CreateKey(kPortKey));
  before = reg;
  EXPECT_FALSE(MapPortDevice(reg, kPortKey));
  EXPECT_TRUE(reg == before);  // nothing written without free indices
}

TEST(ComDevices, RemovalFollowsOnlyTheLinkOfAMappedPort) {
  MemoryRegistry reg;
  const std::string other = "SoftWare\\KIVO\\Zelin\\Parameters\\Server2\\Port0000";
  ASSERT_TRUE(reg.CreateKey(kPortKey));
  ASSERT_TRUE(reg.CreateKey(other));
  ASSERT_TRUE(MapPortDevice(reg, other));
  ASSERT_TRUE(reg.WriteDword(other, "PortFlag", 1));
  // A stale link of an unmapped port names the same device key.
  ASSERT_TRUE(reg.WriteString(kPortKey, "PortDriver", "Ports\\0000"));
  ASSERT_TRUE(reg.WriteDword(kPortKey, "PortFlag", 0));
  RemovePortDevice(reg, kPortKey);
  RemoveServerDevices(reg, "SoftWare\\KIVO\\Zelin\\Parameters\\Server1");
  EXPECT_TRUE(reg.KeyExists("Enum\\Root\\Ports\\0000"));
  EXPECT_TRUE(reg.KeyExists(RegJoin(kClassRootKey, "ports\\0000")));
  EXPECT_FALSE(reg.KeyExists(kPortKey));

  RemovePortDevice(reg, other);
  EXPECT_FALSE(reg.KeyExists("Enum\\Root\\Ports\\0000"));
  EXPECT_FALSE(reg.KeyExists(RegJoin(kClassRootKey, "ports\\0000")));
  EXPECT_EQ(reg.ReadString(other, "PortDriver"), "Ports\\0000");  // the link stays
  RemovePortDevice(reg, other);  // nothing left to remove: harmless
}

TEST(ComDevices, DeleteKeyTreeEmptiesTheKeyButKeepsIt) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("T\\a\\b\\c"));
  ASSERT_TRUE(reg.CreateKey("T\\d"));
  ASSERT_TRUE(reg.WriteDword("T", "v", 1));
  EXPECT_TRUE(DeleteKeyTree(reg, "T"));
  EXPECT_TRUE(reg.KeyExists("T"));
  EXPECT_FALSE(reg.EnumSubkey("T", 0));
  EXPECT_EQ(reg.ReadDword("T", "v"), 1u);
  EXPECT_FALSE(DeleteKeyTree(reg, "Missing"));
}

TEST(ComDevices, ComNamesNeedAnExistingDeviceKey) {
  MemoryRegistry inner;
  FailingRegistry reg(inner, 0);
  EXPECT_FALSE(WriteComNames(reg, "Ports\\0009", 5));
  EXPECT_FALSE(WriteComNames(reg, "", 5));
  EXPECT_EQ(reg.writes(), 0u);  // nothing attempted
  ASSERT_TRUE(inner.CreateKey("Enum\\Root\\Ports\\0009"));
  EXPECT_TRUE(WriteComNames(reg, "Ports\\0009", 5));
  EXPECT_EQ(inner.ReadString("Enum\\Root\\Ports\\0009", "FriendlyName"), "Zelin Server (COM5)");
}

}  // namespace
}  // namespace zelin
