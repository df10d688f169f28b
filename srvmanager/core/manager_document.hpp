#pragma once
// ManagerDocument: the manager's document for one run. It composes the parts that each
// do one job and hands them out:
//   tables()      ServerTables: found and configured servers with their saved copies
//   server_tree() ServerTree: the tree's items, the in-tree flags and the selection
//   ports()       PortMapper: the port list, Map Port, UnMap Port, the COM conflict check
//   rules()       CommandRules: which commands are enabled
//   writer()      ConfigurationWriter: Save Configuration and the server write sequence
//   passwords()   ServerPasswords: RequestServerPassword and the run's password memory
//   wizard()      WizardBridge: the raw tables handed to the Add Server Wizard
// and itself runs what spans them: Load, Delete Server and the exit check.
//
// The document borrows the Transport, the Prompter, the store and the FreshPort hook;
// they must outlive it. Every message goes through that Prompter and every wait
// through the transport's Clock. Not thread safe: the manager runs on its user-interface thread
// only, and every network exchange blocks that thread for at most its time-out.

#include <functional>

#include "platform/prompter.hpp"
#include "protocol/transport.hpp"
#include "srvmanager/core/command_rules.hpp"
#include "srvmanager/core/commands.hpp"
#include "srvmanager/core/configuration_writer.hpp"
#include "srvmanager/core/manager_store.hpp"
#include "srvmanager/core/port_mapper.hpp"
#include "srvmanager/core/server_passwords.hpp"
#include "srvmanager/core/server_tables.hpp"
#include "srvmanager/core/server_tree.hpp"
#include "srvmanager/core/wizard_bridge.hpp"

namespace zelin::manager {

class ManagerDocument {
 public:
  ManagerDocument(Transport& transport, Prompter& prompter, ManagerStore& store,
                  int installation_type, std::function<void()> fresh_port);
  ManagerDocument(const ManagerDocument&) = delete;
  ManagerDocument& operator=(const ManagerDocument&) = delete;

  // Searches the network, reads the store and builds the tree (probing configured
  // servers that the search did not find). Shows string 112 when the store cannot
  // be read (followed by the store's own account, such as the file and line of a
  // hive that does not parse) and leaves the model empty.
  void Load();
  // Delete Server: asks 61211, removes the first entry with the selected serial.
  void DeleteServer();
  // The exit check: true when the program may close (asks 61231 when something changed).
  // After Yes the program closes once the save is done or the user declined the restart
  // warning; a save that stopped at a COM name conflict, could not write the store or
  // could not write a server (which kept its old settings) keeps the program open with
  // its changes.
  bool CanClose();

  ServerTables& tables() { return tables_; }
  const ServerTables& tables() const { return tables_; }
  ServerTree& server_tree() { return tree_; }
  const ServerTree& server_tree() const { return tree_; }
  PortMapper& ports() { return ports_; }
  const PortMapper& ports() const { return ports_; }
  const CommandRules& rules() const { return rules_; }
  ConfigurationWriter& writer() { return writer_; }
  ServerPasswords& passwords() { return passwords_; }
  WizardBridge& wizard() { return wizard_; }

  int installation_type() const { return installation_type_; }
  Transport& transport() { return transport_; }
  Prompter& prompter() { return prompter_; }

 private:
  Transport& transport_;
  Prompter& prompter_;
  ManagerStore& store_;
  int installation_type_;
  ServerTables tables_;
  ServerTree tree_;
  ServerPasswords passwords_;
  PortMapper ports_;
  CommandRules rules_;
  ConfigurationWriter writer_;
  WizardBridge wizard_;
};

}  // namespace zelin::manager
