#pragma once
// The model table: every DeviceType code the suite knows, its model name and its
// number of serial ports, and which deliverables accept it in discovery.

#include <cstdint>
#include <span>
#include <string_view>

namespace zelin {

using DeviceType = uint16_t;

// Which program is asking: discovery in the manager, the wizard and the diagnostic
// program accepts the twelve server models; the monitor accepts all twenty.
enum class Deliverable { Manager, Wizard, Diagnostic, Monitor };

// Whether a model carries a DHCP setting (read and written with the Dhcp command).
enum class DhcpSupport : uint8_t {
  kNone,
  kAlways,
  kFromFirmware0220,  // only when the upper 16 bits of the firmware version are >= 0x0220
};

struct ModelInfo {
  DeviceType code;
  std::string_view name;
  int ports;
  bool monitor_only;
  DhcpSupport dhcp;
};

std::span<const ModelInfo> ModelTable();
const ModelInfo* FindModel(DeviceType code);  // nullptr for an unknown code
bool IsAcceptedBy(DeviceType code, Deliverable who);
std::string_view ModelName(DeviceType code);  // "" for an unknown code
int ModelPortCount(DeviceType code);          // 0 for an unknown code
// Whether a server of `code` reporting `firmware_version` (the 32-bit value of its
// search reply) carries a DHCP setting; false for an unknown code.
bool CarriesDhcpSetting(DeviceType code, uint32_t firmware_version);

}  // namespace zelin
