#include "store/com_devices.hpp"

#include <algorithm>
#include <bitset>
#include <cstdio>

#include "store/server_config.hpp"

namespace zelin {

namespace {

std::string Indexed(const char* format, int index) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, index);
  return buf;
}

std::string ComName(uint8_t com_number) {
  return "COM" + std::to_string(ComNumberOf(com_number));
}

}  // namespace

std::string DeviceKeyName(int device_index) {
  return Indexed("Ports\\%04d", device_index);
}
std::string ClassKeyName(int class_index) {
  return Indexed("ports\\%04d", class_index);
}

namespace {

// Lowest index 0..1023 without a subkey named "%04d" below `parent`. One listing of
// the parent instead of a lookup per index: a full store has a thousand such keys.
std::optional<int> LowestFreeIndex(const Registry& reg, std::string_view parent) {
  std::bitset<kMaxDeviceIndex> taken;
  for (const auto& name : reg.Subkeys(parent)) {
    if (name.size() != 4) continue;
    int index = 0;
    for (const char c : name)
      index = (c >= '0' && c <= '9' && index >= 0) ? index * 10 + (c - '0') : -1;
    if (index >= 0 && index < kMaxDeviceIndex) taken.set(static_cast<size_t>(index));
  }
  for (int i = 0; i < kMaxDeviceIndex; ++i)
    if (!taken.test(static_cast<size_t>(i))) return i;
  return std::nullopt;
}

}  // namespace

std::optional<int> FindFreeDeviceIndex(const Registry& reg) {
  return LowestFreeIndex(reg, kDeviceParentKey);
}

std::optional<int> FindFreeClassIndex(const Registry& reg) {
  return LowestFreeIndex(reg, RegJoin(kClassRootKey, "ports"));
}

bool CreateDeviceKey(Registry& reg, int device_index, std::string_view class_key_name) {
  if (device_index < 0 || device_index >= kMaxDeviceIndex) return false;
  const std::string parent = RegJoin(kEnumRootKey, "ports");
  const std::string key = RegJoin(parent, Indexed("%04d", device_index));
  static constexpr uint8_t kConfigFlags[4] = {0x00, 0x00, 0x00, 0x00};
  static constexpr uint8_t kCapabilities[4] = {0x14, 0x00, 0x00, 0x00};
  return reg.CreateKey(parent) && reg.CreateKey(key) &&         //
         reg.WriteString(key, "Class", "ports") &&              //
         reg.WriteString(key, "Driver", class_key_name) &&      //
         reg.WriteString(key, "Mfg", "Kivo") &&                 //
         reg.WriteString(key, "HardwareID", kHardwareId) &&     //
         reg.WriteString(key, "ClassGUID", kPortsClassGuid) &&  //
         reg.WriteBinary(key, "ConfigFlags", kConfigFlags) &&   //
         reg.WriteBinary(key, "Capabilities", kCapabilities);
}

bool CreateDriverKey(Registry& reg, std::string_view class_key_name) {
  const std::string key = RegJoin(kClassRootKey, class_key_name);
  static constexpr uint8_t kPortSubClass[1] = {0x01};
  if (!reg.CreateKey(key)) return false;
  if (!reg.WriteString(key, "Enumerator", "serenum.vxd") ||
      !reg.WriteString(key, "ConfigDialog", "serialui.dll") ||
      !reg.WriteBinary(key, "DCB", kDefaultDcb) || !reg.WriteString(key, "DevLoader", "*vcomm"))
    return false;
  reg.WriteString(key, "DriverDesc", "Zelin");  // failure ignored: descriptive only
  reg.WriteString(key, "EnumPropPages", "serialui.dll,EnumPropPages");  // likewise
  if (!reg.WriteString(key, "InfPath", "KVZELIN.INF") ||
      !reg.WriteString(key, "InfSection", "Zelin") ||
      !reg.WriteString(key, "PortDriver", "zelin.vxd") ||
      !reg.WriteBinary(key, "PortSubClass", kPortSubClass) ||
      !reg.WriteString(key, "MatchingDeviceId", kHardwareId))
    return false;
  reg.WriteString(key, "ProviderName", kProviderName);  // failure ignored
  return true;
}

bool WriteComNames(Registry& reg, std::string_view port_driver, uint8_t com_number) {
  const std::string key = RegJoin(kEnumRootKey, port_driver);
  if (port_driver.empty() || !reg.KeyExists(key)) return false;
  const std::string com = ComName(com_number);
  const std::string desc = "Zelin Server (" + com + ")";
  return reg.WriteString(key, "DeviceDesc", desc) && reg.WriteString(key, "PortName", com) &&
         reg.WriteString(key, "FriendlyName", desc);
}

bool MapPortDevice(Registry& reg, std::string_view port_key_path) {
  const std::optional<int> device_index = FindFreeDeviceIndex(reg);
  const std::optional<int> class_index = FindFreeClassIndex(reg);
  if (!device_index || !class_index) return false;
  const std::string class_key = ClassKeyName(*class_index);
  return reg.WriteString(port_key_path, "PortDriver", DeviceKeyName(*device_index)) &&
         CreateDeviceKey(reg, *device_index, class_key) && CreateDriverKey(reg, class_key);
}

void RemovePortDevice(Registry& reg, std::string_view port_key_path) {
  const auto flag = reg.ReadDword(port_key_path, "PortFlag");
  if (!flag || *flag == 0) return;  // no entries of this port exist
  const auto port_driver = reg.ReadString(port_key_path, "PortDriver");
  if (!port_driver || port_driver->empty()) return;
  const std::string device_key = RegJoin(kEnumRootKey, *port_driver);
  const auto driver = reg.ReadString(device_key, "Driver");
  if (!driver || driver->empty()) return;
  const std::string class_key = RegJoin(kClassRootKey, *driver);
  if (reg.KeyExists(class_key) && DeleteKeyTree(reg, class_key)) reg.DeleteKey(class_key);
  if (DeleteKeyTree(reg, device_key)) reg.DeleteKey(device_key);
}

void RemoveServerDevices(Registry& reg, std::string_view server_key_path) {
  for (const auto& name : reg.Subkeys(server_key_path)) {
    if (name.size() != 8 || !RegNameEquals(std::string_view(name).substr(0, 4), "Port") ||
        !std::all_of(name.begin() + 4, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const std::string port_key = RegJoin(server_key_path, name);
    RemovePortDevice(reg, port_key);
    if (DeleteKeyTree(reg, port_key)) reg.DeleteKey(port_key);
  }
}

bool DeleteKeyTree(Registry& reg, std::string_view path) {
  if (!reg.KeyExists(path)) return false;
  bool ok = true;
  // Always take the first subkey: deleting shifts the ones after it.
  size_t skipped = 0;  // subkeys that could not be deleted stay in front
  while (auto child = reg.EnumSubkey(path, skipped)) {
    const std::string child_path = RegJoin(path, *child);
    if (DeleteKeyTree(reg, child_path) && reg.DeleteKey(child_path)) continue;
    ok = false;
    ++skipped;
  }
  return ok;
}

}  // namespace zelin
