#include "srvmanager/core/wizard_bridge.hpp"

#include <algorithm>

namespace zelin::manager {

WizardArguments& WizardBridge::Arguments() {
  for (int i = 0; i < Transport::kSlots; ++i) {
    sockets_[static_cast<size_t>(i)] = transport_.socket(i);
    addresses_[static_cast<size_t>(i)] = transport_.local_address(i);
  }
  args_ = WizardArguments{sockets_.data(),
                          transport_.interface_count(),
                          addresses_.data(),
                          &tables_.found_,
                          &tables_.saved_found_,
                          tables_.servers_.data(),
                          tables_.saved_servers_.data(),
                          &tables_.count_};
  return args_;
}

void WizardBridge::WizardReturned(int result) {
  if (result != 0) tables_.modified_ = true;
  int& count = tables_.count_;
  count = std::clamp(count, 0, ServerTables::kCapacity);
  if (result != 0 && count > 0) {
    // The wizard gives the new entry the password it logged in with, and its saved slot
    // the same password with the server's flags (a general user's slot gets flags 0).
    const ServerConfig& added = tables_.server(count - 1);
    const ServerConfig& slot = tables_.saved_server(count - 1);
    if (slot.flags != 0 && !added.password().empty() && slot.password() == added.password())
      passwords_.Remember(added.serial_number, added.password());
  }
  ServerList& found = tables_.found_;
  ServerList& saved_found = tables_.saved_found_;
  found.count = std::clamp(found.count, 0, static_cast<int>(kMaxServers));
  saved_found.count = std::clamp(saved_found.count, 0, static_cast<int>(kMaxServers));
  tree_.BuildTree();
}

}  // namespace zelin::manager
