#pragma once
// ServerTree: the contents of the manager's server tree as plain data (one item per
// configured server, online or offline), which found servers it shows, and the current
// selection (tree item, server entry, found record, port row). Building the tree probes
// configured servers that the search did not find, and may offer once per run that an
// entry takes over the serial number of the server found at its address.
//
// Borrows the Transport (probes), the Prompter (offer, wait cursor) and the ServerTables;
// all must outlive it. Not thread safe: the user-interface thread only; the probes block it
// for at most four attempts of one second.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/prompter.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"
#include "srvmanager/core/server_tables.hpp"

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

class ServerTree {
 public:
  ServerTree(Transport& transport, Prompter& prompter, ServerTables& tables, int installation_type)
      : transport_(transport),
        prompter_(prompter),
        tables_(tables),
        installation_type_(installation_type) {}
  ServerTree(const ServerTree&) = delete;
  ServerTree& operator=(const ServerTree&) = delete;

  // Clears and refills the tree, then keeps the selection of the same server (by
  // serial number) when it is still there, otherwise selects nothing.
  void BuildTree();
  // Told the number of servers about to be probed when BuildTree probes any.
  void SetProbeProgress(std::function<void(int)> progress) { probe_progress_ = std::move(progress); }
  const std::vector<TreeItem>& items() const { return tree_; }
  static std::string RootLabel();
  // Whether found record `found_index` is shown by a tree item.
  bool in_tree(int found_index) const;

  // Selection change in the tree: item -1 is the root (the port list empties).
  void SelectTreeItem(int item) { FillSelectionFromItem(item); }
  void SelectPortRow(int row) { selected_port_ = row; }
  void ClearSelection() { FillSelectionFromItem(-1); }
  // The tree's context menu on server item `item`: while it is open that server is the
  // current one (the tree keeps its highlight). When it closes (its command done, or
  // dismissed), the highlighted item, `highlighted_item` (-1 root or none), is current
  // again, with the port row it had when it is the item current before the menu, so
  // that the toolbar and the menu bar act on the server the tree highlights.
  void ContextMenuOpened(int item);
  void ContextMenuClosed(int highlighted_item);
  int selected_item() const { return selected_item_; }
  int selected_server() const { return selected_server_; }  // index into the entries
  int selected_found() const { return selected_found_; }    // index into the found list
  int selected_port() const { return selected_port_; }      // port row
  // The found record of the selected server, or nullptr when it is offline.
  const ServerRecord* selected_record() const;

  // Server Properties with OK relabels the server's item ("%s(%s)").
  void SetItemLabel(int item, std::string label);
  // Double-click on a tree item: an offline server is probed again and, when it
  // answers with its serial number, becomes online. Returns true when the item is
  // (already) an online server, so that the caller may open Server Properties.
  bool ActivateTreeItem(int item);

 private:
  int FindFoundForEntry(const ServerConfig& entry) const;
  void SetInTree(int found_index, bool in_tree);
  void FillSelectionFromItem(int item);

  Transport& transport_;
  Prompter& prompter_;
  ServerTables& tables_;
  int installation_type_;
  std::function<void(int)> probe_progress_;
  bool adopt_offer_made_ = false;
  std::array<uint32_t, kMaxServers> in_tree_{};
  std::vector<TreeItem> tree_;
  int selected_item_ = -1;    // tree item of the selection, -1 root or none
  int selected_server_ = -1;  // index into the entries
  int selected_found_ = -1;   // index into the found list
  int selected_port_ = -1;    // port row
  int before_menu_item_ = -1;  // the selection when a context menu opened
  int before_menu_port_ = -1;
};

}  // namespace zelin::manager
