#pragma once
// The manager's numbered string table and its fixed message formats.
//
// ManagerString(id) returns the exact text of a numbered string, or "" for an id
// that the table does not hold. The returned view points at static storage.

#include <string>
#include <string_view>

#include "platform/text_format.hpp"
#include "protocol/shared_texts.hpp"

namespace zelin::manager {

// Numbered strings.
enum StringId : int {
  kStrSocketsInitFailed = 103,
  kStrTransportOpenError = 105,
  kStrLoadStoreFailed = 112,
  kStrServerSaveFailed = 113,
  kStrTreeRoot = 123,
  kStrRestartWarning = 124,
  kStrPortColumns = 61209,
  kStrConfirmDelete = 61211,
  kStrSelectServerFirst = 61217,
  kStrPasswordError = 61219,
  kStrSaveBeforeExit = 61231,
  kStrComLimitExceeded = texts::kComLimitExceeded.id,
  kStrGetInterfaceError = 61241,
  // Server Properties, Replace Server and Upgrade Firmware.
  kStrSheetCaption = 102,
  kStrUpgradeCaption = 120,
  kStrReplaceDhcpWarning = 125,
  kStrUpgradeOk = 61215,
  kStrUpgradeFail = 61216,
  kStrPasswordMismatch = 61220,
  kStrNoServer = 61221,
  kStrWrongCurrentPassword = 61232,
  kStrPasswordSpace = 61234,
  kStrDeviceTypeMismatch = 61236,
  kStrInvalidAddress = texts::kInvalidAddress.id,
  kStrGetDhcpError = 61242,
};

std::string_view ManagerString(int id);

// The command's fly-by text (before "\n") and tool tip (after it); "" when unknown.
std::string_view CommandStatusText(int command_id);
std::string_view CommandToolTip(int command_id);

// Texts without a number.
inline constexpr std::string_view kTitleBase = "Zelin Server Manager";
inline constexpr std::string_view kOleInitFailed = "Ole Initialization failed";
inline constexpr std::string_view kAboutTitle = "About Zelin Server Pro";
inline constexpr std::string_view kAboutVersion = "Zelin Server Pro Manager Version 1.7";
inline constexpr std::string_view kPasswordDialogTitle = "Zelin Server";
inline constexpr std::string_view kPasswordPrompt = "Please input password : ";
inline constexpr std::string_view kMapPortTitle = "Port Properties";
inline constexpr std::string_view kMapPortIntro =
    "Select the COM port that you would like current port to map to.";
inline constexpr std::string_view kMapPortConsecutive = "Mapping COM number consecutively";
inline constexpr std::string_view kStoreSaveFailed =
    "Fail to save Zelin parameter to registery! The changes are kept; please try again.";
// Follows the failure of a server's write sequence (ServerWriteFailed).
inline constexpr std::string_view kServerKeptOldSettings =
    "This server keeps its old settings, and they are what the configuration stores for it. "
    "Your changes are kept; please save again when the server can be reached.";

// "%4d" port, "COM%d" names and the status texts of the port list.
std::string PortNumberText(int one_based_port);
std::string ComNameText(int stored_com);  // "COM%d", a stored 0 is "COM256"
std::string_view PortStatusText(int status_code);

// Formatted messages.
std::string PasswordDialogText(std::string_view name, int serial, std::string_view address);
std::string MapPortLabel(int one_based_port, std::string_view server_name);
std::string ConflictSameServer(std::string_view server, int port, int other_port);
std::string ConflictOtherServer(std::string_view server, int port, int com,
                                std::string_view other_server, int other_port);
std::string AdoptOffer(std::string_view name, std::string_view address, int serial,
                       int found_serial);
// The failure of a server's write sequence with its step code, then kServerKeptOldSettings.
std::string ServerWriteFailed(std::string_view name, std::string_view address, int code);

}  // namespace zelin::manager
