// zelinctl's port lists ("all", "none", "1,3,5-8").
//
// Invariant: a parsed list of ports writes back as text that parses to the same ports.

#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "tools/zelinctl/port_list.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin::ctl;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto list = ParsePortList(text);
  if (!list) return 0;
  std::string error;
  for (int ports : {4, 8, 16}) (void)PortsOnServer(*list, ports, &error);
  if (list->all) return 0;
  const auto again = ParsePortList(PortListText(list->mask));
  FUZZ_CHECK(again && !again->all && again->mask == list->mask);
  return 0;
}
