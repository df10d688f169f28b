#pragma once
// PortMapper: the port list of the selected server as plain data, Map Port (dialog
// 165), UnMap Port and the COM name conflict check that Save Configuration runs first.
// A change to an entry that makes the entries differ from their saved copy sets the
// modified mark.
//
// Borrows the Prompter, the ServerTables and the ServerTree (for the selection); all
// must outlive it. COM numbers run from 1 to 256 (256 is stored as byte 0). Not thread
// safe: the user-interface thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/prompter.hpp"
#include "srvmanager/core/server_tables.hpp"
#include "srvmanager/core/server_tree.hpp"

namespace zelin::manager {

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

class PortMapper {
 public:
  PortMapper(Prompter& prompter, ServerTables& tables, ServerTree& tree)
      : prompter_(prompter), tables_(tables), tree_(tree) {}
  PortMapper(const PortMapper&) = delete;
  PortMapper& operator=(const PortMapper&) = delete;

  // The port list of the current selection (empty when no server is selected).
  std::vector<PortRow> PortRows() const;
  static std::vector<std::string> PortColumns();
  // Double-click on a port row: true when the row is "Available" (Map Port opens).
  bool PortRowOpensMapPort(int row) const;

  // Map Port: the dialog's values for the selected row, or nullopt after a message.
  std::optional<MapPortChoice> BeginMapPort();
  // Applies the dialog's OK.
  void FinishMapPort(const MapPortChoice& choice);
  // UnMap Port on the selected row.
  void UnMapPort();

  // The COM name conflict check; the message of the first conflict, or nullopt.
  std::optional<std::string> FindComConflict() const;

 private:
  Prompter& prompter_;
  ServerTables& tables_;
  ServerTree& tree_;
};

}  // namespace zelin::manager
