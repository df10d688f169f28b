#pragma once
// The HTTP request targets the exporter answers, read from the raw request line's target
// ("/probe?target=127.0.42.10&ports=1-4"): the path, the query's parameters
// (percent-decoded, '+' as a blank) and, for /probe, the server address and ports.
//
// Every byte is hostile: a target of more than kMaxTargetLength bytes, a bad escape, a
// repeated or unknown parameter, a password in the query, an address that is not four
// decimal parts, or a port list outside 1..16 is refused with a reason (the exporter
// answers 400 and counts a failed probe). Pure functions.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/bytes.hpp"

namespace zelin::exporter {

inline constexpr size_t kMaxTargetLength = 2048;
inline constexpr size_t kMaxParameters = 16;

struct RequestTarget {
  std::string path;                                        // decoded, without the query
  std::vector<std::pair<std::string, std::string>> query;  // decoded, in order
};

// Splits and decodes a request target; nullopt with *error for a malformed one.
std::optional<RequestTarget> ParseRequestTarget(std::string_view raw, std::string* error);

// What /probe is asked for.
struct ProbeRequest {
  Ipv4 address = 0;
  uint32_t ports = 0xFFFF;  // bit p: port p (from 0); all by default
  bool ports_given = false;
};

// The /probe parameters: target=ADDRESS (required) and ports=LIST (1,3,5-8 from 1).
std::optional<ProbeRequest> ParseProbeRequest(const RequestTarget& target, std::string* error);

// "1,3,5-8" (ports from 1, at most 16) as a mask; nullopt for a bad or empty list.
std::optional<uint32_t> ParsePortList(std::string_view text);

// The seconds of X-Prometheus-Scrape-Timeout-Seconds ("10", "2.5"); nullopt for a
// header that is not a positive number of at most a day.
std::optional<double> ParseScrapeTimeout(std::string_view text);

}  // namespace zelin::exporter
