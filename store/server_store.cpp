#include "store/server_store.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>

#include "store/com_devices.hpp"

namespace zelin {

namespace {

constexpr std::string_view kMaskSeed = "TrellisQuietOak";
constexpr size_t kMaxNameBytes = 29;

// Forwards to another registry and remembers whether any write failed, so that a save
// can refuse to commit a half-written tree.
class WriteTracker final : public ForwardingRegistry {
 public:
  explicit WriteTracker(Registry& inner) : ForwardingRegistry(inner) {}
  bool failed() const { return failed_; }

  bool CreateKey(std::string_view path) override { return Track(inner_.CreateKey(path)); }
  bool DeleteKey(std::string_view path) override { return Track(inner_.DeleteKey(path)); }
  bool WriteValue(std::string_view path, const RegValue& value) override {
    return Track(inner_.WriteValue(path, value));
  }

 private:
  bool Track(bool ok) {
    if (!ok) failed_ = true;
    return ok;
  }
  bool failed_ = false;
};

size_t CountSerial(std::span<const ServerConfig> table, uint16_t serial) {
  return static_cast<size_t>(
      std::count_if(table.begin(), table.end(),
                    [serial](const ServerConfig& c) { return c.serial_number == serial; }));
}

// Occurrence of each record's serial number before it in its table (0 for the first
// record of a serial number, 1 for the second, ...).
std::vector<size_t> Occurrences(std::span<const ServerConfig> table) {
  std::vector<size_t> out;
  for (size_t i = 0; i < table.size(); ++i)
    out.push_back(CountSerial(table.first(i), table[i].serial_number));
  return out;
}

bool WithinCapacity(std::span<const ServerConfig> table) {
  if (table.size() > kMaxConfiguredServers) return false;
  return std::all_of(table.begin(), table.end(),
                     [](const ServerConfig& c) { return c.port_count <= kMaxServerPorts; });
}

// Netmask DWORD: the four octets in memory order, the first octet least significant.
uint32_t NetmaskToDword(Ipv4 mask) {
  const auto o = Ipv4Octets(mask);
  return uint32_t{o[0]} | (uint32_t{o[1]} << 8) | (uint32_t{o[2]} << 16) | (uint32_t{o[3]} << 24);
}
Ipv4 NetmaskFromDword(uint32_t v) {
  return Ipv4FromOctets(static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24));
}

std::array<uint8_t, 16> MaskedPassword(const ServerConfig& c) {
  const Md5Digest mask = PasswordMask(c.device_type, c.serial_number);
  std::array<uint8_t, 16> out{};
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>(static_cast<uint8_t>(c.password_bytes[i]) ^ mask[i]);
  return out;
}

using PortEntries = std::array<bool, kMaxServerPorts>;  // device entries exist

// The server's values and its port values. Port keys that do not exist are skipped.
// "PortFlag" says whether the port's device entries exist: a port that could not get
// them (no free index) is stored unmapped, so that no later removal follows its link.
void WriteServerValues(Registry& reg, const std::string& key, const ServerConfig& c,
                       const PortEntries& entries) {
  const size_t name_length =
      std::find(c.name_bytes.begin(), c.name_bytes.begin() + kMaxNameBytes, '\0') -
      c.name_bytes.begin();
  const auto password = MaskedPassword(c);
  reg.WriteDword(key, "DeviceType", c.device_type);
  reg.WriteDword(key, "ServerFlag", c.flags);
  reg.WriteDword(key, "SerialNo", c.serial_number);
  reg.WriteBinary(key, "ServerName",
                  Bytes(reinterpret_cast<const uint8_t*>(c.name_bytes.data()), name_length));
  reg.WriteDword(key, "IPAddress", Ipv4ToHostOrder(c.ip_address));
  reg.WriteDword(key, "Netmask", NetmaskToDword(c.netmask));
  reg.WriteBinary(key, "Password", password);
  for (uint32_t i = 0; i < c.port_count; ++i) {
    const std::string port = RegJoin(key, PortKeyName(i));
    if (!reg.KeyExists(port)) continue;
    reg.WriteDword(port, "COM", c.com_number[i]);
    reg.WriteDword(port, "PortFlag", entries[i] ? c.port_mapped[i] : 0);
    reg.WriteDword(port, "Transmission", (c.port_options[i] & kOptionClassical) ? 1 : 0);
    reg.WriteDword(port, "FIFO", (c.port_options[i] & kOptionFifoDisabled) ? 1 : 0);
  }
  for (uint32_t i = 0; i < c.port_count; ++i) {
    if (!entries[i]) continue;
    const auto port_driver = reg.ReadString(RegJoin(key, PortKeyName(i)), "PortDriver");
    if (port_driver) WriteComNames(reg, *port_driver, c.com_number[i]);
  }
}

void AddServer(Registry& reg, const ServerConfig& c) {
  std::string key;
  for (int n = 1; n <= kMaxServerKeyNumber && key.empty(); ++n) {
    const std::string candidate = RegJoin(kParametersKey, ServerKeyName(n));
    if (!reg.KeyExists(candidate) && reg.CreateKey(candidate)) key = candidate;
  }
  if (key.empty()) return;  // Server1..Server99 all taken: the server is not added
  PortEntries entries{};
  for (uint32_t i = 0; i < c.port_count; ++i) {
    const std::optional<int> device_index = FindFreeDeviceIndex(reg);
    const std::optional<int> class_index = FindFreeClassIndex(reg);
    if (!device_index || !class_index) break;  // the remaining ports are not created
    const std::string class_key = ClassKeyName(*class_index);
    const std::string port = RegJoin(key, PortKeyName(i));
    if (!reg.CreateKey(port) || !reg.WriteString(port, "PortDriver", DeviceKeyName(*device_index)))
      continue;
    if (c.port_mapped[i] != 0)
      entries[i] =
          CreateDeviceKey(reg, *device_index, class_key) && CreateDriverKey(reg, class_key);
  }
  WriteServerValues(reg, key, c, entries);
}

void UpdateServer(Registry& reg, const std::string& key, const ServerConfig& c) {
  PortEntries entries{};
  for (uint32_t i = 0; i < c.port_count; ++i) {
    const std::string port = RegJoin(key, PortKeyName(i));
    if (!reg.KeyExists(port) && !reg.CreateKey(port)) continue;
    const bool stored = reg.ReadDword(port, "PortFlag").value_or(0) != 0;
    const bool wanted = c.port_mapped[i] != 0;
    if (stored == wanted) {
      entries[i] = stored;
    } else if (wanted) {
      entries[i] = MapPortDevice(reg, port);
    } else {
      RemovePortDevice(reg, port);
    }
  }
  // Port keys beyond the port count (the device type changed) go with their entries.
  for (uint32_t i = c.port_count; i < kMaxServerPorts; ++i) {
    const std::string port = RegJoin(key, PortKeyName(i));
    if (!reg.KeyExists(port)) continue;
    RemovePortDevice(reg, port);
    if (DeleteKeyTree(reg, port)) reg.DeleteKey(port);
  }
  WriteServerValues(reg, key, c, entries);
}

void RemoveServer(Registry& reg, const std::string& key) {
  RemoveServerDevices(reg, key);
  if (DeleteKeyTree(reg, key)) reg.DeleteKey(key);
}

bool InLine(ProductLine line, DeviceType type) {
  switch (line) {
    case ProductLine::kZelin: {
      const ModelInfo* m = FindModel(type);
      return m != nullptr && !m->monitor_only;
    }
    case ProductLine::kZelit:
      return type == 769 || type == 817 || type == 770 || type == 818 || type == 772 || type == 820;
    case ProductLine::kZelinExpress:
      return type == 785 || type == 33553;
  }
  return false;
}

}  // namespace

