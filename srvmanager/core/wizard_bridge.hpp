#pragma once
// WizardBridge: the manager's side of the Add Server Wizard library's C boundary. It
// fills the block of raw pointers that VCOMMManWizard works on (the transport's
// sockets and host addresses, the found list and its saved copy, the configured
// servers, their saved copies and count) and takes the wizard's return.
//
// Borrows the Transport, the tables, the tree and the password memory; all must
// outlive it. The block points into the bridge and the tables: it stays valid until
// the next Arguments() call or until the document goes. The library writes the tables
// only during the call, on the calling (user-interface) thread. Not thread safe.

#include <array>
#include <cstdint>

#include "mapwizard/mapwizard.h"
#include "protocol/transport.hpp"
#include "srvmanager/core/server_passwords.hpp"
#include "srvmanager/core/server_tables.hpp"
#include "srvmanager/core/server_tree.hpp"

namespace zelin::manager {

class WizardBridge {
 public:
  WizardBridge(Transport& transport, ServerTables& tables, ServerTree& tree,
               ServerPasswords& passwords)
      : transport_(transport), tables_(tables), tree_(tree), passwords_(passwords) {}
  WizardBridge(const WizardBridge&) = delete;
  WizardBridge& operator=(const WizardBridge&) = delete;

  // The block for VCOMMManWizard over the current tables and sockets.
  WizardArguments& Arguments();
  // The Add Server Wizard's return: marks modified when it finished, keeps the counts
  // within their capacities and rebuilds the tree. A password the wizard logged in
  // with (the new entry's password, with non-zero flags in its saved slot) counts as
  // accepted in this run.
  void WizardReturned(int result);

 private:
  Transport& transport_;
  ServerTables& tables_;
  ServerTree& tree_;
  ServerPasswords& passwords_;
  std::array<int, Transport::kSlots> sockets_{};
  std::array<uint32_t, Transport::kSlots> addresses_{};
  WizardArguments args_{};
};

}  // namespace zelin::manager
