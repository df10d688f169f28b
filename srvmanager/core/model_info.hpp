#pragma once
// What the manager derives from a server's model code: the model name shown in
// the tree, the number of serial ports, and whether the server carries a DHCP
// setting that the manager reads and writes. Only the twelve server models count;
// any other code has an empty name, 0 ports and no DHCP setting.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_types.hpp"

namespace zelin::manager {

std::string_view ModelNameOf(DeviceType code);
int PortCountOfModel(DeviceType code);
// `firmware_version` is the 32-bit value of the search reply; its upper 16 bits are
// compared with 0x0220 for the models that gained DHCP in a firmware update.
bool HasDhcpSetting(DeviceType code, uint32_t firmware_version);

// "%s(%s)": the server's reported name and its model name.
std::string TreeLabel(std::string_view name, DeviceType code);

}  // namespace zelin::manager