std::string ServerKeyName(int number) {
  return "Server" + std::to_string(number);
}

std::string PortKeyName(uint32_t index) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "Port%04u", index);
  return buf;
}

std::string_view ParametersKeyOf(ProductLine line) {
  switch (line) {
    case ProductLine::kZelin:
      return kParametersKey;
    case ProductLine::kZelit:
      return "SoftWare\\KIVO\\Zelit\\Parameters";
    case ProductLine::kZelinExpress:
      return "SoftWare\\KIVO\\ZelinExpress\\Parameters";
  }
  return kParametersKey;
}

int PortCountOf(DeviceType type) {
  return PortCountOf(ProductLine::kZelin, type);
}

int PortCountOf(ProductLine line, DeviceType type) {
  return InLine(line, type) ? ModelPortCount(type) : 0;
}

Md5Digest PasswordMask(DeviceType type, uint16_t serial_number) {
  std::array<uint8_t, 4> tail{};
  PutLe16(tail, 0, type);
  PutLe16(tail, 2, serial_number);
  return Md5({AsBytes(kMaskSeed), Bytes(tail)});
}

namespace {

Status NoStore(ProductLine line) {
  return Status(StoreError::kNoStore,
                "no store (the key " + std::string(ParametersKeyOf(line)) + " does not exist)");
}

}  // namespace

