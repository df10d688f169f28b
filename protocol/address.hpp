#pragma once
// Conversions between IPv4 addresses (network byte order) and dotted text.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/bytes.hpp"

namespace zelin {

// "%d.%d.%d.%d", the first octet from the lowest-addressed byte of the value.
std::string AddressToText(Ipv4 address);

// Splits at "." into four decimal numbers a.b.c.d (each read as a decimal integer,
// as atoi reads it) and returns them in network order. Returns 0 when fewer than
// four parts are present or the text is longer than 19 characters.
Ipv4 TextToAddress(std::string_view text);

// True for "..." (an empty address field) and for texts whose first four parts are
// 1 to 3 decimal digits each with a value below 256; parts after the fourth are not checked.
bool IsValidAddressText(std::string_view text);

// An address typed on a command line or in the environment: exactly four valid
// parts ("1.2.3.4"); the empty field "...", a fifth part or anything else gives nothing.
std::optional<Ipv4> ParseHostAddress(std::string_view text);

// `s` without leading and trailing spaces and tabs.
std::string_view TrimBlanks(std::string_view s);

// How a comma-separated address list is read.
//   kLenient: each part is trimmed of blanks and empty parts are skipped (ZELIN_INTERFACES);
//   kStrict:  each part must be exactly a host address (the --interfaces option).
enum class ListSyntax { kLenient, kStrict };

struct AddressList {
  std::vector<Ipv4> addresses;        // in list order
  std::vector<std::string> rejected;  // parts that are not host addresses, as written
};

// Reads "a.b.c.d,e.f.g.h,..." with ParseHostAddress for every part. The caller decides
// whether a rejected part fails the whole list.
AddressList ParseAddressList(std::string_view text, ListSyntax syntax);

}  // namespace zelin
