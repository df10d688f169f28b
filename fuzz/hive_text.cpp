// The hive file's text, as the store reads it from disk.
//
// Invariant: what parses writes back as text that parses to the same tree, and that
// text is stable (writing the re-read tree gives the same text).

#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "store/reg_text.hpp"
#include "store/registry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Result<MemoryRegistry> reg = ParseRegText(text);
  if (!reg) {
    FUZZ_CHECK(!reg.status().message().empty());
    return 0;
  }
  const std::string written = FormatRegText(*reg);
  const Result<MemoryRegistry> again = ParseRegText(written);
  FUZZ_CHECK(again.ok());
  FUZZ_CHECK(*again == *reg);
  FUZZ_CHECK(FormatRegText(*again) == written);
  return 0;
}
