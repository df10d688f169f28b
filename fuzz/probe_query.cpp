// zelin-exporter's request targets ("/probe?target=127.0.42.10&ports=1-4"), the scrape
// deadline header and the target list: text from any HTTP client or file.
//
// Invariants: a parsed target holds no NUL and no more than the allowed parameters; a
// parsed probe names ports 1..16 only; a parsed deadline is a positive number of at most
// a day; a parsed target list gives serial numbers and ports in range.

#include <string>
#include <string_view>

#include "exporter/core/probe_request.hpp"
#include "exporter/core/target_list.hpp"
#include "fuzz/fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelin::exporter;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (const auto target = ParseRequestTarget(text, &error)) {
    FUZZ_CHECK(target->query.size() <= kMaxParameters);
    FUZZ_CHECK(target->path.find('\0') == std::string::npos);
    for (const auto& [key, value] : target->query)
      FUZZ_CHECK(key.find('\0') == std::string::npos && value.find('\0') == std::string::npos);
    if (const auto probe = ParseProbeRequest(*target, &error))
      FUZZ_CHECK(probe->ports != 0 && (probe->ports & ~0xFFFFu) == 0);
    else
      FUZZ_CHECK(!error.empty());
  } else {
    FUZZ_CHECK(!error.empty());
  }
  if (const auto seconds = ParseScrapeTimeout(text)) FUZZ_CHECK(*seconds > 0 && *seconds <= 86400);
  if (const auto list = ParseTargetList(text); list.ok())
    for (const Target& t : *list) FUZZ_CHECK(!t.ports || (*t.ports != 0 && (*t.ports & ~0xFFFFu) == 0));
  return 0;
}
