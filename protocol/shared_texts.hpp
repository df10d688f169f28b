#pragma once
// Texts that more than one program shows in the same words. The programs' string
// tables refer to these instead of spelling them again, so a correction reaches every
// program at once. Texts of one program only stay in that program's table.

#include <string_view>

#include "platform/text_table.hpp"

namespace zelin::texts {

// The free-address search (protocol/address_search.hpp).
inline constexpr std::string_view kCheckAddressFailed = "CALL IP Conflict fail";
inline constexpr std::string_view kNoFreeAddress = "Can't found any IP address";

// Reading a server's tables before its access list is changed.
inline constexpr std::string_view kReadTablesFailed =
    "Fail to read the routing and access control tables from the server!";

// COM names and addresses typed by the user: numbered messages, under the same number in
// the manager's table and in the wizard's.
inline constexpr NumberedText kComLimitExceeded{61237,
                                                "Your COM name have exceeded 256 limitation!"};
inline constexpr NumberedText kInvalidAddress{61239, "Invalid IP address!"};

}  // namespace zelin::texts
