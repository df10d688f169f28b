#pragma once
// The numbered strings and fixed texts of Server Properties, Replace Server and
// Upgrade Firmware, and the formats built from them.
//
// PropertiesString(id) returns the exact text of a numbered string (from the manager's
// table for the ones its other commands share), or "" for an id neither table holds.
// The returned view points at static storage.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/bytes.hpp"

namespace zelin::manager {

enum PropertiesStringId : int {
  kPsSheetCaption = 102,
  kPsUpgradeCaption = 120,
  kPsReplaceDhcpWarning = 125,
  kPsUpgradeOk = 61215,
  kPsUpgradeFail = 61216,
  kPsSelectServerFirst = 61217,
  kPsPasswordError = 61219,
  kPsPasswordMismatch = 61220,
  kPsNoServer = 61221,
  kPsWrongCurrentPassword = 61232,
  kPsPasswordSpace = 61234,
  kPsDeviceTypeMismatch = 61236,
  kPsInvalidAddress = 61239,
  kPsGetDhcpError = 61242,
};

std::string_view PropertiesString(int id);

// Texts without a number.
inline constexpr std::string_view kPsConflictCheckFailed = "CALL IP Conflict fail";
inline constexpr std::string_view kPsNoFreeAddress = "Can't found any IP address";
inline constexpr std::string_view kPsPasswordDialogTitle = "Zelin Server";
// Messages of this system for situations the pages leave open.
inline constexpr std::string_view kPsAccessTableFull =
    "The access control list is full (32 entries). Remove an entry before adding another.";
inline constexpr std::string_view kPsRouteTableFull =
    "The routing table is full (32 entries). The change was not made.";
inline constexpr std::string_view kPsReadTablesFailed =
    "Fail to read the routing and access control tables from the server!";
inline constexpr std::string_view kPsFoundTableFull =
    "The list of servers found on the network is full (32 servers).";
inline constexpr std::string_view kPsInvalidHostAddress =
    "The addresses 0.0.0.0 and 255.255.255.255 cannot be granted access.";

// Page, dialog and control texts.
inline constexpr std::string_view kPsGeneralTitle = "General";
inline constexpr std::string_view kPsPasswordTitle = "Password";
inline constexpr std::string_view kPsAccessTitle = "Access Control";
inline constexpr std::string_view kPsAdvancedTitle = "Advanced";
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

// "Server Name : %s \n\nSerial No. : %d\n\nIP address : %s" (password dialog).
std::string PasswordDialogText(std::string_view name, int serial, Ipv4 address);
// The progress window's texts while sending and after the last block.
std::string DownloadingText(std::string_view name, int serial, Ipv4 address);
std::string UpgradingText(std::string_view name, int serial, Ipv4 address);

// printf-style formatting into a std::string.
std::string PsFormat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zelin::manager
