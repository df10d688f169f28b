#pragma once
// DocumentHost: the manager's document seen as a PropertiesHost. Borrows the
// document, which must outlive it. GUI thread only.

#include "srvmanager/core/manager_document.hpp"
#include "srvmanager/properties/core/host.hpp"

namespace zelin::manager {

class DocumentHost final : public PropertiesHost {
 public:
  explicit DocumentHost(ManagerDocument& doc) : doc_(doc) {}

  Transport& transport() override { return doc_.transport(); }
  Prompter& prompter() override { return doc_.prompter(); }
  int installation_type() const override { return doc_.installation_type(); }
  ServerList& found() override { return doc_.tables().found(); }
  ServerList& saved_found() override { return doc_.tables().saved_found(); }
  int count() const override { return doc_.tables().count(); }
  ServerConfig& server(int index) override { return doc_.tables().server(index); }
  ServerConfig* saved_server(int index) override {
    ServerTables& tables = doc_.tables();
    const int saved = tables.FindSavedServer(tables.server(index).serial_number);
    return saved >= 0 ? &tables.saved_server(saved) : nullptr;
  }
  uint16_t PasswordFlags(int server_index) override {
    return doc_.passwords().PasswordFlags(server_index);
  }
  bool RequestServerPassword(ServerRecord& record, uint16_t saved_flags,
                             ServerConfig& entry) override {
    return doc_.passwords().RequestServerPassword(record, saved_flags, entry);
  }
  bool ServerChanged(int server_index) override {
    return doc_.tables().ServerChanged(server_index);
  }

 private:
  ManagerDocument& doc_;
};

}  // namespace zelin::manager
