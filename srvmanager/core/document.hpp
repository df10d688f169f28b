#pragma once
// CDaoViewDoc: the manager's document. It owns the model of one run: the servers
// found on the network (a ServerList and its saved copy, with the manager's
// in-tree flags), the configured servers (32 ServerConfig records with a count,
// and their saved copy), the current selection and the modified mark. It loads
// the model, builds the contents of the server tree and of the port list as plain
// data, computes which commands are enabled, and runs Delete Server, Map Port,
// UnMap Port, Save Configuration and the exit check.
//
// The document borrows the Transport, the store and the FreshPort hook; they must
// outlive it. Every message goes through the transport's Prompter and every wait
// through its Clock. Not thread safe: the manager runs on its user-interface
// thread only, and every network exchange blocks that thread for at most its
// time-out.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/transport.hpp"
#include "protocol/types.hpp"
#include "srvmanager/core/commands.hpp"
#include "srvmanager/core/manager_store.hpp"
#include "srvmanager/core/save_progress.hpp"
#include "store/server_config.hpp"

namespace zelin::manager {

// Icons of the shared 16-pixel image strip.
enum TreeIcon : int { kIconRoot = 0, kIconOnline = 1, kIconOffline = 2, kIconMappedPort = 3 };

// One server item of the tree (the root item is implicit and always first).
struct TreeItem {
  int server_index = -1;  // index into the server array
  int found_index = -1;   // index into the found-server table, -1 when not found
  int icon = kIconOffline;
  std::string label;
};

// One row of the port list.
struct PortRow {
  std::string port;    // "%4d"
  std::string com;     // "COM%d" or "---"
  std::string status;  // "Available", "Non-authorize", "Not Available", or "" when offline
  bool mapped = false;
  int status_code = -1;  // -1 when the server was not found
};

// The values of the Map Port dialog (dialog 165) and what the user chose.
struct MapPortChoice {
  int port = 0;                      // 0-based port index
  std::string label;                 // "Port %d at %s"
  int selection = 0;                 // 0 "NONE", n "COMn" (1..256)
  bool consecutive = false;          // the check box, cleared on opening
  bool consecutive_enabled = false;  // only for port 1
  bool classical = false;            // Transmission Mode radios
  bool fifo_disabled = false;        // FIFO radios
};

// The 257 items of the "Map to : " drop-down.
std::vector<std::string> MapPortItems();

// Step codes of the server write sequence.
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

class CDaoViewDoc {
 public:
  static constexpr int kCapacity = static_cast<int>(kMaxConfiguredServers);

  CDaoViewDoc(Transport& transport, ManagerStore& store, int installation_type,
              std::function<void()> fresh_port);
  CDaoViewDoc(const CDaoViewDoc&) = delete;
  CDaoViewDoc& operator=(const CDaoViewDoc&) = delete;

  // --- load and views ---------------------------------------------------------
  // Searches the network, reads the store and builds the tree (probing configured
  // servers that the search did not find). Shows string 112 when the store cannot
  // be read (followed by the store's own account, such as the file and line of a
  // hive that does not parse) and leaves the model empty.
  void Load();
  // Clears and refills the tree, then keeps the selection of the same server (by
  // serial number) when it is still there, otherwise selects nothing.
  void BuildTree();
  const std::vector<TreeItem>& tree() const { return tree_; }
  static std::string RootLabel();

  // Selection change in the tree: item -1 is the root (the port list empties).
  void SelectTreeItem(int item);
  // The port list of the current selection (empty when no server is selected).
  std::vector<PortRow> PortRows() const;
  static std::vector<std::string> PortColumns();
  void SelectPortRow(int row) { selected_port_ = row; }
  int selected_port() const { return selected_port_; }
  int selected_item() const { return selected_item_; }

  // Server Properties with OK relabels the server's item ("%s(%s)").
  void SetItemLabel(int item, std::string label) {
    if (item >= 0 && item < static_cast<int>(tree_.size()))
      tree_[static_cast<size_t>(item)].label = std::move(label);
  }

  // Double-click on a tree item: an offline server is probed again and, when it
  // answers with its serial number, becomes online. Returns true when the item is
  // (now) an online server, so that the caller may open Server Properties.
  bool ActivateTreeItem(int item);
  // Double-click on a port row: true when the row is "Available" (Map Port opens).
  bool PortRowOpensMapPort(int row) const;

  // --- commands -----------------------------------------------------------------
  // Whether `command` is enabled with `view` active (main menu and toolbar).
  bool IsEnabled(int command, ActiveView view) const;
  // Enabling inside the tree's server context menu (menu 133) for the current item.
  bool IsContextEnabled(int command) const;

