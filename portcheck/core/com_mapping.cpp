#include "portcheck/core/com_mapping.hpp"

#include <algorithm>
#include <string>

#include "protocol/device_types.hpp"
#include "store/server_store.hpp"

namespace zelin::portcheck {

ComMappingTable ComMappingTable::Read(const Registry& reg) {
  ComMappingTable table;
  const std::string_view root = kParametersKey;
  if (!reg.KeyExists(root)) return table;
  const size_t wanted = std::min<uint32_t>(reg.ReadDword(root, "Servers").value_or(0), 32);
  for (size_t i = 0; table.servers_.size() < wanted; ++i) {
    const auto name = reg.EnumSubkey(root, i);
    if (!name) break;
    const std::string key = std::string(root) + "\\" + *name;
    const auto ip = reg.ReadDword(key, "IPAddress");
    const auto serial = reg.ReadDword(key, "SerialNo");
    const auto type = reg.ReadDword(key, "DeviceType");
    const bool has_password = reg.ReadValue(key, "Password").has_value();
    if (!ip || !serial || !type || !has_password) continue;
    const auto device = static_cast<DeviceType>(*type);
    if (*type > 0xFFFF || !IsAcceptedBy(device, Deliverable::Diagnostic)) continue;
    Server s;
    s.address = Ipv4FromHostOrder(*ip);
    s.serial = static_cast<uint16_t>(*serial);
    s.ports = std::min(ModelPortCount(device), 16);
    bool complete = true;
    for (int p = 0; p < s.ports && complete; ++p) {
      const std::string port_key = key + "\\" + PortKeyName(static_cast<uint32_t>(p));
      if (!reg.KeyExists(port_key)) {
        complete = false;
        break;
      }
      if (const auto flag = reg.ReadDword(port_key, "PortFlag")) {
        s.port_flag[static_cast<size_t>(p)] = static_cast<uint8_t>(*flag);
        s.com[static_cast<size_t>(p)] =
            static_cast<uint8_t>(reg.ReadDword(port_key, "COM").value_or(0));
      }
    }
    if (complete) table.servers_.push_back(s);
  }
  return table;
}

int ComMappingTable::Lookup(Ipv4 address, uint16_t serial, int port) const {
  if (port < 0 || port >= 16) return -1;
  for (const auto& s : servers_) {
    if (s.address != address || s.serial != serial) continue;
    const auto p = static_cast<size_t>(port);
    if (s.port_flag[p] == 0) return -1;
    return s.com[p] == 0 ? 256 : s.com[p];
  }
  return -1;
}

}  // namespace zelin::portcheck
