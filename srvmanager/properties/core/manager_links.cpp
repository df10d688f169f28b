#include "srvmanager/properties/core/manager_links.hpp"

#include <algorithm>

namespace zelin::manager {

bool ModelHasDhcp(DeviceType code, uint32_t firmware_version) {
  switch (code) {
    case 771:
    case 776:
    case 9491:
    case 9496:
    case 9747:
    case 9752:
      return true;
    case 9476:
    case 9480:
    case 9494:
      return (firmware_version >> 16) >= 0x0220;
    default:
      return false;
  }
}

int ModelPorts(DeviceType code) {
  const ModelInfo* m = FindModel(code);
  if (m == nullptr || m->monitor_only) return 0;
  return std::clamp(m->ports, 0, 16);
}

std::string ServerLabel(std::string_view name, DeviceType code) {
  const ModelInfo* m = FindModel(code);
  std::string label(name);
  label += '(';
  if (m != nullptr && !m->monitor_only) label += m->name;
  label += ')';
  return label;
}

}  // namespace zelin::manager
