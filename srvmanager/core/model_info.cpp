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
  // The column lives in the shared model table, which the emulated servers read too.
  return CarriesDhcpSetting(code, firmware_version);
}

std::string TreeLabel(std::string_view name, DeviceType code) {
  std::string out(name);
  out += '(';
  out += ModelNameOf(code);
  out += ')';
  return out;
}

}  // namespace zelin::manager
