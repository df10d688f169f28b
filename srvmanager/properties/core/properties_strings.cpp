#include "srvmanager/properties/core/properties_strings.hpp"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "protocol/address.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

struct Entry {
  int id;
  std::string_view text;
};

constexpr Entry kStrings[] = {
    {kPsSheetCaption, "Server Properties"},
    {kPsUpgradeCaption, "Zelin Server Upgrade"},
    {kPsReplaceDhcpWarning,
     "Warning ! For replacing server, this Zelin Server's DHCP mode will be disabled. Before "
     "re-enable this Zelin Server's DHCP mode, you should check this Zelin Port Server 's MAC "
     "address and re-configure your DHCP server."},
    {kPsUpgradeOk, "Upgrade server firmware OK!"},
    {kPsUpgradeFail, "Upgrade server firmware Fail!"},
    {kPsPasswordMismatch,
     "Fail to change server password! New password and new password confirmation don't match!"},
    {kPsNoServer, "No server exists on your network!"},
    {kPsWrongCurrentPassword, "You have input a error Current Password!"},
    {kPsPasswordSpace,
     "Bad Password : No SPACE character is allowed in Server password.\nPlease try again!"},
    {kPsDeviceTypeMismatch, "Device type no match!"},
    {kPsInvalidAddress, "Invalid IP address!"},
    {kPsGetDhcpError, "Get DHCP Error!"},
};

}  // namespace

std::string_view PropertiesString(int id) {
  for (const auto& e : kStrings)
    if (e.id == id) return e.text;
  // Strings the manager's other commands share ("Please select server first!",
  // "Password error!") live in its table.
  return ManagerString(id);
}

std::string PsFormat(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

std::string PasswordDialogText(std::string_view name, int serial, Ipv4 address) {
  const std::string n(name);
  return PsFormat("Server Name : %s \n\nSerial No. : %d\n\nIP address : %s", n.c_str(), serial,
                  AddressToText(address).c_str());
}

std::string DownloadingText(std::string_view name, int serial, Ipv4 address) {
  const std::string n(name);
  return PsFormat(
      "Server Name : %s \n\nSerial No.: %d\n\nServer IP address : %s \n\n\tDownloading...",
      n.c_str(), serial, AddressToText(address).c_str());
}

std::string UpgradingText(std::string_view name, int serial, Ipv4 address) {
  const std::string n(name);
  return PsFormat(
      "Server Name : %s \n\nSerial No.: %d\n\nServer IP address : %s \n\nServer is upgrading, "
      "Please wait...",
      n.c_str(), serial, AddressToText(address).c_str());
}

}  // namespace zelin::manager
