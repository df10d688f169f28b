#pragma once
// Page 4: "Complete!". Shows the summary of the staged server; Finish completes the
// staged entry and the server's record (DHCP byte, access table, port kinds) and adds
// the entry to the caller's table.

#include <string>

#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

class CompletePage {
 public:
  explicit CompletePage(WizardContext& ctx) : ctx_(ctx) {}

  void Activate();
  // "Model : ...", "Server Name : ...", "Ports : COMa-COMb" or "Ports : None",
  // "Server Serial Number : ...", "Server IP : ...", joined by line breaks.
  const std::string& summary() const { return summary_; }

  // True when the entry was added (the wizard then ends with result 1).
  bool Finish();
  Step Back() { return Step::Go(ctx_.has_password() ? kPageComMap : kPageSetPassword); }

 private:
  WizardContext& ctx_;
  std::string summary_;
};

}  // namespace zelin::wizard
