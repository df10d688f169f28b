#include "protocol/device_types.hpp"

#include <array>

namespace zelin {
namespace {
constexpr DhcpSupport kNo = DhcpSupport::kNone;
constexpr DhcpSupport kYes = DhcpSupport::kAlways;
constexpr DhcpSupport kLate = DhcpSupport::kFromFirmware0220;
constexpr uint32_t kDhcpFirmware = 0x0220;

constexpr std::array<ModelInfo, 20> kModels{{
    {771, "VR-13", 16, false, kYes},   {776, "VR-18", 8, false, kYes},
    {8452, "QX104", 4, false, kNo},    {8456, "VR-19-8", 8, false, kNo},
    {8470, "VR-19-16", 16, false, kNo}, {9476, "QX404", 4, false, kLate},
    {9480, "QX408", 8, false, kLate},  {9491, "QX516", 16, false, kYes},
    {9494, "QX416", 16, false, kLate}, {9496, "QX508", 8, false, kYes},
    {9747, "QX616", 16, false, kYes},  {9752, "QX608", 8, false, kYes},
    {769, "VR-11", 1, true, kNo},      {770, "VR-12", 2, true, kNo},
    {772, "VR-14", 4, true, kNo},      {785, "VR-21", 1, true, kNo},
    {817, "VR-31", 1, true, kNo},      {818, "VR-32", 2, true, kNo},
    {820, "VR-34", 4, true, kNo},      {33553, "VR-21M", 1, true, kNo},
}};
}  // namespace

std::span<const ModelInfo> ModelTable() { return kModels; }

const ModelInfo* FindModel(DeviceType code) {
  for (const auto& m : kModels)
    if (m.code == code) return &m;
  return nullptr;
}

bool IsAcceptedBy(DeviceType code, Deliverable who) {
  const ModelInfo* m = FindModel(code);
  if (m == nullptr) return false;
  return who == Deliverable::Monitor || !m->monitor_only;
}

std::string_view ModelName(DeviceType code) {
  const ModelInfo* m = FindModel(code);
  return m ? m->name : std::string_view{};
}

int ModelPortCount(DeviceType code) {
  const ModelInfo* m = FindModel(code);
  return m ? m->ports : 0;
}

bool CarriesDhcpSetting(DeviceType code, uint32_t firmware_version) {
  const ModelInfo* m = FindModel(code);
  if (m == nullptr) return false;
  switch (m->dhcp) {
    case DhcpSupport::kAlways:
      return true;
    case DhcpSupport::kFromFirmware0220:
      return (firmware_version >> 16) >= kDhcpFirmware;
    case DhcpSupport::kNone:
      break;
  }
  return false;
}

}  // namespace zelin
