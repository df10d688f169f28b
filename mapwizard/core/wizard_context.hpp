#pragma once
// What every page of the Add Server Wizard shares: the caller's tables, the transport
// that borrows the caller's sockets, the caller's prompter, the wizard state
// (installation type, selected server, found address, conflict and manual-entry flags)
// and the staged entry.
//
// Ownership: nothing here is owned. The tables, the transport, the prompter and the
// dialogs belong to the caller and must outlive the context. The configuration tables
// hold kMaxConfiguredServers entries each; every write checks that bound, and the staged
// entry exists only while the count is below it.
//
// Thread safety: one thread (the GUI thread in the library).

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/prompter.hpp"
#include "platform/text_format.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"
#include "protocol/wire.hpp"
#include "store/installation_type.hpp"
#include "store/server_config.hpp"

namespace zelin::wizard {

// The longest texts the page edits take.
inline constexpr size_t kPasswordEditLimit = wire::kMaxPasswordLength;
inline constexpr size_t kAssignAddressEditLimit = sizeof "255.255.255.255" - 1;
inline constexpr size_t kNewAddressEditLimit = 20;
// Reply wait of every command the wizard sends, in seconds.
inline constexpr int kCommandTimeout = 1;

// The caller's tables, lent for one run of the wizard.
struct WizardTables {
  ServerList* found = nullptr;
  ServerList* saved_found = nullptr;
  ServerConfig* configuration = nullptr;        // kMaxConfiguredServers entries
  ServerConfig* saved_configuration = nullptr;  // kMaxConfiguredServers entries
  int* count = nullptr;

  // All pointers set and the count within 0 .. kMaxConfiguredServers.
  bool Valid() const;
};

// The two small dialogs of the wizard besides its pages.
class WizardDialogs {
 public:
  virtual ~WizardDialogs() = default;
  // "Locate Server": tells the user to look for the blinking light; returns on OK.
  virtual void ShowLocate(std::string_view server_info) = 0;
  // "Cannot find servers": true for OK (enter another address), false for Cancel.
  virtual bool ShowNotFound(std::string_view info) = 0;
};

// The two dialogs as plain messages of a Prompter (tests, tools without widgets).
class PrompterDialogs final : public WizardDialogs {
 public:
  explicit PrompterDialogs(Prompter& p) : prompter_(p) {}
  void ShowLocate(std::string_view server_info) override;
  bool ShowNotFound(std::string_view info) override;
  static std::string LocateText(std::string_view server_info);
  static std::string NotFoundText(std::string_view info);

 private:
  Prompter& prompter_;
};

// Where a page action leaves the wizard.
struct Step {
  enum Kind { kStay, kGo, kEnd };
  Kind kind = kStay;
  int page = -1;
  static Step Stay() { return {kStay, -1}; }
  static Step Go(int p) { return {kGo, p}; }
  static Step End() { return {kEnd, -1}; }
  bool operator==(const Step&) const = default;
};

// Page indices of the sheet, from 0.
enum PageId : int {
  kPageBegin,
  kPageServerList,
  kPageComMap,
  kPageSetPassword,
  kPageComplete,
  kPageSinglePassword,
  kPageExit,
  kPageAssignAddress,
  kPageNewAddress,
  kPageMultiPassword,
  kPageCount,
};

struct WizardState {
  int installation_type = 0;
  int selected = -1;       // index of the selected record in the found list
  Ipv4 found_address = 0;  // its address as found
  bool conflict = false;
  bool manual_entry = false;
};

class WizardContext {
 public:
  WizardContext(Transport& transport, Prompter& prompter, const WizardTables& tables,
                int installation_type, WizardDialogs& dialogs);

  Transport& transport() { return transport_; }
  Prompter& prompter() { return prompter_; }
  WizardDialogs& dialogs() { return dialogs_; }
  ServerList& found() { return *tables_.found; }
  ServerList& saved_found() { return *tables_.saved_found; }
  const WizardTables& tables() const { return tables_; }
  int installation_type() const { return state.installation_type; }
  bool single_host() const { return state.installation_type == kSingleHost; }

  // Valid records of the found list (its count clamped to 0 .. 32).
  int found_count() const;
  // Configured entries (the count clamped to 0 .. 32); the staged entry is not among them.
  int configured_count() const;
  bool table_full() const { return configured_count() >= static_cast<int>(kMaxConfiguredServers); }

  // The slot just behind the count and its saved copy; nullptr when the table is full.
  ServerConfig* staged();
  ServerConfig* saved_staged();
  // The selected record; nullptr before a server is chosen.
  ServerRecord* selected_record();
  // Bit 0 of the selected server's flags.
  bool has_password();

  bool SerialConfigured(uint16_t serial) const;
  bool AddressConfigured(Ipv4 address) const;
  // Some configured server maps a port to COM `n` (1 .. 256; a stored 0 is 256).
  bool ComInUse(int n) const;

  // Fills the staged slot from `record` (see Stage in wizard_context.cpp). False when
  // the table is full (the user has been told).
  bool Stage(const ServerRecord& record);

  // Where the flow goes once a server is chosen and staged.
  Step AfterServerChosen();

  // Shows a message of the table or a literal text.
  MsgAnswer Say(int string_id, MsgButtons buttons = MsgButtons::Ok,
                MsgIcon icon = MsgIcon::Warning);
  MsgAnswer Say(std::string_view text, MsgButtons buttons = MsgButtons::Ok,
                MsgIcon icon = MsgIcon::Warning);
  // Shows the message with OK and Cancel: OK keeps the page, Cancel ends the wizard.
  Step StayOrEnd(int string_id);
  Step StayOrEnd(std::string_view text);

  WizardState state;

 private:
  Transport& transport_;
  Prompter& prompter_;
  WizardTables tables_;
  WizardDialogs& dialogs_;
};

// The access entries the wizard writes into a server's record: one address with netmask
// 255.255.255.255 and all 16 ports. Both keep within the record's 32-entry table,
// whatever count the record holds.
//
// Makes `address` the record's only entry (total 1, start 0, count 1).
void GrantOnlyAccess(ServerRecord& record, Ipv4 address);
// Appends the entry for `address` (total and count +1, start 0) unless the table already
// holds one with that address and netmask; a full table takes no more. True when the
// entry is (now) present.
bool EnsureHostAccess(ServerRecord& record, Ipv4 address);

}  // namespace zelin::wizard
