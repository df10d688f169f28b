#include "exporter/core/probe_request.hpp"

#include <charconv>
#include <cmath>

#include "protocol/address.hpp"

namespace zelin::exporter {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Decode(std::string_view s, bool plus_is_blank) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '%') {
      if (i + 2 >= s.size()) return std::nullopt;
      const int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      const char decoded = static_cast<char>(hi * 16 + lo);
      if (decoded == '\0') return std::nullopt;
      out += decoded;
      i += 2;
    } else if (c == '+' && plus_is_blank) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

// Sets the reason of a refused request; returns the refusal.
std::nullopt_t Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return std::nullopt;
}

}  // namespace

std::optional<RequestTarget> ParseRequestTarget(std::string_view raw, std::string* error) {
  if (raw.size() > kMaxTargetLength) return Fail(error, "request target too long");
  for (char c : raw) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F) {
      return Fail(error, "request target holds a control, blank or non-ASCII byte");
    }
  }
  if (raw.empty() || raw.front() != '/') {
    return Fail(error, "request target is not an absolute path");
  }
  const size_t q = raw.find('?');
  const std::string_view path = raw.substr(0, q);
  const std::string_view query = q == std::string_view::npos ? std::string_view() : raw.substr(q + 1);
  if (query.find('#') != std::string_view::npos || path.find('#') != std::string_view::npos) {
    return Fail(error, "request target holds a fragment");
  }
  RequestTarget out;
  auto decoded_path = Decode(path, false);
  if (!decoded_path) return Fail(error, "bad escape in the path");
  out.path = std::move(*decoded_path);
  size_t at = 0;
  while (q != std::string_view::npos && at <= query.size()) {
    size_t end = query.find('&', at);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view part = query.substr(at, end - at);
    at = end + 1;
    if (part.empty()) continue;
    if (out.query.size() == kMaxParameters) return Fail(error, "too many parameters");
    const size_t eq = part.find('=');
    auto key = Decode(part.substr(0, eq), true);
    auto value = Decode(eq == std::string_view::npos ? std::string_view() : part.substr(eq + 1), true);
    if (!key || !value) return Fail(error, "bad escape in the query");
    out.query.emplace_back(std::move(*key), std::move(*value));
  }
  return out;
}

std::optional<uint32_t> ParsePortList(std::string_view text) {
  uint32_t mask = 0;
  size_t at = 0;
  if (text.empty()) return std::nullopt;
  while (at <= text.size()) {
    size_t end = text.find(',', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view part = text.substr(at, end - at);
    at = end + 1;
    const size_t dash = part.find('-');
    auto number = [](std::string_view s) -> int {
      int v = 0;
      if (s.empty() || s.size() > 2) return -1;
      const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
      return ec == std::errc() && p == s.data() + s.size() ? v : -1;
    };
    const int from = number(part.substr(0, dash));
    const int to = dash == std::string_view::npos ? from : number(part.substr(dash + 1));
    if (from < 1 || to < from || to > 16) return std::nullopt;
    for (int p = from; p <= to; ++p) mask |= 1u << (p - 1);
  }
  return mask;
}

std::optional<ProbeRequest> ParseProbeRequest(const RequestTarget& target, std::string* error) {
  ProbeRequest out;
  bool have_target = false;
  for (const auto& [key, value] : target.query) {
    if (key == "target") {
      if (have_target) return Fail(error, "target given twice");
      const auto address = ParseHostAddress(value);
      if (!address) return Fail(error, "target is not an IPv4 address");
      out.address = *address;
      have_target = true;
    } else if (key == "ports") {
      if (out.ports_given) return Fail(error, "ports given twice");
      const auto ports = ParsePortList(value);
      if (!ports) return Fail(error, "ports is not a list of ports 1..16 (1,3,5-8)");
      out.ports = *ports;
      out.ports_given = true;
    } else if (key == "password") {
      return Fail(error, "passwords are never taken from a URL; use the exporter's password file");
    } else {
      return Fail(error, "unknown parameter");
    }
  }
  if (!have_target) return Fail(error, "target parameter missing");
  return out;
}

std::optional<double> ParseScrapeTimeout(std::string_view text) {
  if (text.empty() || text.size() > 32) return std::nullopt;
  double v = 0;
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size() || !std::isfinite(v) || v <= 0 ||
      v > 86400)
    return std::nullopt;
  return v;
}

}  // namespace zelin::exporter
