#include "mapwizard/core/password_pages.hpp"

#include "mapwizard/core/strings.hpp"
#include "protocol/device_text.hpp"
#include "protocol/exchange.hpp"

namespace zelin::wizard {

bool LoginSelected(WizardContext& ctx, const std::string& password) {
  ServerRecord* r = ctx.selected_record();
  ServerConfig* staged = ctx.staged();
  ServerConfig* saved = ctx.saved_staged();
  if (r == nullptr || staged == nullptr || saved == nullptr) return false;
  r->password = password;
  bool ok = false;
  {
    WaitCursor wait(ctx.prompter());
    ok = Command(ctx.transport(), *r, wire::kLogin, kCommandTimeout).ok();
  }
  if (!ok) return false;
  saved->flags = r->flags();
  staged->set_password(password);
  saved->set_password(password);
  r->new_password = password;
  return true;
}

Step SinglePasswordPage::Next() {
  if (!IsDeviceText(password_)) {
    ctx_.Say(kDeviceTextRefused);
    return Step::Stay();
  }
  if (LoginSelected(ctx_, password_)) {
    ctx_.staged()->flags = 0;
    return Step::Go(kPageComMap);
  }
  return ctx_.StayOrEnd(kStrWrongPassword);
}

Step MultiPasswordPage::Next() {
  ServerConfig* staged = ctx_.staged();
  ServerConfig* saved = ctx_.saved_staged();
  if (staged == nullptr || saved == nullptr) return Step::Stay();
  if (!administrator_) {
    if (ctx_.state.conflict) return ctx_.StayOrEnd(kStrDuplicatedAddress);
    staged->write_state = kWriteNever;
    saved->flags = 0;
    return Step::Go(kPageComMap);
  }
  if (!IsDeviceText(password_)) {
    ctx_.Say(kDeviceTextRefused);
    return Step::Stay();
  }
  if (LoginSelected(ctx_, password_)) {
    // A general user's choice made earlier on this page no longer holds.
    staged->write_state = kWriteAlways;
    return Step::Go(kPageNewAddress);
  }
  return ctx_.StayOrEnd(kStrWrongPassword);
}

Step SetPasswordPage::Next() {
  if (password_ != confirmation_) {
    ctx_.Say(kStrPasswordNotMatch);
    return Step::Stay();
  }
  if (password_.find(' ') != std::string::npos) {
    password_.clear();
    confirmation_.clear();
    ++focus_requests_;
    ctx_.Say(kStrBadPasswordSpace);
    return Step::Stay();
  }
  if (!IsDeviceText(password_)) {
    password_.clear();
    confirmation_.clear();
    ++focus_requests_;
    ctx_.Say(kDeviceTextRefused);
    return Step::Stay();
  }
  ServerRecord* r = ctx_.selected_record();
  ServerConfig* staged = ctx_.staged();
  if (r == nullptr || staged == nullptr) return Step::Stay();
  // An empty password leaves the server as it is, also after going back and forth.
  r->password_change_pending = !password_.empty();
  r->new_password = password_;
  staged->flags = auto_saved_ ? kServerFlagPasswordSaved : 0;
  return Step::Go(kPageComplete);
}

}  // namespace zelin::wizard