Result<int> LoadServerStore(const Registry& reg, ProductLine line, std::span<ServerConfig> table) {
  const std::string_view params = ParametersKeyOf(line);
  if (!reg.KeyExists(params)) return NoStore(line);
  const size_t wanted =
      std::min<size_t>(reg.ReadDword(params, "Servers").value_or(0), table.size());
  size_t loaded = 0;
  for (size_t index = 0; loaded < wanted; ++index) {
    const auto name = reg.EnumSubkey(params, index);
    if (!name) break;
    const std::string key = RegJoin(params, *name);
    const auto type = reg.ReadDword(key, "DeviceType");
    if (!type) continue;
    const int ports = PortCountOf(line, static_cast<DeviceType>(*type));
    const auto flags = reg.ReadDword(key, "ServerFlag");
    const auto serial = reg.ReadDword(key, "SerialNo");
    const auto server_name = reg.ReadBinary(key, "ServerName");
    const auto ip = reg.ReadDword(key, "IPAddress");
    const auto netmask = reg.ReadDword(key, "Netmask");
    if (ports <= 0 || !flags || !serial || !server_name || !ip || !netmask) continue;

    ServerConfig c;
    c.device_type = static_cast<uint16_t>(*type);
    c.flags = static_cast<uint16_t>(*flags);
    c.serial_number = static_cast<uint16_t>(*serial);
    std::copy_n(server_name->begin(), std::min(server_name->size(), kMaxNameBytes),
                c.name_bytes.begin());
    c.port_count = static_cast<uint32_t>(std::min<int>(ports, kMaxServerPorts));
    c.ip_address = Ipv4FromHostOrder(*ip);
    c.netmask = NetmaskFromDword(*netmask);
    if (const auto stored = reg.ReadBinary(key, "Password"); stored && stored->size() == 16) {
      const Md5Digest mask = PasswordMask(c.device_type, c.serial_number);
      for (size_t i = 0; i < 16; ++i)
        c.password_bytes[i] = static_cast<char>((*stored)[i] ^ mask[i]);
    }
    for (uint32_t i = 0; i < c.port_count; ++i) {
      const std::string port = RegJoin(key, PortKeyName(i));
      if (!reg.KeyExists(port)) break;
      const auto flag = reg.ReadDword(port, "PortFlag");
      if (!flag) continue;
      c.port_mapped[i] = *flag != 0 ? 1 : 0;
      const auto com = reg.ReadDword(port, "COM");
      if (!com) continue;
      c.com_number[i] = static_cast<uint8_t>(*com);  // 256 and 0 both mean COM256
      if (reg.ReadDword(port, "Transmission").value_or(0) != 0)
        c.port_options[i] |= kOptionClassical;
      if (reg.ReadDword(port, "FIFO").value_or(0) != 0) c.port_options[i] |= kOptionFifoDisabled;
    }
    c.write_state = kWriteWhenChanged;
    table[loaded++] = c;
  }
  return static_cast<int>(loaded);
}

bool SaveServerStore(Registry& target, std::span<const ServerConfig> new_table,
                     std::span<const ServerConfig> old_table) {
  if (!WithinCapacity(new_table) || !WithinCapacity(old_table)) return false;
  WriteTracker reg(target);
  // Records are paired with server keys by serial number: the k-th record of a serial
  // number in a table with the k-th key of that number in the registry (one of each in
  // a store that nobody edited by hand).
  const std::vector<size_t> new_occurrence = Occurrences(new_table);
  const std::vector<size_t> old_occurrence = Occurrences(old_table);
  for (size_t i = 0; i < old_table.size(); ++i) {
    const uint16_t serial = old_table[i].serial_number;
    if (old_occurrence[i] < CountSerial(new_table, serial)) continue;  // still there
    // Gone: the keys of this serial number beyond what the new table keeps. The
    // first of them is taken each time, as the ones before it stay.
    const auto keys = ServerKeysOf(reg, serial);
    const size_t kept = CountSerial(new_table, serial);
    if (kept < keys.size()) RemoveServer(reg, RegJoin(kParametersKey, keys[kept]));
  }
  for (size_t i = 0; i < new_table.size(); ++i)
    if (new_occurrence[i] >= CountSerial(old_table, new_table[i].serial_number))
      AddServer(reg, new_table[i]);
  for (size_t i = 0; i < new_table.size(); ++i) {
    const ServerConfig& c = new_table[i];
    if (new_occurrence[i] >= CountSerial(old_table, c.serial_number)) continue;  // added
    const auto keys = ServerKeysOf(reg, c.serial_number);
    if (new_occurrence[i] < keys.size())
      UpdateServer(reg, RegJoin(kParametersKey, keys[new_occurrence[i]]), c);
  }
  if (!reg.KeyExists(kParametersKey)) return false;
  uint32_t ports = 0;
  for (const auto& c : new_table) ports += c.port_count;
  reg.WriteDword(kParametersKey, "Servers", static_cast<uint32_t>(new_table.size()));
  reg.WriteDword(kParametersKey, "Ports", ports);
  if (!reg.ReadValue(kParametersKey, "SessionRecovery"))
    reg.WriteDword(kParametersKey, "SessionRecovery", 1);
  return !reg.failed();
}

