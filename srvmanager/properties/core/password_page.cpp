#include "srvmanager/properties/core/password_page.hpp"

#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {
namespace {

bool HasSpace(const std::string& s) {
  return s.find(' ') != std::string::npos;
}

}  // namespace

CMyPropertyPage2::CMyPropertyPage2(Prompter& prompter, ServerConfig& entry, ServerRecord& record)
    : prompter_(prompter), entry_(entry), record_(record) {
  auto_save = (entry.flags & kServerFlagPasswordSaved) != 0;
}

bool CMyPropertyPage2::Validate() {
  focus_new_password = false;
  if (current_password.empty() && new_password.empty() && confirm_password.empty()) return true;
  if (current_password != entry_.password()) {
    prompter_.Message(ManagerString(kStrWrongCurrentPassword), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  if (new_password == confirm_password) {
    if (new_password == current_password || !HasSpace(new_password)) return true;
    new_password.clear();
    confirm_password.clear();
    focus_new_password = true;
    prompter_.Message(ManagerString(kStrPasswordSpace), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  prompter_.Message(ManagerString(kStrPasswordMismatch), MsgButtons::Ok, MsgIcon::Warning);
  return false;
}

void CMyPropertyPage2::OnOk() {
  if (auto_save) {
    entry_.flags = static_cast<uint16_t>(entry_.flags | kServerFlagPasswordSaved);
  } else {
    entry_.flags = static_cast<uint16_t>(entry_.flags & ~kServerFlagPasswordSaved);
  }
  if (new_password != current_password && current_password == entry_.password() &&
      !HasSpace(new_password) && new_password.size() <= kPasswordMaxLength) {
    record_.password_change_pending = true;
    record_.new_password = new_password;
  }
}

}  // namespace zelin::manager
