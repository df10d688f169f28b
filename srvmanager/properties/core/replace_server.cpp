#include "srvmanager/properties/core/replace_server.hpp"

#include <algorithm>

#include "protocol/address.hpp"
#include "protocol/address_search.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/access_table.hpp"
#include "srvmanager/properties/core/manager_links.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {
namespace {

constexpr Ipv4 kHostMask = 0xFFFFFFFFu;
constexpr int kMaxAddressTries = 255;

bool NeedsGenericName(const std::string& name) {
  return name.empty() || name[0] == ' ' || name == "KivoServer";
}

}  // namespace

ReplaceServerDialog::ReplaceServerDialog(PropertiesHost& host, int server_index)
    : host_(host), server_index_(server_index) {}

std::vector<std::string> ReplaceServerDialog::Columns() {
  return {"            Name           ", "     IP address    ", "Serial No."};
}

void ReplaceServerDialog::Find() {
  rows_.clear();
  selected_ = -1;
  scratch_ = ServerList{};
  if (server_index_ < 0 || server_index_ >= host_.count()) return;
  SearchServers(host_.transport(), scratch_, 1);
  if (scratch_.count == 0) return;
  const DeviceType model = host_.server(server_index_).device_type;
  for (int i = 0; i < scratch_.count; ++i) {
    ServerRecord& r = scratch_.records[static_cast<size_t>(i)];
    if (r.device_type() != model) continue;
    bool configured = false;
    for (int s = 0; s < host_.count() && !configured; ++s)
      configured = host_.server(s).serial_number == r.serial_number();
    if (configured) continue;
    if (NeedsGenericName(r.name())) r.set_name(Format("Server%d", r.serial_number()));
    rows_.push_back(
        {r.name(), AddressToText(r.ip_address()), std::to_string(r.serial_number()), i});
  }
  if (!rows_.empty()) selected_ = 0;
}

void ReplaceServerDialog::SelectRow(int row) {
  selected_ = row >= 0 && row < static_cast<int>(rows_.size()) ? row : -1;
}

bool ReplaceServerDialog::EntryHasAddress(Ipv4 address, bool skip_replaced) const {
  for (int s = 0; s < host_.count(); ++s) {
    if (skip_replaced && s == server_index_) continue;
    if (host_.server(s).ip_address == address) return true;
  }
  return false;
}

bool ReplaceServerDialog::ResolveAddressConflict(ServerRecord& chosen) {
  auto conflict = [&] { return (chosen.flags() & wire::kFlagAddressConflict) != 0; };
  if (!EntryHasAddress(chosen.ip_address(), false) && !conflict()) return true;
  Transport& t = host_.transport();
  switch (SearchFreeAddress(t, chosen, kMaxAddressTries, 1, AfterLastHost::kNetwork,
                            [this](Ipv4 a) { return EntryHasAddress(a, true); })) {
    case FreeAddressResult::kFound:
      return true;
    case FreeAddressResult::kCommandFailed:
      host_.prompter().Message(kPsConflictCheckFailed, MsgButtons::Ok, MsgIcon::Error);
      return false;
    case FreeAddressResult::kNoneFree:
      break;
  }
  host_.prompter().Message(kPsNoFreeAddress, MsgButtons::Ok, MsgIcon::Error);
  return false;
}

bool ReplaceServerDialog::GrantHostAccess(ServerRecord& chosen, ServerConfig& entry) {
  const Ipv4 host = chosen.host_address();
  bool granted = false;
  if (host_.installation_type() == kSingleHost) {
    chosen.access_table.fill(AccessEntry{});
    chosen.access_table[0] = AccessEntry{host, kHostMask, 0xFFFF};
    chosen.access_total = chosen.access_count = 1;
    chosen.access_start = 0;
    granted = true;
  } else if (entry.write_state != kWriteNever) {
    if (entry.tables_changed == 0) {
      Transport& t = host_.transport();
      if (!ReadServerTables(t, chosen)) {
        host_.prompter().Message(kPsReadTablesFailed, MsgButtons::Ok, MsgIcon::Error);
        return false;
      }
      entry.tables_changed = 1;
    }
    if (FindAccessEntry(chosen, host, kHostMask) < 0) {
      if (!MergeAccessPorts(chosen, host, kHostMask, host, kHostMask, 0xFFFF, true)) {
        host_.prompter().Message(kPsAccessTableFull, MsgButtons::Ok, MsgIcon::Warning);
        return false;
      }
      granted = true;
    }
  }
  // Every port the server has becomes mappable, except its WAN ports.
  if (granted) MakePortsMappable(chosen, static_cast<size_t>(RecordPortCount(chosen)));
  return true;
}

bool ReplaceServerDialog::Ok() {
  Transport& t = host_.transport();
  Prompter& prompter = host_.prompter();
  if (selected_ < 0 || selected_ >= static_cast<int>(rows_.size())) {
    prompter.Message(ManagerString(kStrSelectServerFirst), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  const int scratch_index = rows_[static_cast<size_t>(selected_)].record;
  ServerRecord& scratch_record = scratch_.records[static_cast<size_t>(scratch_index)];
  // Work on copies: the document's tables and the entry change only once every step
  // that can fail has passed.
  ServerConfig entry = host_.server(server_index_);
  // The manager's password dialog, asked at once (nothing stored is tried first).
  if (!host_.RequestServerPassword(scratch_record, 0, entry)) return false;
  ServerRecord chosen = scratch_record;
  if (!ResolveAddressConflict(chosen)) return false;
  // Keep the exchange state the checks advanced, so the copy kept as found stays usable.
  scratch_record.sequence = chosen.sequence;
  scratch_record.nonce = chosen.nonce;

  if (chosen.device_type() != entry.device_type) {
    prompter.Message(ManagerString(kStrDeviceTypeMismatch), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }

  // Take over the identity.
  entry.set_password(chosen.password);
  entry.serial_number = chosen.serial_number();
  chosen.set_name(entry.name());
  chosen.set_ip_address(entry.ip_address);
  chosen.set_netmask(entry.netmask);

  if (!GrantHostAccess(chosen, entry)) return false;
  RefreshPortStatus(chosen);

  bool dhcp_warning = false;
  if (RecordHasDhcp(chosen)) {
    // A record fresh from the search does not know the setting yet: ask the server.
    // When it cannot tell, the setting is disabled all the same, since the replacement
    // must keep the old server's fixed address.
    if (chosen.dhcp == wire::kDhcpQuery && !Command(t, chosen, wire::kDhcp, 1))
      chosen.dhcp = wire::kDhcpQuery;
    if (chosen.dhcp != 0) {
      chosen.dhcp = 0;
      dhcp_warning = true;
    }
  }

  // Commit: the chosen server joins the found-server table (as found in the saved copy).
  ServerList& found = host_.found();
  ServerList& saved = host_.saved_found();
  int index = found.FindSerial(chosen.serial_number());
  if (index < 0) {
    if (found.count >= static_cast<int>(kMaxServers)) {
      prompter.Message(kPsFoundTableFull, MsgButtons::Ok, MsgIcon::Warning);
      return false;
    }
    index = found.count++;
  }
  found.records[static_cast<size_t>(index)] = chosen;
  saved.records[static_cast<size_t>(index)] = scratch_record;
  saved.count = std::max(saved.count, found.count);
  host_.server(server_index_) = entry;
  chosen_found_index_ = index;

  if (dhcp_warning)
    prompter.Message(ManagerString(kStrReplaceDhcpWarning), MsgButtons::Ok, MsgIcon::Warning);
  return true;
}

}  // namespace zelin::manager
