#include "mapwizard/core/server_list_page.hpp"

#include <algorithm>
#include <memory>

#include "mapwizard/core/strings.hpp"
#include "protocol/address.hpp"
#include "protocol/address_search.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"

namespace zelin::wizard {

namespace {

// Names that the servers report before anyone named them.
bool IsDefaultName(const std::string& name) {
  return name.empty() || name.front() == ' ' || name == "KivoServer";
}

}  // namespace

void ServerListPage::Fill() {
  rows_.clear();
  selected_row_ = -1;
  ServerList& found = ctx_.found();
  ServerList& saved = ctx_.saved_found();
  // The manager's records of the servers it already has carry what the user edited and
  // has not saved yet, and their saved copies are what Save Configuration compares them
  // with: both come through the search as they were, also for a server that only a
  // directed request reaches (the search does not hear it). The search adds the others.
  const auto held = std::make_unique<ServerList>(found);
  const auto held_saved = std::make_unique<ServerList>(saved);
  const auto answers = std::make_unique<ServerList>();
  {
    WaitCursor wait(ctx_.prompter());
    SearchServers(ctx_.transport(), *answers, kCommandTimeout);
  }
  answered_ = std::clamp(answers->count, 0, static_cast<int>(kMaxServers));
  found.count = 0;
  saved.count = 0;
  const auto append = [&](const ServerRecord& record, const ServerRecord& saved_copy) {
    const auto at = static_cast<size_t>(found.count);
    found.records[at] = record;
    saved.records[at] = saved_copy;
    saved.count = ++found.count;
  };
  const int before = std::clamp(held->count, 0, static_cast<int>(kMaxServers));
  for (int i = 0; i < before; ++i) {
    const ServerRecord& r = held->records[static_cast<size_t>(i)];
    const uint16_t serial = r.serial_number();
    if (!ctx_.SerialConfigured(serial) || found.FindSerial(serial) >= 0) continue;
    const int s = held_saved->FindSerial(serial);
    // A record without a saved copy keeps none (an empty slot), so it still counts as changed.
    append(r, s >= 0 ? held_saved->records[static_cast<size_t>(s)] : ServerRecord{});
  }
  for (int i = 0; i < answered_ && found.count < static_cast<int>(kMaxServers); ++i) {
    const ServerRecord& r = answers->records[static_cast<size_t>(i)];
    if (found.FindSerial(r.serial_number()) < 0) append(r, r);
  }
  const int n = ctx_.found_count();

  for (int i = 0; i < n; ++i) {
    ServerRecord& r = found.records[static_cast<size_t>(i)];
    if (ctx_.SerialConfigured(r.serial_number())) continue;
    if (IsDefaultName(r.name())) r.set_name("Server" + std::to_string(r.serial_number()));
    rows_.push_back({std::string(ModelName(r.device_type())), r.name(),
                     AddressToText(r.ip_address()), std::to_string(r.serial_number()), i});
  }
  if (!rows_.empty()) selected_row_ = 0;
}

void ServerListPage::Activate() {
  Fill();
  if (rows_.empty() && !manual_chosen()) {
    ctx_.Say(answered_ == 0 ? kStrNoServersAnswered : kStrAllServersAdded);
  }
}

void ServerListPage::Find() {
  if (!find_enabled()) return;
  Fill();
}

void ServerListPage::SelectRow(int row) {
  selected_row_ = (row >= 0 && row < static_cast<int>(rows_.size())) ? row : -1;
}

void ServerListPage::ChooseManual() {
  if (ctx_.single_host()) return;
  manual_ = true;
}

void ServerListPage::ChooseExisting() {
  manual_ = false;
}

void ServerListPage::Locate() {
  if (!locate_enabled() || selected_row_ < 0) return;
  const int index = rows_[static_cast<size_t>(selected_row_)].record;
  if (index < 0 || index >= ctx_.found_count()) return;
  ServerRecord& r = ctx_.found().records[static_cast<size_t>(index)];
  bool on = false;
  {
    WaitCursor wait(ctx_.prompter());
    on = Command(ctx_.transport(), r, wire::kLocateOn, kCommandTimeout).ok();
  }
  if (!on) {
    ctx_.Say(kStrCannotLocate);
    return;
  }
  ctx_.dialogs().ShowLocate(
      Format("Name : %s\nIP address : %s\nSerial No : %d",
             r.name().c_str(), AddressToText(r.ip_address()).c_str(), int{r.serial_number()}));
  bool off = false;
  {
    WaitCursor wait(ctx_.prompter());
    off = Command(ctx_.transport(), r, wire::kLocateOff, kCommandTimeout).ok();
  }
  if (!off) ctx_.Say(kStrCannotLocate);
}

Ipv4 ServerListPage::NextCandidate(Ipv4 address) {
  return NextCandidateAddress(address, AfterLastHost::kFirstHost);
}

bool ServerListPage::SearchFreeAddress(ServerRecord& record) {
  WaitCursor wait(ctx_.prompter());
  record.set_ip_address(ctx_.state.found_address);
  const auto result = zelin::SearchFreeAddress(
      ctx_.transport(), record, 255, kCommandTimeout, AfterLastHost::kFirstHost,
      [this](Ipv4 a) { return ctx_.AddressConfigured(a); });
  if (result == FreeAddressResult::kFound) return true;
  record.set_ip_address(ctx_.state.found_address);
  ctx_.Say(result == FreeAddressResult::kCommandFailed ? kTextCheckAddressFailed
                                                        : kTextNoFreeAddress);
  return false;
}

Step ServerListPage::Next() {
  if (manual_chosen()) return Step::Go(kPageAssignAddress);
  if (!next_shown()) return Step::Stay();
  if (selected_row_ < 0) {
    ctx_.Say(kStrSelectServer);
    return Step::Stay();
  }
  if (ctx_.table_full()) {
    ctx_.Say(kTextTableFull);
    return Step::Stay();
  }
  const int index = rows_[static_cast<size_t>(selected_row_)].record;
  if (index < 0 || index >= ctx_.found_count()) return Step::Stay();
  ServerRecord& r = ctx_.found().records[static_cast<size_t>(index)];
  WizardState& s = ctx_.state;
  s.selected = index;
  s.found_address = r.ip_address();
  s.manual_entry = false;
  s.conflict =
      ctx_.AddressConfigured(s.found_address) || (r.flags() & wire::kFlagAddressConflict) != 0;
  if (!r.has_password() && s.conflict && !SearchFreeAddress(r)) return Step::Stay();
  if (!ctx_.Stage(r)) return Step::Stay();
  r.password_change_pending = false;
  return ctx_.AfterServerChosen();
}

}  // namespace zelin::wizard
