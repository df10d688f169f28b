#include "srvmanager/core/model_info.hpp"

#include <string>

namespace zelin::manager {

std::string_view ModelNameOf(DeviceType code) {
  const ModelInfo* m = FindModel(code);
  return (m != nullptr && !m->monitor_only) ? m->name : std::string_view{};
}

int PortCountOfModel(DeviceType code) {
  const ModelInfo* m = FindModel(code);
  return (m != nullptr && !m->monitor_only) ? m->ports : 0;
}

bool HasDhcpSetting(DeviceType code, uint32_t firmware_version) {
  constexpr uint32_t kDhcpFirmware = 0x0220;
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
      return (firmware_version >> 16) >= kDhcpFirmware;
    default:
      return false;
  }
}

std::string TreeLabel(std::string_view name, DeviceType code) {
  std::string out(name);
  out += '(';
  out += ModelNameOf(code);
  out += ')';
  return out;
}

}  // namespace zelin::manager
