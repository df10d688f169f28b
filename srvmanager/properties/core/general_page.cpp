#include "srvmanager/properties/core/general_page.hpp"

#include "protocol/address.hpp"
#include "protocol/device_text.hpp"
#include "srvmanager/properties/core/host.hpp"
#include "srvmanager/properties/core/manager_links.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {

GeneralPage::GeneralPage(Prompter& prompter, int installation_type, ServerConfig& entry,
                                   ServerRecord& record)
    : SheetPage(prompter),
      entry_(entry),
      record_(record),
      address_read_only_(installation_type == kSingleHost),
      dhcp_capable_(RecordHasDhcp(record)) {
  serial_text = std::to_string(entry.serial_number);
  name = entry.name();
  address_text = AddressToText(entry.ip_address);
  netmask_text = AddressToText(entry.netmask);
  dhcp_enable = record.dhcp != 0;
}

bool GeneralPage::Validate() {
  if (!IsDeviceText(name)) {
    prompter_.Message(kDeviceTextRefused, MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  if (IsValidAddressText(address_text) && IsValidAddressText(netmask_text)) return true;
  prompter_.Message(ManagerString(kStrInvalidAddress), MsgButtons::Ok, MsgIcon::Warning);
  return false;
}

void GeneralPage::OnOk() {
  const Ipv4 address = TextToAddress(address_text);
  const Ipv4 netmask = TextToAddress(netmask_text);
  const std::string n = name.substr(0, kNameMaxLength);
  entry_.ip_address = address;
  entry_.netmask = netmask;
  record_.set_ip_address(address);
  record_.set_netmask(netmask);
  if (IsDeviceText(n)) {  // Validate refuses any other name; never store one unchecked
    entry_.set_name(n);
    record_.set_name(n);
  }
  record_.dhcp = dhcp_enable ? 1 : 0;
}

}  // namespace zelin::manager