  // Delete Server: asks 61211, removes the first entry with the selected serial.
  void DeleteServer();

  // Map Port: the dialog's values for the selected row, or nullopt after a message.
  std::optional<MapPortChoice> BeginMapPort();
  // Applies the dialog's OK.
  void FinishMapPort(const MapPortChoice& choice);
  // UnMap Port on the selected row.
  void UnMapPort();

  // The COM name conflict check; the message of the first conflict, or nullopt.
  std::optional<std::string> FindComConflict() const;

  // Save Configuration, and how it ended: only kSaved wrote the store. While it writes
  // to servers a progress window names the server and the step, and counts down the
  // restart waits (SaveProgress).
  enum class SaveOutcome { kSaved, kConflict, kDeclined, kStoreFailed };
  SaveOutcome SaveConfigurationOutcome();
  // Returns false when nothing was saved (conflict, declined, store not writable).
  bool SaveConfiguration() { return SaveConfigurationOutcome() == SaveOutcome::kSaved; }
  // The server write sequence for one entry and its found-server record, shown in
  // the progress window; 0 or the negative step code.
  int WriteServer(int server_index, int found_index);
  // True when the found-server record of the entry differs from its saved copy.
  bool ServerChanged(int server_index) const;
  // The exit check: true when the program may close (asks 61231 when something changed).
  // After Yes the program closes once the save is done or the user declined the restart
  // warning; a save that stopped at a COM name conflict or could not write the store
  // keeps the program open with its changes and the modified mark.
  bool CanClose();
  // Whether the exit check would ask.
  bool ConfigurationChanged() const;

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

  // The Add Server Wizard's return: marks modified when it finished, rebuilds the tree.
  // A password the wizard logged in with (the new entry's password, with non-zero flags
  // in its saved slot) counts as accepted in this run.
  void WizardReturned(int result);

  // --- model ----------------------------------------------------------------------
  int installation_type() const { return installation_type_; }
  bool modified() const { return modified_; }
  void SetModified(bool m) { modified_ = m; }
  int count() const { return count_; }
  int saved_count() const { return saved_count_; }
  ServerConfig& server(int i) { return servers_[static_cast<size_t>(i)]; }
  const ServerConfig& server(int i) const { return servers_[static_cast<size_t>(i)]; }
  const ServerConfig& saved_server(int i) const { return saved_servers_[static_cast<size_t>(i)]; }
  ServerList& found() { return found_; }
  const ServerList& found() const { return found_; }
  const ServerList& saved_found() const { return saved_found_; }
  bool in_tree(int found_index) const;
  int selected_server() const { return selected_server_; }
  int selected_found() const { return selected_found_; }
  const ServerRecord* selected_record() const;
  Transport& transport() { return transport_; }

  // The raw tables the Add Server Wizard works on.
  ServerList* found_table() { return &found_; }
  ServerList* saved_found_table() { return &saved_found_; }
  ServerConfig* server_table() { return servers_.data(); }
  ServerConfig* saved_server_table() { return saved_servers_.data(); }
  int* count_pointer() { return &count_; }

 private:
  // `message` followed by what the store reported about its last failure, if anything.
  std::string WithStoreDetail(std::string_view message) const;
  int FindSavedServer(uint16_t serial) const;
  void RememberPassword(uint16_t serial, std::string_view password);
  int FindFoundForEntry(const ServerConfig& entry) const;
  void SetInTree(int found_index, bool in_tree);
  void CopyToSavedFound(int found_index);
  bool ServerArrayChanged() const;
  void FillSelectionFromItem(int item);

  Transport& transport_;
  ManagerStore& store_;
  int installation_type_;
  std::function<void()> fresh_port_;

  ServerList found_;
  ServerList saved_found_;
  std::array<uint32_t, kMaxServers> in_tree_{};
  std::array<ServerConfig, kMaxConfiguredServers> servers_{};
  std::array<ServerConfig, kMaxConfiguredServers> saved_servers_{};
  int count_ = 0;
  int saved_count_ = 0;
  bool modified_ = false;
  bool adopt_offer_made_ = false;
  // Passwords that servers accepted in this run, as {serial number, password}.
  std::vector<std::pair<uint16_t, std::string>> accepted_passwords_;
  // Servers that took over a found server's serial number in this run, as {serial in
  // the store, new serial}; kept until Save Configuration has written the store.
  std::vector<std::pair<uint16_t, uint16_t>> adopted_;

  SaveProgress progress_;

  std::vector<TreeItem> tree_;
  int selected_item_ = -1;    // tree item of the selection, -1 root or none
  int selected_server_ = -1;  // index into servers_
  int selected_found_ = -1;   // index into found_
  int selected_port_ = -1;    // port row
};

}  // namespace zelin::manager
