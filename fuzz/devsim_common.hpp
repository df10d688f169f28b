#pragma once
// The emulated server the devsim harnesses talk to: one completed lab server with a
// password, nobody else on the network, and the standard handler tables.

#include "emulator/device.hpp"
#include "emulator/lab_spec.hpp"
#include "fuzz/fuzz_check.hpp"

namespace zelin::fuzz {

inline constexpr char kPassword[] = "pw";
inline constexpr DeviceType kType = 771;
inline constexpr uint16_t kSerial = 4321;

class NoOwners final : public emulator::AddressOwners {
 public:
  std::optional<std::array<uint8_t, 6>> Owner(Ipv4, const emulator::DeviceState&) const override {
    return std::nullopt;
  }
};

inline emulator::ServerSpec LabServer() {
  emulator::LabSpec lab;
  lab.broadcast = Ipv4FromOctets(127, 0, 0, 255);
  emulator::ServerSpec s;
  s.type = kType;
  s.serial = kSerial;
  s.ip = Ipv4FromOctets(127, 0, 0, 10);
  s.password = kPassword;
  lab.servers.push_back(s);
  const std::string problem = emulator::CompleteAndCheck(lab);
  FUZZ_CHECK(problem.empty());
  return lab.servers.front();
}

}  // namespace zelin::fuzz
