// The emulator's lab file (JSON), then the completion and checks devsim runs on it.
//
// Invariants: a refusal says why; completing a lab that passed its checks a second
// time changes nothing and still passes.

#include <string_view>

#include "emulator/lab_spec.hpp"
#include "fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin::emulator;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Parsed<LabSpec> parsed = ParseLabJson(text);
  LabSpec* accepted = Accepted(parsed);
  if (accepted == nullptr) return 0;
  LabSpec& lab = *accepted;
  if (!CompleteAndCheck(lab).empty()) return 0;
  const LabSpec completed = lab;
  FUZZ_CHECK(CompleteAndCheck(lab).empty());
  FUZZ_CHECK(lab.servers.size() == completed.servers.size());
  for (size_t i = 0; i < lab.servers.size(); ++i) {
    FUZZ_CHECK(lab.servers[i].name == completed.servers[i].name);
    FUZZ_CHECK(lab.servers[i].port_count == completed.servers[i].port_count);
    FUZZ_CHECK(lab.servers[i].port_kinds == completed.servers[i].port_kinds);
    FUZZ_CHECK(lab.servers[i].hardware == completed.servers[i].hardware);
  }
  return 0;
}
