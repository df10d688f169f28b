#include "srvmanager/properties/core/password_page.hpp"

#include "protocol/device_text.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {
namespace {

bool HasSpace(const std::string& s) {
  return s.find(' ') != std::string::npos;
}

}  // namespace

PasswordPage::PasswordPage(Prompter& prompter, ServerConfig& entry, ServerRecord& record)
    : SheetPage(prompter), entry_(entry), record_(record) {
  auto_save = (entry.flags & kServerFlagPasswordSaved) != 0;
}

bool PasswordPage::Validate() {
  focus_new_password = false;
  if (current_password.empty() && new_password.empty() && confirm_password.empty()) return true;
  if (!IsDeviceText(current_password)) {
    prompter_.Message(kDeviceTextRefused, MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  if (current_password != entry_.password()) {
    prompter_.Message(ManagerString(kStrWrongCurrentPassword), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  if (new_password == confirm_password) {
    const bool unchanged = new_password == current_password;
    const bool printable = IsDeviceText(new_password);
    if (unchanged || (printable && !HasSpace(new_password))) return true;
    new_password.clear();
    confirm_password.clear();
    focus_new_password = true;
    if (printable) {
      prompter_.Message(ManagerString(kStrPasswordSpace), MsgButtons::Ok, MsgIcon::Warning);
    } else {
      prompter_.Message(kDeviceTextRefused, MsgButtons::Ok, MsgIcon::Warning);
    }
    return false;
  }
  prompter_.Message(ManagerString(kStrPasswordMismatch), MsgButtons::Ok, MsgIcon::Warning);
  return false;
}

void PasswordPage::OnOk() {
  if (auto_save) {
    entry_.flags = static_cast<uint16_t>(entry_.flags | kServerFlagPasswordSaved);
  } else {
    entry_.flags = static_cast<uint16_t>(entry_.flags & ~kServerFlagPasswordSaved);
  }
  if (new_password != current_password && current_password == entry_.password() &&
      !HasSpace(new_password) && IsDeviceText(new_password) &&
      new_password.size() <= kPasswordMaxLength) {
    record_.password_change_pending = true;
    record_.new_password = new_password;
  }
}

}  // namespace zelin::manager
