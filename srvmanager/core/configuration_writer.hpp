#pragma once
// ConfigurationWriter: Save Configuration. It runs the COM name conflict check and the
// restart warning, sends the write sequence (WriteServer) to every changed server that
// the tree shows online, then writes the store and calls FreshPort. While it writes to
// servers a progress window names the server and the step, and counts down the restart
// waits (SaveProgress). Only a written
// store clears the modified mark; a store that cannot be written keeps the saved copy
// and the mark, so that the next save writes the same difference again.
//
// A server whose write sequence fails keeps its old settings (it applies nothing before
// its restart), so the store records for it the name, address, netmask and password it
// still has, with its port mapping as edited; the entry keeps the edits, the mark stays
// while they are unsent, and the failure message says that the server kept its old
// settings. The other servers are saved as usual.
//
// Borrows the Transport, the Prompter, the tables, the tree (in-tree flags), the password
// check, the port mapper (conflict check) and the store; all must outlive it. Not thread safe: the
// user-interface thread only; each exchange blocks it for at most its time-out and a
// restart wait for 5 s of the transport's Clock.

#include <functional>

#include "platform/prompter.hpp"
#include "platform/status.hpp"
#include "protocol/transport.hpp"
#include "srvmanager/core/manager_store.hpp"
#include "srvmanager/core/port_mapper.hpp"
#include "srvmanager/core/save_progress.hpp"
#include "srvmanager/core/server_passwords.hpp"
#include "srvmanager/core/server_tables.hpp"
#include "srvmanager/core/server_tree.hpp"

namespace zelin {

// Step codes of the manager's server write sequence: the step that failed, as the
// failure message shows it ("Error(-2)"); their text is the step's name in the
// progress window.
enum WriteStep : int {
  kWriteOk = 0,
  kWriteStepPassword = -1,
  kWriteStepName = -2,
  kWriteStepNewPassword = -3,
  kWriteStepAddress = -4,
  kWriteStepRoutes = -5,
  kWriteStepPortKinds = -7,
  kWriteStepRestart = -10,
  kWriteStepDhcp = -12,
};
template <>
struct StatusCode<WriteStep> {
  static constexpr StatusDomain kDomain = StatusDomain::kServerWrite;
  static std::string_view Describe(WriteStep code);
};

}  // namespace zelin

namespace zelin::manager {


class ConfigurationWriter {
 public:
  struct Parts {
    Transport& transport;
    Prompter& prompter;
    ServerTables& tables;
    const ServerTree& tree;
    ServerPasswords& passwords;
    const PortMapper& ports;
    ManagerStore& store;
  };
  ConfigurationWriter(Parts parts, int installation_type, std::function<void()> fresh_port)
      : p_(parts),
        installation_type_(installation_type),
        fresh_port_(std::move(fresh_port)),
        progress_(parts.prompter) {}
  ConfigurationWriter(const ConfigurationWriter&) = delete;
  ConfigurationWriter& operator=(const ConfigurationWriter&) = delete;

  // How Save Configuration ended: kSaved and kServersKeptOld wrote the store; with
  // kServersKeptOld at least one server could not be written and kept its old settings.
  enum class SaveOutcome { kSaved, kServersKeptOld, kConflict, kDeclined, kStoreFailed };
  SaveOutcome SaveConfigurationOutcome();
  // Returns false when the store was not written (conflict, declined, store not writable).
  bool SaveConfiguration() {
    const SaveOutcome outcome = SaveConfigurationOutcome();
    return outcome == SaveOutcome::kSaved || outcome == SaveOutcome::kServersKeptOld;
  }
  // The server write sequence for one entry and its found-server record, shown in
  // the progress window: success, or the WriteStep that failed (its code() is the
  // step code; the message adds the exchange's reason when there is one).
  Status WriteServer(int server_index, int found_index);

 private:
  Parts p_;
  int installation_type_;
  std::function<void()> fresh_port_;
  SaveProgress progress_;
};

}  // namespace zelin::manager
