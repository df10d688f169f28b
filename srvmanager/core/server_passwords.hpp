#pragma once
// ServerPasswords: the password check that comes before any command to a server
// (RequestServerPassword) and the run's memory of every password a server accepted,
// so that a password typed once is not asked again.
//
// Borrows the Transport (login exchange), the Prompter and the ServerTables; all must
// outlive it. Passwords are kept in memory for the run only, never written anywhere.
// Not thread safe: the user-interface thread only.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/prompter.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"
#include "srvmanager/core/server_tables.hpp"

namespace zelin::manager {

class ServerPasswords {
 public:
  ServerPasswords(Transport& transport, Prompter& prompter, const ServerTables& tables)
      : transport_(transport), prompter_(prompter), tables_(tables) {}
  ServerPasswords(const ServerPasswords&) = delete;
  ServerPasswords& operator=(const ServerPasswords&) = delete;

  // Password check before commands to a server; true when the server accepted a password.
  // A non-zero `saved_flags` has the entry's password tried before the dialog is shown.
  // Every password that a server accepts here is remembered for the run.
  bool RequestServerPassword(ServerRecord& record, uint16_t saved_flags, ServerConfig& entry);
  // The `saved_flags` for the password check of entry `server_index`: the flags of its
  // saved copy, or kServerFlagPasswordSaved when the server accepted the entry's password
  // in this run (typed into the password dialog or the wizard, or set by Save
  // Configuration) even though it is not saved on this computer (yet). A password the
  // manager only read from the store without the saved flag is not tried.
  uint16_t PasswordFlags(int server_index) const;
  // Remembers that the server with `serial` accepted `password`.
  void Remember(uint16_t serial, std::string_view password);

 private:
  Transport& transport_;
  Prompter& prompter_;
  const ServerTables& tables_;
  // Passwords that servers accepted in this run, as {serial number, password}.
  std::vector<std::pair<uint16_t, std::string>> accepted_;
};

}  // namespace zelin::manager
