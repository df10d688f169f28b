#include "protocol/device_types.hpp"

#include <array>

namespace zelin {
namespace {
constexpr std::array<ModelInfo, 20> kModels{{
    {771, "VR-13", 16, false},    {776, "VR-18", 8, false},     {8452, "QX104", 4, false},
    {8456, "VR-19-8", 8, false},  {8470, "VR-19-16", 16, false}, {9476, "QX404", 4, false},
    {9480, "QX408", 8, false},    {9491, "QX516", 16, false},   {9494, "QX416", 16, false},
    {9496, "QX508", 8, false},    {9747, "QX616", 16, false},   {9752, "QX608", 8, false},
    {769, "VR-11", 1, true},      {770, "VR-12", 2, true},      {772, "VR-14", 4, true},
    {785, "VR-21", 1, true},      {817, "VR-31", 1, true},      {818, "VR-32", 2, true},
    {820, "VR-34", 4, true},      {33553, "VR-21M", 1, true},
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

}  // namespace zelin
