#pragma once
// The Server Properties command and its sheet.
//
// PropertySheet ("Server Properties", OK and Cancel, no Apply) holds the pages for
// the installation type: General and Password always, Access Control for Multi-Host
// and Custom, Advanced for Custom. A page is validated when it is left and when OK is
// pressed on it; OK runs the OK step of every page that has been shown.
//
// ServerPropertiesCommand::Run logs in, reads what only the server holds (the DHCP
// setting, and for Multi-Host and Custom the route and access tables) the first time
// since the last save, keeps a copy of the found-server record, shows the sheet, and
// restores the record on Cancel. Nothing is sent to the server while the sheet is open.
//
// Borrows everything it is given; GUI thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/prompter.hpp"
#include "protocol/types.hpp"
#include "srvmanager/properties/core/access_control_page.hpp"
#include "srvmanager/properties/core/advanced_page.hpp"
#include "srvmanager/properties/core/general_page.hpp"
#include "srvmanager/properties/core/host.hpp"
#include "srvmanager/properties/core/password_page.hpp"
#include "store/server_config.hpp"

namespace zelin::manager {

enum class PageKind { kGeneral, kPassword, kAccessControl, kAdvanced };

class PropertySheet {
 public:
  PropertySheet(Prompter& prompter, int installation_type, ServerConfig& entry,
                   ServerRecord& record, PropertyDialogs& dialogs);

  static std::string_view Caption();
  int page_count() const { return static_cast<int>(pages_.size()); }
  PageKind page_kind(int index) const { return pages_[static_cast<size_t>(index)]; }
  static std::string_view PageTitle(PageKind kind);

  int active_page() const { return active_; }
  bool shown(int index) const { return shown_[static_cast<size_t>(index)]; }
  // Leaves the active page for `index`; false (staying) when the active page refuses.
  bool SetActivePage(int index);
  // Validates the active page, then runs the OK step of every page shown. False when
  // the active page refuses (the sheet stays open).
  bool Ok();

  GeneralPage& general() { return general_; }
  PasswordPage& password() { return password_; }
  AccessControlPage* access_control() { return access_.get(); }
  AdvancedPage* advanced() { return advanced_.get(); }

 private:
  SheetPage& page(int index);

  GeneralPage general_;
  PasswordPage password_;
  std::unique_ptr<AccessControlPage> access_;
  std::unique_ptr<AdvancedPage> advanced_;
  std::vector<PageKind> pages_;
  std::vector<bool> shown_;
  int active_ = 0;
};

struct PropertiesOutcome {
  bool opened = false;         // the sheet was shown
  bool accepted = false;       // closed with OK
  bool mark_modified = false;  // the document is to be marked modified
  std::string tree_label;      // "%s(%s)" for the server's tree item after OK
};

class ServerPropertiesCommand {
 public:
  ServerPropertiesCommand(PropertiesHost& host, PropertyDialogs& dialogs);

  // For server entry `server_index` and its found-server record `found_index` (-1 when
  // the server was not found).
  PropertiesOutcome Run(int server_index, int found_index);

 private:
  bool ReadServerSettings(ServerConfig& entry, ServerConfig* saved_entry, ServerRecord& record);

  PropertiesHost& host_;
  PropertyDialogs& dialogs_;
};

}  // namespace zelin::manager