Result<int> ReadInstallationType(const Registry& reg) {
  if (!reg.KeyExists(kParametersKey)) return NoStore(ProductLine::kZelin);
  return static_cast<int>(reg.ReadDword(kParametersKey, "ZelinType").value_or(0));
}

bool WriteInstallationType(Registry& reg, int type) {
  if (type < 0 || type > 3) return false;
  return reg.CreateKey(kParametersKey) &&
         reg.WriteDword(kParametersKey, "ZelinType", static_cast<uint32_t>(type));
}

std::vector<std::string> ServerKeysOf(const Registry& reg, uint16_t serial_number) {
  std::vector<std::string> names;
  for (auto& name : reg.Subkeys(kParametersKey))
    if (reg.ReadDword(RegJoin(kParametersKey, name), "SerialNo") == uint32_t{serial_number})
      names.push_back(std::move(name));
  return names;
}

std::optional<std::string> FindServerKey(const Registry& reg, uint16_t serial_number) {
  for (const auto& name : reg.Subkeys(kParametersKey))
    if (reg.ReadDword(RegJoin(kParametersKey, name), "SerialNo") == uint32_t{serial_number})
      return name;
  return std::nullopt;
}

bool RemoveAllServers(Registry& target) {
  WriteTracker reg(target);
  std::vector<std::string> servers;
  for (size_t i = 0;; ++i) {
    auto name = reg.EnumSubkey(kParametersKey, i);
    if (!name) break;
    servers.push_back(std::move(*name));
  }
  for (const auto& name : servers) RemoveServer(reg, RegJoin(kParametersKey, name));
  if (reg.KeyExists(kParametersKey)) DeleteKeyTree(reg, kParametersKey);
  if (reg.KeyExists(kZelinKey) && DeleteKeyTree(reg, kZelinKey)) reg.DeleteKey(kZelinKey);
  return !reg.failed();
}

// ---- On the hive file ----

namespace {

// A Status of the hive's tree, its message prefixed with the file ("PATH: no store ...").
Status OfHive(const HiveFile& hive, const Status& st) {
  return Status(st.domain(), st.code(), hive.path().string() + ": " + st.message());
}

}  // namespace

Result<int> LoadServerStore(const HiveFile& hive, std::span<ServerConfig> table) {
  return LoadServerStore(hive, ProductLine::kZelin, table);
}

Result<int> LoadServerStore(const HiveFile& hive, ProductLine line, std::span<ServerConfig> table) {
  MemoryRegistry reg;
  if (Status st = hive.Load(reg); !st) return st;
  Result<int> n = LoadServerStore(reg, line, table);
  if (!n) return OfHive(hive, n.status());
  return n;
}

Status SaveServerStore(HiveFile& hive, std::span<const ServerConfig> new_table,
                       std::span<const ServerConfig> old_table) {
  return hive.Update([&](Registry& reg) { return SaveServerStore(reg, new_table, old_table); });
}

Result<int> ReadInstallationType(const HiveFile& hive) {
  MemoryRegistry reg;
  if (Status st = hive.Load(reg); !st) return st;
  Result<int> type = ReadInstallationType(reg);
  if (!type) return OfHive(hive, type.status());
  return type;
}

Status WriteInstallationType(HiveFile& hive, int type) {
  return hive.Update([&](Registry& reg) { return WriteInstallationType(reg, type); });
}

Status RemoveAllServers(HiveFile& hive) {
  return hive.Update([](Registry& reg) { return RemoveAllServers(reg); });
}

}  // namespace zelin
