#pragma once
// ReplaceServerDialog: the model of "Replace Server..." (dialog 186). A configured
// server that is no longer found is replaced by a server of the same model that no
// entry uses yet: the entry takes over the new server's serial number and password,
// the new server's record takes the entry's name, IP address and netmask, and this
// host is granted access to every port. The COM mappings of the entry stay.
//
// The dialog searches into a scratch list of its own; the document's tables change
// only when Ok() succeeds (the chosen record then joins the found-server table and
// its saved copy as found, and the changes are applied to the current one).
//
// Borrows the host; GUI thread only. Every network wait blocks for its time-out.

#include <string>
#include <vector>

#include "protocol/types.hpp"
#include "srvmanager/properties/core/host.hpp"

namespace zelin::manager {

class ReplaceServerDialog {
 public:
  struct Row {
    std::string name, address, serial;
    int record = -1;  // index into the scratch list
  };

  ReplaceServerDialog(PropertiesHost& host, int server_index);

  static std::vector<std::string> Columns();

  // Fills the list: on opening and on "&Find". Searches the network (blocking).
  void Find();
  const std::vector<Row>& rows() const { return rows_; }
  int selected_row() const { return selected_; }
  void SelectRow(int row);

  // OK (or a double-click on a row). True when the replacement was made and the dialog
  // closes; false when it stays open (after a message, or a cancelled password).
  bool Ok();

  // After a successful Ok(): the found-server index of the chosen server.
  int chosen_found_index() const { return chosen_found_index_; }
  // The scratch list, for tests.
  const ServerList& scratch() const { return scratch_; }

 private:
  bool ResolveAddressConflict(ServerRecord& chosen);
  bool EntryHasAddress(Ipv4 address, bool skip_replaced) const;
  bool GrantHostAccess(ServerRecord& chosen, ServerConfig& entry);

  PropertiesHost& host_;
  int server_index_;
  ServerList scratch_;
  std::vector<Row> rows_;
  int selected_ = -1;
  int chosen_found_index_ = -1;
};

}  // namespace zelin::manager
