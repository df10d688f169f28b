#pragma once
// The manager's command identifiers and the menus that carry them.

#include "store/installation_type.hpp"  // the installation types the enabling rules read

namespace zelin::manager {

enum CommandId : int {
  kCmdAddServerWizard = 32782,
  kCmdDeleteServer = 32783,
  kCmdServerProperties = 32784,
  kCmdMapPort = 32785,  // also "Port Properties"
  kCmdUnMapPort = 32786,
  kCmdUpgradeFirmware = 32787,
  kCmdSaveConfiguration = 32790,
  kCmdReplaceServer = 32804,
  // The tree's server context menu (menu 133) runs the same operations.
  kCmdCtxUpgradeFirmware = 32806,
  kCmdCtxDeleteServer = 32811,
  kCmdCtxServerProperties = 32812,
  kCmdCtxReplaceServer = 32813,
};

// The context menu ids map to the main menu's operations.
inline int MainCommandOf(int id) {
  switch (id) {
    case kCmdCtxDeleteServer:
      return kCmdDeleteServer;
    case kCmdCtxServerProperties:
      return kCmdServerProperties;
    case kCmdCtxReplaceServer:
      return kCmdReplaceServer;
    case kCmdCtxUpgradeFirmware:
      return kCmdUpgradeFirmware;
    default:
      return id;
  }
}

enum class ActiveView { Tree, PortList };

}  // namespace zelin::manager
