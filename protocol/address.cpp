#include "protocol/address.hpp"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zelin {
namespace {
// Splits at `separator` keeping empty parts.
std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

std::vector<std::string_view> SplitDots(std::string_view text) { return Split(text, '.'); }

// atoi over a bounded part: optional leading spaces and sign, then digits.
int ParseDecimal(std::string_view part) {
  size_t i = 0;
  while (i < part.size() && (part[i] == ' ' || part[i] == '\t')) ++i;
  bool negative = false;
  if (i < part.size() && (part[i] == '+' || part[i] == '-')) negative = part[i++] == '-';
  long value = 0;
  for (; i < part.size() && part[i] >= '0' && part[i] <= '9'; ++i) {
    value = value * 10 + (part[i] - '0');
    if (value > 1'000'000) break;  // far past any octet; avoids overflow
  }
  return static_cast<int>(negative ? -value : value);
}
}  // namespace

std::string AddressToText(Ipv4 address) {
  const auto o = Ipv4Octets(address);
  char text[20];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", o[0], o[1], o[2], o[3]);
  return text;
}

Ipv4 TextToAddress(std::string_view text) {
  if (text.size() > 19) return 0;  // the 20-byte work buffer of the original holds no more
  const auto parts = SplitDots(text);
  if (parts.size() < 4) return 0;
  uint8_t o[4];
  for (int i = 0; i < 4; ++i)
    o[i] = static_cast<uint8_t>(ParseDecimal(parts[static_cast<size_t>(i)]));
  return Ipv4FromOctets(o[0], o[1], o[2], o[3]);
}

bool IsValidAddressText(std::string_view text) {
  if (text == "...") return true;
  const auto parts = SplitDots(text);
  if (parts.size() < 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    const auto p = parts[i];
    if (p.empty() || p.size() > 3) return false;
    for (char c : p)
      if (c < '0' || c > '9') return false;
    if (ParseDecimal(p) >= 256) return false;
  }
  return true;
}

std::optional<Ipv4> ParseHostAddress(std::string_view text) {
  if (text == "..." || SplitDots(text).size() != 4 || !IsValidAddressText(text))
    return std::nullopt;
  return TextToAddress(text);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

AddressList ParseAddressList(std::string_view text, ListSyntax syntax) {
  AddressList out;
  for (const std::string_view part : Split(text, ',')) {
    const std::string_view field = syntax == ListSyntax::kLenient ? TrimBlanks(part) : part;
    if (auto a = ParseHostAddress(field))
      out.addresses.push_back(*a);
    else if (syntax == ListSyntax::kStrict || !field.empty())
      out.rejected.emplace_back(part);
  }
  return out;
}

}  // namespace zelin
