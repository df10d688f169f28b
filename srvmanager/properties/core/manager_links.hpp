#pragma once
// Model facts the property pages use: the model name shown in "%s(%s)" labels, the
// port count, and whether a server carries a DHCP setting (the upper 16 bits of the
// reported firmware version at 0x0220 or above for the models that gained it later).

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/device_types.hpp"
#include "protocol/types.hpp"

namespace zelin::manager {

bool ModelHasDhcp(DeviceType code, uint32_t firmware_version);
inline bool RecordHasDhcp(const ServerRecord& r) {
  return ModelHasDhcp(r.device_type(), r.firmware_version());
}
// Serial ports of the model (0 for an unknown code), at most 16.
int ModelPorts(DeviceType code);
// "%s(%s)" with the name and the model name of the code ("" for an unknown code).
std::string ServerLabel(std::string_view name, DeviceType code);

}  // namespace zelin::manager
