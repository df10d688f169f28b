#include "srvmanager/core/strings.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/text_table.hpp"
#include "protocol/shared_texts.hpp"
#include "srvmanager/core/commands.hpp"

namespace zelin::manager {
namespace {

constexpr NumberedText kStrings[] = {
    {kStrSocketsInitFailed, "Windows sockets initialization failed."},
    {kStrTransportOpenError, "Network port open error or being occupied!"},
    {kStrLoadStoreFailed,
     "Fail to load Zelin parameter from registery! Please reinstall Zelin Server software! \n"},
    {kStrServerSaveFailed, "Fail to save parameters to Zelin Server!"},
    {kStrTreeRoot, "Zelin Server Pro"},
    {kStrRestartWarning,
     "Warning!! Save the changes will restart the COM port/Zelin Server. Before saving the "
     "changes, you must shutdown all programs which use the Zelin Server Pro's COM port. If not, "
     "the changes will take affect until next reboot.\nDo you want to continue to save change?"},
    {kStrPortColumns, "     Port      ,     COM         , Status           "},
    {kStrConfirmDelete, "Do you really want to delete this server?"},
    {kStrSelectServerFirst, "Please select server first!"},
    {kStrPasswordError, "Password error!"},
    {kStrSaveBeforeExit, "You have changed Zelin configuration. Do you want to save before exit?"},
    texts::kComLimitExceeded,
    {kStrGetInterfaceError, "Get Interface Error!"},
    // Command strings: fly-by text, then the tool tip after "\n".
    {kCmdAddServerWizard, "Add a server from network\nAdd Server"},
    {kCmdDeleteServer, "Delete a server \nDelete Server"},
    {kCmdServerProperties, "Server/Port properties\nProperties"},
    {kCmdMapPort, "Map Port\nMap Port"},
    {kCmdUnMapPort, "Unmap port\nUnmap port"},
    {kCmdUpgradeFirmware, "Upgrade server firmware\nUpgrade Firmware"},
    {kCmdSaveConfiguration, "Save parameters to all server\nSave all Server"},
    // Server Properties, Replace Server and Upgrade Firmware.
    {kStrSheetCaption, "Server Properties"},
    {kStrUpgradeCaption, "Zelin Server Upgrade"},
    {kStrReplaceDhcpWarning,
     "Warning ! For replacing server, this Zelin Server's DHCP mode will be disabled. Before "
     "re-enable this Zelin Server's DHCP mode, you should check this Zelin Port Server 's MAC "
     "address and re-configure your DHCP server."},
    {kStrUpgradeOk, "Upgrade server firmware OK!"},
    {kStrUpgradeFail, "Upgrade server firmware Fail!"},
    {kStrPasswordMismatch,
     "Fail to change server password! New password and new password confirmation don't match!"},
    {kStrNoServer, "No server exists on your network!"},
    {kStrWrongCurrentPassword, "You have input a error Current Password!"},
    {kStrPasswordSpace,
     "Bad Password : No SPACE character is allowed in Server password.\nPlease try again!"},
    {kStrDeviceTypeMismatch, "Device type no match!"},
    texts::kInvalidAddress,
    {kStrGetDhcpError, "Get DHCP Error!"},
};

}  // namespace

std::string_view ManagerString(int id) {
  return FindText(kStrings, id);
}

std::string_view CommandStatusText(int command_id) {
  const std::string_view s = ManagerString(command_id);
  return s.substr(0, s.find('\n'));
}

std::string_view CommandToolTip(int command_id) {
  const std::string_view s = ManagerString(command_id);
  const size_t nl = s.find('\n');
  return nl == std::string_view::npos ? std::string_view{} : s.substr(nl + 1);
}

std::string PortNumberText(int one_based_port) {
  return Format("%4d", one_based_port);
}

std::string ComNameText(int stored_com) {
  return Format("COM%d", stored_com == 0 ? 256 : stored_com);
}

std::string_view PortStatusText(int status_code) {
  switch (status_code) {
    case 2:
      return "Available";
    case 18:
      return "Non-authorize";
    default:
      return "Not Available";
  }
}

std::string PasswordDialogText(std::string_view name, int serial, std::string_view address) {
  return Format("Server Name : %.*s \n\nSerial No. : %d\n\nIP address : %.*s",
                static_cast<int>(name.size()), name.data(), serial,
                static_cast<int>(address.size()), address.data());
}

std::string MapPortLabel(int one_based_port, std::string_view server_name) {
  return Format("Port %d at %.*s", one_based_port, static_cast<int>(server_name.size()),
                server_name.data());
}

std::string ConflictSameServer(std::string_view server, int port, int other_port) {
  return Format("Server [%.*s] port %d COM name conflict with port %d",
                static_cast<int>(server.size()), server.data(), port, other_port);
}

std::string ConflictOtherServer(std::string_view server, int port, int com,
                                std::string_view other_server, int other_port) {
  return Format("Server [%.*s] port %d COM%d conflict with server [%.*s] port %d",
                static_cast<int>(server.size()), server.data(), port, com,
                static_cast<int>(other_server.size()), other_server.data(), other_port);
}

std::string AdoptOffer(std::string_view name, std::string_view address, int serial,
                       int found_serial) {
  const int n = static_cast<int>(name.size());
  return Format(
      "Cannot find server %.*s with IP address %.*s, Serial Number:%d\nHowever, another server "
      "is found with same IP address but different serial number:%d\nIf you want to use the "
      "current server with the %.*s configuration, you may click OK to continue. Be sure to "
      "check with all configurations to ensure correct accessing.",
      n, name.data(), static_cast<int>(address.size()), address.data(), serial, found_serial, n,
      name.data());
}

std::string ServerWriteFailed(std::string_view name, std::string_view address, int code) {
  const std::string_view what = ManagerString(kStrServerSaveFailed);
  return Format("Server Name : %.*s\n\nIP Address : %.*s\n\n%.*s Error(%d)",
                static_cast<int>(name.size()), name.data(), static_cast<int>(address.size()),
                address.data(), static_cast<int>(what.size()), what.data(), code) +
         "\n\n" + std::string(kServerKeptOldSettings);
}

}  // namespace zelin::manager
