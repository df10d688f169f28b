#include "srvmanager/core/command_rules.hpp"

namespace zelin::manager {

bool CommandRules::IsEnabled(int command, ActiveView view) const {
  command = MainCommandOf(command);
  if (command == kCmdAddServerWizard) return true;
  if (command == kCmdSaveConfiguration) return tables_.modified();
  const int server = tree_.selected_server();
  const bool server_item = tree_.selected_item() >= 0 && server >= 0;
  const bool online = server_item && tree_.selected_record() != nullptr;
  if (view == ActiveView::Tree) {
    switch (command) {
      case kCmdDeleteServer:
        return server_item;
      case kCmdServerProperties:
        return online;
      case kCmdUpgradeFirmware:
        return online && tables_.server(server).write_state == kWriteWhenChanged;
      case kCmdReplaceServer:
        return server_item && !online && installation_type_ == kSingleHost;
      default:
        return false;
    }
  }
  // Port list active.
  const ServerRecord* rec = tree_.selected_record();
  const int port = tree_.selected_port();
  if (rec == nullptr || port < 0 || server < 0) return false;
  if (port >= PortsOf(tables_.server(server))) return false;
  const auto pi = static_cast<size_t>(port);
  const uint8_t status = rec->port_kind(pi);
  switch (command) {
    case kCmdMapPort:
      return status == kPortMappable;
    case kCmdUnMapPort:
      if (tables_.server(server).port_mapped[pi] == 0) return false;
      return status == kPortMappable ||
             (installation_type_ == kCustom && status != kPortWan && status != kPortNoAccess);
    default:
      return false;
  }
}

bool CommandRules::IsContextEnabled(int command) const {
  // Menu 133 follows the tree's rules for the item under the mouse; menu 139 holds
  // only the Add Server Wizard.
  switch (MainCommandOf(command)) {
    case kCmdDeleteServer:
    case kCmdServerProperties:
    case kCmdReplaceServer:
    case kCmdUpgradeFirmware:
    case kCmdAddServerWizard:
      return IsEnabled(command, ActiveView::Tree);
    default:
      return false;
  }
}

}  // namespace zelin::manager
