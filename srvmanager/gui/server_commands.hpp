#pragma once
// ServerCommands: the server commands whose windows live outside the main window
// (Server Properties, Replace Server, Upgrade Firmware). The program hands them to
// MainWindow's constructor, as it hands it the wizard runner. The window calls a
// command with the document and itself; a command returns true when it changed the
// model (the window then relabels or rebuilds its views). An empty command does
// nothing. GUI thread only.

#include <functional>

class QWidget;

namespace zelin::manager {

class ManagerDocument;

struct ServerCommands {
  std::function<bool(ManagerDocument&, QWidget*)> server_properties;
  std::function<bool(ManagerDocument&, QWidget*)> replace_server;
  std::function<bool(ManagerDocument&, QWidget*)> upgrade_firmware;
};

}  // namespace zelin::manager
