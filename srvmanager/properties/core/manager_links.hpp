#pragma once
// Model facts the property pages read from a found-server record, from the manager's
// model table (srvmanager/core/model_info.hpp).

#include <algorithm>

#include "protocol/types.hpp"
#include "srvmanager/core/model_info.hpp"

namespace zelin::manager {

// Whether the server carries a DHCP setting the manager reads and writes.
inline bool RecordHasDhcp(const ServerRecord& r) {
  return HasDhcpSetting(r.device_type(), r.firmware_version());
}

// Serial ports of the model (0 for an unknown code), at most 16.
inline int ModelPorts(DeviceType code) {
  return std::clamp(PortCountOfModel(code), 0, 16);
}

}  // namespace zelin::manager
