// devsim's --server flag (key=value pairs), then the lab checks and the server it
// starts: a flag that passes them builds an emulated server.
//
// Invariant: a refusal says why.

#include <string_view>

#include "emulator/device.hpp"
#include "emulator/lab_spec.hpp"
#include "fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin::emulator;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Parsed<ServerSpec> parsed = ParseServerFlag(text);
  const ServerSpec* server = Accepted(parsed);
  if (server == nullptr) return 0;
  LabSpec lab;
  lab.broadcast = zelin::Ipv4FromOctets(127, 0, 0, 255);
  lab.servers.push_back(*server);
  if (!CompleteAndCheck(lab).empty()) return 0;
  Device device(lab.servers.front(), 1);
  FUZZ_CHECK(device.state().serial == lab.servers.front().serial);
  return 0;
}
