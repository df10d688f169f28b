#include "srvmanager/properties/core/properties_strings.hpp"

#include "protocol/address.hpp"

namespace zelin::manager {

std::string DownloadingText(std::string_view name, int serial, Ipv4 address) {
  return Format(
      "Server Name : %.*s \n\nSerial No.: %d\n\nServer IP address : %s \n\n\tDownloading...",
      static_cast<int>(name.size()), name.data(), serial, AddressToText(address).c_str());
}

std::string UpgradingText(std::string_view name, int serial, Ipv4 address) {
  return Format(
      "Server Name : %.*s \n\nSerial No.: %d\n\nServer IP address : %s \n\nServer is upgrading, "
      "Please wait...",
      static_cast<int>(name.size()), name.data(), serial, AddressToText(address).c_str());
}

}  // namespace zelin::manager
