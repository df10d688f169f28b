#pragma once
// The password pages: page 5 (single-host, the server has a password), page 9
// (multi-host and custom, administrator or general user) and page 3 (the server has no
// password; the user may set one). Every password text is cut to 16 characters, as
// the edits take no more. The server reads its password as 16 ASCII bytes, so Next
// refuses any password with characters outside printable ASCII before it logs in or
// stages anything; the page stays and the user is asked to retype it.

#include <string>

#include "mapwizard/core/wizard_context.hpp"

namespace zelin::wizard {

// Page 5: "My Server Password:". Next logs in with it.
class SinglePasswordPage {
 public:
  explicit SinglePasswordPage(WizardContext& ctx) : ctx_(ctx) {}
  void SetPassword(std::string_view p) { password_ = std::string(p.substr(0, kPasswordEditLimit)); }
  const std::string& password() const { return password_; }
  Step Next();
  Step Back() const { return Step::Go(kPageServerList); }

 private:
  WizardContext& ctx_;
  std::string password_;
};

// Page 9: "Yes. I am the administrator." (default, with the password) or "No. I am a
// general user." (the manager will then never write to this server).
class MultiPasswordPage {
 public:
  explicit MultiPasswordPage(WizardContext& ctx) : ctx_(ctx) {}
  void ChooseAdministrator() { administrator_ = true; }
  void ChooseGeneralUser() { administrator_ = false; }
  bool administrator() const { return administrator_; }
  bool password_enabled() const { return administrator_; }
  void SetPassword(std::string_view p) { password_ = std::string(p.substr(0, kPasswordEditLimit)); }
  const std::string& password() const { return password_; }
  Step Next();
  Step Back() const {
    return Step::Go(ctx_.state.manual_entry ? kPageAssignAddress : kPageServerList);
  }

 private:
  WizardContext& ctx_;
  bool administrator_ = true;
  std::string password_;
};

// Page 3: "Set Server Password", with its confirmation and "&Auto-Saved".
class SetPasswordPage {
 public:
  explicit SetPasswordPage(WizardContext& ctx) : ctx_(ctx) {}
  void SetPassword(std::string_view p) { password_ = std::string(p.substr(0, kPasswordEditLimit)); }
  void SetConfirmation(std::string_view p) {
    confirmation_ = std::string(p.substr(0, kPasswordEditLimit));
  }
  void SetAutoSaved(bool on) { auto_saved_ = on; }
  const std::string& password() const { return password_; }
  const std::string& confirmation() const { return confirmation_; }
  bool auto_saved() const { return auto_saved_; }
  // Counts the times Next asked for the focus to go to the password edit.
  int password_focus_requests() const { return focus_requests_; }
  Step Next();
  Step Back() const { return Step::Go(kPageComMap); }

 private:
  WizardContext& ctx_;
  std::string password_, confirmation_;
  bool auto_saved_ = false;
  int focus_requests_ = 0;
};

// Sends Login with `password` for the selected server. On success both configuration
// entries and the record's new password take it.
bool LoginSelected(WizardContext& ctx, const std::string& password);

}  // namespace zelin::wizard
