#include "mapwizard/core/new_address_page.hpp"

#include "mapwizard/core/assign_address_page.hpp"
#include "mapwizard/core/strings.hpp"
#include "protocol/address.hpp"
#include "protocol/exchange.hpp"

namespace zelin::wizard {

void NewAddressPage::Activate() {
  ServerRecord* r = ctx_.selected_record();
  if (r == nullptr) return;
  address_text_ = AddressToText(r->ip_address());
  if (ctx_.state.conflict) {
    label_ = std::string(kTextSuggestedLabel);
    message_ = Format("Warning Duplicated IP address\n\nServer Name : %s \n IP address : %s\n\n",
                      r->name().c_str(), AddressToText(ctx_.state.found_address).c_str());
    message_ += WizardString(kStrDuplicatedAddress);
  } else {
    label_ = std::string(kTextServerAddressLabel);
    message_ = std::string(WizardString(kStrEnterAddress));
  }
}

void NewAddressPage::SetAddressText(std::string_view text) {
  address_text_ = std::string(text.substr(0, kNewAddressEditLimit));
}

Step NewAddressPage::Next() {
  ServerRecord* r = ctx_.selected_record();
  ServerConfig* staged = ctx_.staged();
  if (r == nullptr || staged == nullptr) return Step::Stay();
  if (!IsUsableServerAddress(address_text_)) {
    ctx_.Say(kStrInvalidAddress);
    return Step::Stay();
  }
  const Ipv4 address = TextToAddress(address_text_);
  r->set_ip_address(address);
  bool ok = false;
  {
    WaitCursor wait(ctx_.prompter());
    ok = Command(ctx_.transport(), *r, wire::kCheckAddress, kCommandTimeout).ok();
  }
  if (!ok) {
    ctx_.Say(kTextCheckAddressFailed);
    return Step::Stay();
  }
  if ((r->flags() & wire::kFlagAddressConflict) == 0) {
    staged->ip_address = address;
    return Step::Go(kPageComMap);
  }
  std::string text = Format("Warning Duplicated IP address\n\nServer Name : %s    IP addr : %s\n",
                            r->name().c_str(), AddressToText(address).c_str());
  text += WizardString(kStrDuplicatedAddress);
  text += "Press OK to go back to previous menu or Cancel to exit.\n";
  return ctx_.StayOrEnd(text);
}

Step NewAddressPage::Back() {
  if (ctx_.has_password()) return Step::Go(kPageMultiPassword);
  if (ServerRecord* r = ctx_.selected_record()) r->set_ip_address(ctx_.state.found_address);
  return Step::Go(kPageServerList);
}

}  // namespace zelin::wizard
