#pragma once
// DocumentHost: the manager's document seen as a PropertiesHost. Borrows the
// document, which must outlive it. GUI thread only.

#include "srvmanager/core/document.hpp"
#include "srvmanager/properties/core/host.hpp"

namespace zelin::manager {

class DocumentHost final : public PropertiesHost {
 public:
  explicit DocumentHost(CDaoViewDoc& doc) : doc_(doc) {}

  Transport& transport() override { return doc_.transport(); }
  Prompter& prompter() override { return doc_.prompter(); }
  int installation_type() const override { return doc_.installation_type(); }
  ServerList& found() override { return doc_.found(); }
  ServerList& saved_found() override { return *doc_.saved_found_table(); }
  int count() const override { return doc_.count(); }
  ServerConfig& server(int index) override { return doc_.server(index); }
  ServerConfig* saved_server(int index) override {
    const uint16_t serial = doc_.server(index).serial_number;
    ServerConfig* saved = doc_.saved_server_table();
    for (int i = 0; i < doc_.saved_count(); ++i)
      if (saved[i].serial_number == serial) return &saved[i];
    return nullptr;
  }
  uint16_t PasswordFlags(int server_index) override { return doc_.PasswordFlags(server_index); }
  bool RequestServerPassword(ServerRecord& record, uint16_t saved_flags,
                             ServerConfig& entry) override {
    return doc_.RequestServerPassword(record, saved_flags, entry);
  }
  bool ServerChanged(int server_index) override { return doc_.ServerChanged(server_index); }

 private:
  CDaoViewDoc& doc_;
};

}  // namespace zelin::manager
