#pragma once
// GeneralPage, the "General" page: serial number, server name, IP address,
// netmask and the DHCP radios of the selected server. The values start from the
// server entry (and the DHCP flag of the found-server record); Validate runs when
// the page is left or the sheet's OK is pressed, OnOk writes the values back.
//
// Borrows the prompter, the entry and the record; they outlive the page.

#include <cstddef>
#include <string>

#include "platform/prompter.hpp"
#include "srvmanager/properties/core/sheet_page.hpp"
#include "protocol/types.hpp"
#include "store/server_config.hpp"

namespace zelin::manager {

class GeneralPage : public SheetPage {
 public:
  static constexpr size_t kNameMaxLength = 29;
  static constexpr size_t kAddressMaxLength = 30;

  GeneralPage(Prompter& prompter, int installation_type, ServerConfig& entry,
                   ServerRecord& record);

  // Control values (the edits limit their length to the constants above).
  std::string serial_text;
  std::string name;
  std::string address_text;
  std::string netmask_text;
  bool dhcp_enable = false;

  // The address and netmask edits are read-only in a Single-Host installation.
  bool address_read_only() const { return address_read_only_; }
  // Both DHCP radios are disabled unless the model carries a DHCP setting.
  bool dhcp_radios_enabled() const { return dhcp_capable_; }

  // The name must be printable ASCII (otherwise kDeviceTextRefused and false), then
  // both address texts must be valid (otherwise "Invalid IP address!" and false).
  bool Validate() override;
  // Stores address, netmask and name in the entry and the record, and the DHCP flag;
  // a name Validate would refuse is left as it was.
  void OnOk() override;

 private:
  ServerConfig& entry_;
  ServerRecord& record_;
  bool address_read_only_;
  bool dhcp_capable_;
};

}  // namespace zelin::manager
