#pragma once
// Page 7: the server given by its address ("Define Zelin Server"), for multi-host and
// custom installations. Next probes the address and stages the server that answers.

#include <string>

#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

class AssignAddressPage {
 public:
  explicit AssignAddressPage(WizardContext& ctx) : ctx_(ctx) {}

  // The edit's text, cut to kAssignAddressEditLimit characters.
  void SetAddressText(std::string_view text);
  const std::string& address_text() const { return address_text_; }

  Step Next();
  Step Back() const { return Step::Go(kPageServerList); }

 private:
  WizardContext& ctx_;
  std::string address_text_;
};

// True when `text` is an address the wizard may send to: a valid address text that is
// neither the empty field "...", 0.0.0.0 nor 255.255.255.255.
bool IsUsableServerAddress(std::string_view text);

}  // namespace zelin::wizard
