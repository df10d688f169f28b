#include "mapwizard/core/assign_address_page.hpp"

#include <algorithm>
#include <memory>

#include "mapwizard/core/strings.hpp"
#include "protocol/address.hpp"
#include "protocol/discovery.hpp"

namespace zelin::wizard {

bool IsUsableServerAddress(std::string_view text) {
  if (!IsValidAddressText(text)) return false;
  const Ipv4 a = TextToAddress(text);
  return a != 0 && a != kBroadcastAddress;
}

void AssignAddressPage::SetAddressText(std::string_view text) {
  address_text_ = std::string(text.substr(0, kAssignAddressEditLimit));
}

Step AssignAddressPage::Next() {
  if (!IsUsableServerAddress(address_text_)) {
    ctx_.Say(kStrInvalidAddress);
    return Step::Stay();
  }
  if (ctx_.table_full()) {
    ctx_.Say(kTextTableFull);
    return Step::Stay();
  }
  const Ipv4 address = TextToAddress(address_text_);
  // The probe refreshes the name and port kinds of a server already in the list. A
  // configured server's record holds the user's unsaved edits, so the probe runs on a
  // copy that replaces the list only when it found a server to add.
  const auto probed = std::make_unique<ServerList>(ctx_.found());
  int index = -1;
  {
    WaitCursor wait(ctx_.prompter());
    index = ProbeAddressRetry(ctx_.transport(), *probed, address, kCommandTimeout).value_or(-1);
  }
  if (index < 0 || index >= std::min(probed->count, static_cast<int>(kMaxServers))) {
    const bool again = ctx_.dialogs().ShowNotFound(
        Format("The select server %s cannot be found on your network", address_text_.c_str()));
    return again ? Step::Stay() : Step::End();
  }
  if (ctx_.SerialConfigured(probed->records[static_cast<size_t>(index)].serial_number())) {
    ctx_.Say(kStrAlreadyAdded);
    return Step::Stay();
  }
  ctx_.found() = *probed;
  ServerRecord& r = ctx_.found().records[static_cast<size_t>(index)];
  if (!ctx_.Stage(r)) return Step::Stay();

  WizardState& s = ctx_.state;
  s.selected = index;
  s.found_address = r.ip_address();
  s.manual_entry = true;
  s.conflict = (r.flags() & wire::kFlagAddressConflict) != 0;
  for (int i = 0; i < ctx_.found_count(); ++i) {
    if (i != index && ctx_.found().records[static_cast<size_t>(i)].ip_address() == s.found_address)
      s.conflict = true;
  }

  // Grant every port by the server's own address.
  if (ctx_.single_host())
    GrantOnlyAccess(r, r.ip_address());
  else
    EnsureHostAccess(r, r.ip_address());
  return ctx_.AfterServerChosen();
}

}  // namespace zelin::wizard
