#pragma once
// The fixed texts of Server Properties, Replace Server and Upgrade Firmware that carry
// no number, and the formats built from them. The numbered strings live in the
// manager's table (srvmanager/core/strings.hpp, ManagerString).

#include <array>
#include <string>
#include <string_view>

#include "protocol/bytes.hpp"
#include "protocol/shared_texts.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {

// Texts without a number.
inline constexpr std::string_view kPsConflictCheckFailed = texts::kCheckAddressFailed;
inline constexpr std::string_view kPsNoFreeAddress = texts::kNoFreeAddress;
// Messages of this system for situations the pages leave open.
inline constexpr std::string_view kPsAccessTableFull =
    "The access control list is full (32 entries). Remove an entry before adding another.";
inline constexpr std::string_view kPsRouteTableFull =
    "The routing table is full (32 entries). The change was not made.";
inline constexpr std::string_view kPsReadTablesFailed = texts::kReadTablesFailed;
inline constexpr std::string_view kPsFoundTableFull =
    "The list of servers found on the network is full (32 servers).";
inline constexpr std::string_view kPsInvalidHostAddress =
    "The addresses 0.0.0.0 and 255.255.255.255 cannot be granted access.";

// Page, dialog and control texts.
// The sheet's page titles in PageKind order (property_sheet.hpp).
inline constexpr std::array<std::string_view, 4> kPsPageTitles{"General", "Password",
                                                               "Access Control", "Advanced"};
inline constexpr std::string_view kPsGrantTitle = "Grant Access IP";
inline constexpr std::string_view kPsAddPortTitle = "Add Port";
inline constexpr std::string_view kPsAddPortIntro =
    "Select from the ports below to add access permissions to current host.";
inline constexpr std::string_view kPsGatewayTitle = "Gateway Settings";
inline constexpr std::string_view kPsAdvancedIntro =
    "Enter the IP address and Gateway for your data to route to.";
inline constexpr std::string_view kPsReplaceTitle = "Replace Server...";
inline constexpr std::string_view kPsReplaceIntro =
    "Select the server for replacement from the list below.";
inline constexpr std::string_view kPsSingleHostMask = "255.255.255.255";

// The progress window's texts while sending and after the last block.
std::string DownloadingText(std::string_view name, int serial, Ipv4 address);
std::string UpgradingText(std::string_view name, int serial, Ipv4 address);

}  // namespace zelin::manager
