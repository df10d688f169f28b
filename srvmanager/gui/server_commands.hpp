#pragma once
// Hooks for the server commands whose windows live elsewhere: Server Properties,
// Replace Server and Upgrade Firmware. The main frame calls the hook with the
// document and its own window; a hook returns true when it changed the model (the
// frame then relabels or rebuilds its views). Until a hook is installed the command
// does nothing. GUI thread only.

#include <functional>

class QWidget;

namespace zelin::manager {

class ManagerDocument;

struct ServerCommandHooks {
  std::function<bool(ManagerDocument&, QWidget*)> server_properties;
  std::function<bool(ManagerDocument&, QWidget*)> replace_server;
  std::function<bool(ManagerDocument&, QWidget*)> upgrade_firmware;
};

// The process's hooks; the program installs them before the main window opens.
ServerCommandHooks& ServerHooks();

}  // namespace zelin::manager
