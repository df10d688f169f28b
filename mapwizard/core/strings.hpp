#pragma once
// The wizard library's string table: the numbered messages and the fixed texts of its
// pages and dialogs, exactly as the user sees them. Plain data, no toolkit.
//
// Thread safety: the table is immutable; every function may be called from any thread.

#include <string>
#include <string_view>

#include "protocol/shared_texts.hpp"

namespace zelin::wizard {

// Numbered messages.
enum StringId : int {
  kStrPasswordNotMatch = 106,
  kStrCancelQuestion = 107,
  kStrAlreadyAdded = 61231,
  kStrCannotLocate = 61232,
  kStrSelectServer = 61233,
  kStrDuplicatedAddress = 61234,
  kStrEnterAddress = 61235,
  kStrWrongPassword = 61236,
  kStrComLimit = texts::kComLimitExceeded.id,
  kStrBadPasswordSpace = 61238,
  kStrInvalidAddress = texts::kInvalidAddress.id,
  kStrNoServersAnswered = 61240,
  kStrAllServersAdded = 61241,
};

// The server list page's picture controls, for installation types 1, 2 and 3.
enum PictureId : int { kPictureSingleHost = 1023, kPictureMultiHost = 1024, kPictureCustom = 1025 };

// The text of a numbered message; "" for a number the table does not hold.
std::string_view WizardString(int id);

// Messages without a number.
inline constexpr std::string_view kTextCheckAddressFailed = texts::kCheckAddressFailed;
inline constexpr std::string_view kTextNoFreeAddress = texts::kNoFreeAddress;
inline constexpr std::string_view kTextReadTablesFailed = texts::kReadTablesFailed;
inline constexpr std::string_view kTextTableFull =
    "The configuration already holds 32 servers. Remove a server before adding another one.";

// Window texts.
inline constexpr std::string_view kTextSheetCaption = "Zelin Wizard";
inline constexpr std::string_view kTextPageTitle = "Add Server Wizard";
// " - Traditional", " - Multi Host", " - Custom" for types 1 to 3, "" otherwise.
std::string_view CaptionSuffix(int installation_type);
std::string SheetCaption(int installation_type);

// Page 0 (dialog 136).
inline constexpr std::string_view kTextBeginIntro =
    "You may add a new server now. Make sure you have connected the Zelin Server Pro to the "
    "network, and then plug in the power cord before continuing.";
inline constexpr std::string_view kTextBeginQuestion = "Do you want to run Add Server Wizard now?";
inline constexpr std::string_view kTextBeginYes = "Yes.";
inline constexpr std::string_view kTextBeginNo = "No. I will run Add Server wizard later.";

// Page 1 (dialog 105).
inline constexpr std::string_view kTextServerListHeading = "Your Zelin Server Pro";
inline constexpr std::string_view kTextServerListIntro =
    "Select the server from the list below. If you cannot find the server in the list, check "
    "on your server connection and power cord, and then click on \"Find\".";
inline constexpr std::string_view kTextLocateButton = "Locate Server";
inline constexpr std::string_view kTextFindButton = "Find...";
inline constexpr std::string_view kTextManualRadio =
    "Manually Enter the IP address of Zelin Server.";
inline constexpr std::string_view kTextExistingRadio =
    "Select existing Zelin Servers on the network.";
inline constexpr std::string_view kColumnModel = "Model";
inline constexpr std::string_view kColumnName = " Name ";
inline constexpr std::string_view kColumnAddress = "  IP address  ";
inline constexpr std::string_view kColumnSerial = "Serial No.";

// Page 7 (dialog 137).
inline constexpr std::string_view kTextAssignHeading = "Define Zelin Server";
inline constexpr std::string_view kTextAssignLabel = "Your Zelin Server IP address";

// Pages 5 and 9 (dialogs 140 and 147).
inline constexpr std::string_view kTextProtectedHeading = "Password Protected";
inline constexpr std::string_view kTextSingleHostIntro =
    "Your server has password protection. Confirm if you want to use this Zelin server under "
    "Single-Host environment and input the password to continue.";
inline constexpr std::string_view kTextMyPasswordLabel = "My Server Password:";
inline constexpr std::string_view kTextMultiHostIntro =
    "Your server has password protection. Are you the administrator with server password on "
    "hand?";
inline constexpr std::string_view kTextAdministratorRadio = "Yes. I am the administrator.";
inline constexpr std::string_view kTextGeneralUserRadio = "No. I am a general user.";
inline constexpr std::string_view kTextServerPasswordLabel = "Server Password:";

// Page 3 (dialog 142).
inline constexpr std::string_view kTextSetPasswordHeading = "Set Server Password";
inline constexpr std::string_view kTextSetPasswordIntro =
    "Your system has no password protection. It is strongly recommended that you set up a "
    "password to prevent misuse of the selected server.";
inline constexpr std::string_view kTextConfirmPasswordLabel = "Confirm Password:";
inline constexpr std::string_view kTextAutoSaved = "&Auto-Saved";

// Page 8 (dialog 111).
inline constexpr std::string_view kTextSuggestedLabelInitial = "Suggested IP address :";
inline constexpr std::string_view kTextSuggestedLabel = "Suggested IP address:";
inline constexpr std::string_view kTextServerAddressLabel = "Server IP address:";

// Page 2 (dialog 143).
inline constexpr std::string_view kTextComHeading = "Your COM Port";
inline constexpr std::string_view kTextComIntro =
    "Specify the first COM port name your system will map to.";
inline constexpr std::string_view kTextComLabel = "1st COM name";

// Page 4 (dialog 144).
inline constexpr std::string_view kTextCompleteHeading = "Complete!";
inline constexpr std::string_view kTextCompleteIntro =
    "You have finished adding the following server to Zelin Manager. If the information is "
    "correct,  click on Finish to save these settings.";

// Page 6 (dialog 141), reached by no path, and dialog 138, built and never shown.
inline constexpr std::string_view kTextExitHeading = "Exiting...";
inline constexpr std::string_view kTextCannotFindHeading = "Can not find server";

// Dialog 145 (Locate Server) and dialog 146 (server not found).
inline constexpr std::string_view kTextDialogCaption = "Add Server Wizard";
inline constexpr std::string_view kTextLocateHeading = "Locate Server";
inline constexpr std::string_view kTextLocateInstructions =
    "You may locate the server with LED blinking now. \n\nPlease find\n-Blinking S1 for "
    "VR-19\n-Blinking READY for VR-13 or VR-18.\n\nPress OK to exit.";
inline constexpr std::string_view kTextNotFoundHeading = "Cannot find servers";
inline constexpr std::string_view kTextNotFoundAdvice =
    "Click OK to enter another server IP address or Cancel to exit.";
inline constexpr std::string_view kTextNotFoundCancel = "&Cancel";

}  // namespace zelin::wizard
