#include "store/store_check.hpp"

#include <map>
#include <set>

#include "store/com_devices.hpp"
#include "store/server_config.hpp"
#include "store/server_store.hpp"

namespace zelin {

namespace {

std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::vector<std::string> SubkeysOf(const Registry& reg, std::string_view path) {
  return reg.Subkeys(path);
}

}  // namespace

std::vector<StoreProblem> CheckStore(const Registry& reg) {
  std::vector<StoreProblem> problems;
  std::set<std::string> linked_devices;  // folded device key paths of mapped ports
  std::map<int, std::string> com_owner;  // COM number -> first port key using it

  std::map<uint32_t, std::string> serial_owner;  // "SerialNo" -> first server key
  for (const auto& server : SubkeysOf(reg, kParametersKey)) {
    const std::string server_key = RegJoin(kParametersKey, server);
    if (const auto serial = reg.ReadDword(server_key, "SerialNo")) {
      const auto [it, inserted] = serial_owner.emplace(*serial, server_key);
      if (!inserted)
        problems.push_back({StoreProblem::Kind::kDuplicateSerial, server_key,
                            server_key + ": serial number " + std::to_string(*serial) +
                                " is also used by " + it->second});
    }
    for (const auto& port : SubkeysOf(reg, server_key)) {
      if (!RegNameEquals(std::string_view(port).substr(0, 4), "Port")) continue;
      const std::string port_key = RegJoin(server_key, port);
      if (reg.ReadDword(port_key, "PortFlag").value_or(0) == 0) continue;
      const auto port_driver = reg.ReadString(port_key, "PortDriver");
      const std::string device_key =
          port_driver ? RegJoin(kEnumRootKey, *port_driver) : std::string();
      const auto driver =
          port_driver ? reg.ReadString(device_key, "Driver") : std::optional<std::string>();
      if (!port_driver || !reg.KeyExists(device_key)) {
        problems.push_back({StoreProblem::Kind::kMissingDevice, port_key,
                            port_key + ": mapped, but its device key " +
                                (port_driver ? device_key : std::string("(no PortDriver)")) +
                                " is missing"});
      } else if (!driver || !reg.KeyExists(RegJoin(kClassRootKey, *driver))) {
        problems.push_back(
            {StoreProblem::Kind::kMissingDevice, port_key,
             port_key + ": mapped, but the driver key of " + device_key + " is missing"});
      }
      if (port_driver) linked_devices.insert(Folded(device_key));
      const int com = ComNumberOf(static_cast<uint8_t>(reg.ReadDword(port_key, "COM").value_or(0)));
      const auto [it, inserted] = com_owner.emplace(com, port_key);
      if (!inserted)
        problems.push_back(
            {StoreProblem::Kind::kDuplicateCom, port_key,
             port_key + ": COM" + std::to_string(com) + " is also mapped by " + it->second});
    }
  }

  std::set<std::string> named_classes;  // folded class key paths named by any device key
  for (const auto& name : SubkeysOf(reg, kDeviceParentKey)) {
    const std::string device_key = RegJoin(kDeviceParentKey, name);
    if (const auto driver = reg.ReadString(device_key, "Driver"))
      named_classes.insert(Folded(RegJoin(kClassRootKey, *driver)));
    if (reg.ReadString(device_key, "HardwareID") != std::string(kHardwareId)) continue;
    if (!linked_devices.contains(Folded(device_key)))
      problems.push_back({StoreProblem::Kind::kOrphanDeviceKey, device_key,
                          device_key + ": device key that no mapped port links to"});
  }
  const std::string class_parent = RegJoin(kClassRootKey, "ports");
  for (const auto& name : SubkeysOf(reg, class_parent)) {
    const std::string class_key = RegJoin(class_parent, name);
    if (reg.ReadString(class_key, "MatchingDeviceId") != std::string(kHardwareId)) continue;
    if (!named_classes.contains(Folded(class_key)))
      problems.push_back({StoreProblem::Kind::kOrphanClassKey, class_key,
                          class_key + ": driver key that no device key names"});
  }
  return problems;
}

}  // namespace zelin
