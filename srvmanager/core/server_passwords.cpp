#include "srvmanager/core/server_passwords.hpp"

#include <optional>

#include "protocol/address.hpp"
#include "protocol/device_text.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

constexpr int kCommandTimeoutSeconds = 1;

}  // namespace

void ServerPasswords::Remember(uint16_t serial, std::string_view password) {
  for (auto& [s, p] : accepted_)
    if (s == serial) {
      p = password;
      return;
    }
  accepted_.emplace_back(serial, password);
}

uint16_t ServerPasswords::PasswordFlags(int server_index) const {
  if (server_index < 0 || server_index >= tables_.count()) return 0;
  const ServerConfig& entry = tables_.server(server_index);
  const int saved = tables_.FindSavedServer(entry.serial_number);
  if (saved >= 0 && tables_.saved_server(saved).flags != 0) return tables_.saved_server(saved).flags;
  for (const auto& [serial, password] : accepted_)
    if (serial == entry.serial_number && password == entry.password())
      return kServerFlagPasswordSaved;
  return 0;
}

bool ServerPasswords::RequestServerPassword(ServerRecord& record, uint16_t saved_flags,
                                            ServerConfig& entry) {
  if (!record.has_password()) return true;
  Prompter& prompter = prompter_;
  if (saved_flags != 0) {
    record.password = entry.password();
    if (Command(transport_, record, wire::kLogin, kCommandTimeoutSeconds)) {
      Remember(record.serial_number(), record.password);
      return true;
    }
    prompter.Message(ManagerString(kStrPasswordError));
  }
  const std::string info =
      PasswordDialogText(record.name(), record.serial_number(), AddressToText(record.ip_address()));
  while (true) {
    std::optional<std::string> typed = prompter.AskPassword(info, wire::kMaxPasswordLength);
    if (!typed) return false;
    // Refused before the login is sent: the server would compare other bytes than were typed.
    if (!IsDeviceText(*typed)) {
      prompter.Message(kDeviceTextRefused, MsgButtons::Ok, MsgIcon::Warning);
      continue;
    }
    if (typed->size() > wire::kMaxPasswordLength) typed->resize(wire::kMaxPasswordLength);
    record.password = *typed;
    if (Command(transport_, record, wire::kLogin, kCommandTimeoutSeconds)) {
      entry.set_password(*typed);
      Remember(record.serial_number(), *typed);
      return true;
    }
    prompter.Message(ManagerString(kStrPasswordError));
  }
}

}  // namespace zelin::manager
