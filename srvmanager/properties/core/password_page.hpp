#pragma once
// PasswordPage, the "Password" page: current, new and confirmed password (all
// hidden) and "&Auto Save Password on this computer" (bit 0 of the entry's flags).
// Validate runs when the page is left or on OK, in a fixed order (passwords that
// are not printable ASCII are refused with kDeviceTextRefused); OnOk records a
// password change in the found-server record for Save Configuration to send.
//
// Borrows the prompter, the entry and the record; they outlive the page.

#include <cstddef>
#include <string>

#include "platform/prompter.hpp"
#include "srvmanager/properties/core/sheet_page.hpp"
#include "protocol/types.hpp"
#include "store/server_config.hpp"

namespace zelin::manager {

class PasswordPage : public SheetPage {
 public:
  static constexpr size_t kPasswordMaxLength = 16;

  PasswordPage(Prompter& prompter, ServerConfig& entry, ServerRecord& record);

  std::string current_password;
  std::string new_password;
  std::string confirm_password;
  bool auto_save = false;

  // Set by Validate when it cleared both new-password fields: the view puts the
  // focus on "New Password".
  bool focus_new_password = false;

  bool Validate() override;
  void OnOk() override;

 private:
  ServerConfig& entry_;
  ServerRecord& record_;
};

}  // namespace zelin::manager
