#include "emulator/request_log.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace zelin::emulator {

std::string HexOf(Bytes bytes, size_t limit) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const size_t n = std::min(bytes.size(), limit);
  std::string s;
  s.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    s.push_back(kDigits[bytes[i] >> 4]);
    s.push_back(kDigits[bytes[i] & 15]);
  }
  return s;
}

std::string LogEntry::ToJson() const {
  nlohmann::ordered_json j;
  j["time_ms"] = time_ms;
  j["server"] = server;
  j["proto"] = proto;
  j["to"] = to;
  j["from"] = from;
  j["code"] = code;
  j["length"] = length;
  j["sequence"] = sequence >= 0 ? nlohmann::ordered_json(sequence) : nullptr;
  j["verdict"] = verdict;
  j["status"] = status >= 0 ? nlohmann::ordered_json(status) : nullptr;
  j["hex"] = hex;
  // Verdicts may quote received bytes; never fail on invalid UTF-8.
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace zelin::emulator
