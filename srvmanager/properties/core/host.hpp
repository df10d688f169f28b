#pragma once
// What the property commands need from the manager: its transport and prompter,
// installation type, the found-server table with its saved copy, the configured servers with
// their saved copies, the password check and change detection. The manager's
// document stands behind it (DocumentHost); tests may use a table of their own.
//
// The commands borrow the host for one call; it must outlive them. GUI thread only.

#include <cstdint>

#include "platform/prompter.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"
#include "store/installation_type.hpp"
#include "store/server_config.hpp"

namespace zelin::manager {

class PropertiesHost {
 public:
  virtual ~PropertiesHost() = default;

  virtual Transport& transport() = 0;
  virtual Prompter& prompter() = 0;
  virtual int installation_type() const = 0;

  // The found-server table and its copy as last loaded or saved.
  virtual ServerList& found() = 0;
  virtual ServerList& saved_found() = 0;
  // The configured servers (count() valid entries) and their saved copies.
  virtual int count() const = 0;
  virtual ServerConfig& server(int index) = 0;
  // The saved copy of server entry `index` (found by serial number), or nullptr when
  // the entry has not been saved yet.
  virtual ServerConfig* saved_server(int index) = 0;

  // Whether the password check tries the entry's password before asking (non-zero):
  // the flags of the entry's saved copy, or the saved-password bit when the server
  // accepted the entry's password earlier in this run.
  virtual uint16_t PasswordFlags(int server_index) = 0;
  // The password check that comes before any command to a server: true when the
  // server accepted a password (a typed one is copied into entry's password).
  virtual bool RequestServerPassword(ServerRecord& record, uint16_t saved_flags,
                                     ServerConfig& entry) = 0;
  // Change detection: true when the entry's found-server record differs from its
  // saved copy (or a password change is pending).
  virtual bool ServerChanged(int server_index) = 0;
};

class PropertySheet;
class GrantAccessIpDialog;
class AddPortDialog;
class GatewaySettingsDialog;

// Shows the sheet and the small dialogs that the pages open. Each Run returns true
// when the user closed the dialog with OK and the dialog's model accepted it (its
// Ok() returned true); false for Cancel. The Qt forms are in gui/; tests script them.
class PropertyDialogs {
 public:
  virtual ~PropertyDialogs() = default;
  virtual bool RunSheet(PropertySheet& sheet) = 0;
  virtual bool RunGrantAccessIp(GrantAccessIpDialog& dialog) = 0;
  virtual bool RunAddPort(AddPortDialog& dialog) = 0;
  virtual bool RunGatewaySettings(GatewaySettingsDialog& dialog) = 0;
};

}  // namespace zelin::manager
