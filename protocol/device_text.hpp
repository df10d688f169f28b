#pragma once
// Text that travels to a device server: names and passwords are byte fields of
// the device (a 30-byte name, 16-byte passwords) that the server reads as ASCII.
// Only printable ASCII characters fit one byte each and show the same on every
// host, so the programs accept nothing else in those fields.

#include <algorithm>
#include <string_view>

namespace zelin {

// True when every character is printable ASCII (0x20 to 0x7E).
inline bool IsDeviceText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// Shown when a name or password holds other characters.
inline constexpr std::string_view kDeviceTextRefused =
    "Only ASCII letters, digits, spaces and punctuation can be used here; please retype it.";

}  // namespace zelin
