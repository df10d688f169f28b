#include "srvmanager/properties/core/property_sheet.hpp"

#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/access_table.hpp"
#include "srvmanager/properties/core/manager_links.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {

// --- the sheet -----------------------------------------------------------------------

PropertySheet::PropertySheet(Prompter& prompter, int installation_type, ServerConfig& entry,
                                   ServerRecord& record, PropertyDialogs& dialogs)
    : general_(prompter, installation_type, entry, record), password_(prompter, entry, record) {
  pages_ = {PageKind::kGeneral, PageKind::kPassword};
  if (installation_type == kMultiHost || installation_type == kCustom) {
    access_ = std::make_unique<AccessControlPage>(prompter, record, dialogs);
    pages_.push_back(PageKind::kAccessControl);
  }
  if (installation_type == kCustom) {
    advanced_ = std::make_unique<AdvancedPage>(prompter, record, dialogs);
    pages_.push_back(PageKind::kAdvanced);
  }
  shown_.assign(pages_.size(), false);
  shown_[0] = true;
}

std::string_view PropertySheet::Caption() {
  return ManagerString(kStrSheetCaption);
}

std::string_view PropertySheet::PageTitle(PageKind kind) {
  return kPsPageTitles[static_cast<size_t>(kind)];
}

SheetPage& PropertySheet::page(int index) {
  switch (page_kind(index)) {
    case PageKind::kGeneral:
      return general_;
    case PageKind::kPassword:
      return password_;
    case PageKind::kAccessControl:
      return *access_;
    case PageKind::kAdvanced:
      break;
  }
  return *advanced_;
}

bool PropertySheet::SetActivePage(int index) {
  if (index < 0 || index >= page_count()) return false;
  if (index == active_) return true;
  if (!page(active_).Validate()) return false;
  active_ = index;
  shown_[static_cast<size_t>(index)] = true;
  return true;
}

bool PropertySheet::Ok() {
  if (!page(active_).Validate()) return false;
  for (int i = 0; i < page_count(); ++i)
    if (shown(i)) page(i).OnOk();
  return true;
}

// --- the command ---------------------------------------------------------------------

ServerPropertiesCommand::ServerPropertiesCommand(PropertiesHost& host, PropertyDialogs& dialogs)
    : host_(host), dialogs_(dialogs) {}

bool ServerPropertiesCommand::ReadServerSettings(ServerConfig& entry, ServerConfig* saved_entry,
                                                 ServerRecord& record) {
  Transport& t = host_.transport();
  ServerList& saved_list = host_.saved_found();
  const int saved_index = saved_list.FindSerial(record.serial_number());
  ServerRecord* saved =
      saved_index >= 0 ? &saved_list.records[static_cast<size_t>(saved_index)] : nullptr;
  record.dhcp = wire::kDhcpQuery;
  if (saved != nullptr) saved->dhcp = wire::kDhcpQuery;
  if (RecordHasDhcp(record)) {
    if (!Command(t, record, wire::kDhcp, 1)) {
      host_.prompter().Message(ManagerString(kStrGetDhcpError), MsgButtons::Ok, MsgIcon::Error);
      return false;
    }
  } else {
    record.dhcp = 1;
  }
  if (saved != nullptr) saved->dhcp = record.dhcp;

  if (host_.installation_type() != kSingleHost) {
    const ServerRecord before = record;
    // A table read only in part would be written back short by the next save (an
    // access list cut short opens the server to every host), so a failed read leaves
    // the tables as they were and the sheet closed.
    if (!ReadServerTables(t, record)) {
      const auto sequence = record.sequence;
      const auto nonce = record.nonce;
      record = before;
      record.sequence = sequence;
      record.nonce = nonce;
      host_.prompter().Message(kPsReadTablesFailed, MsgButtons::Ok, MsgIcon::Error);
      return false;
    }
    if (saved != nullptr) {
      saved->access_total = record.access_total;
      saved->access_start = record.access_start;
      saved->access_count = record.access_count;
      saved->access_table = record.access_table;
      saved->route_total = record.route_total;
      saved->route_start = record.route_start;
      saved->route_count = record.route_count;
      saved->route_table = record.route_table;
    }
  }
  entry.tables_changed = 1;
  if (saved_entry != nullptr) saved_entry->tables_changed = 1;
  return true;
}

PropertiesOutcome ServerPropertiesCommand::Run(int server_index, int found_index) {
  PropertiesOutcome out;
  Prompter& prompter = host_.prompter();
  ServerList& found = host_.found();
  if (server_index < 0 || server_index >= host_.count() || found_index < 0 ||
      found_index >= found.count) {
    prompter.Message(ManagerString(kStrNoServer), MsgButtons::Ok, MsgIcon::Warning);
    return out;
  }
  ServerConfig& entry = host_.server(server_index);
  ServerConfig* saved_entry = host_.saved_server(server_index);
  ServerRecord& record = found.records[static_cast<size_t>(found_index)];
  if (!host_.RequestServerPassword(record, host_.PasswordFlags(server_index), entry)) return out;
  if (entry.tables_changed == 0 && !ReadServerSettings(entry, saved_entry, record)) return out;

  const ServerRecord keep = record;
  PropertySheet sheet(prompter, host_.installation_type(), entry, record, dialogs_);
  out.opened = true;
  if (!dialogs_.RunSheet(sheet)) {
    record = keep;
    return out;
  }
  out.accepted = true;
  out.tree_label = TreeLabel(entry.name(), entry.device_type);
  bool modified = host_.ServerChanged(server_index);
  if (saved_entry == nullptr) {
    modified = true;
  } else {
    modified = modified || entry.flags != saved_entry->flags ||
               entry.port_options != saved_entry->port_options;
  }
  out.mark_modified = modified;
  return out;
}

}  // namespace zelin::manager
