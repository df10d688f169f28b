#pragma once
// AdvancedPage, the "Advanced" page, and its Gateway Settings dialog: the route
// table of the found-server record as a list, with Add, Modify and Remove. Routes are
// never deleted from the table: Remove marks a route with metric 0xFFFF (a removal).
// Modify follows the route-edit rule of the protocol (RouteChangeEntries): a change of
// metric only changes the route in its slot, and Save Configuration sends it as one
// AddRoute with the new metric, as `zelinctl route modify` does; a change of gateway,
// destination or netmask also appends the old route marked as a removal, so that the
// server drops it. Modify appends no removal when another entry of the table, listed
// or a removal, already has the old route's gateway, destination and netmask: the
// server then keeps or drops that route by that entry. Save Configuration sends the
// removals before the listed routes, so a route listed on the page is on the server
// after the save whatever was removed or modified on the way.
//
// The table holds at most 32 entries; an Add, or a Modify that could append a
// removal (no other entry has the route's key), is refused on a full table with a
// message before Gateway Settings opens and changes nothing.
//
// Borrows the prompter, the record and the dialog runner; they outlive the page.

#include <string>
#include <vector>

#include "platform/prompter.hpp"
#include "srvmanager/properties/core/sheet_page.hpp"
#include "protocol/types.hpp"
#include "srvmanager/properties/core/host.hpp"

namespace zelin::manager {

// Gateway Settings (dialog 184).
class GatewaySettingsDialog {
 public:
  static constexpr size_t kMaxAddressLength = 20;
  static constexpr size_t kMaxMetricLength = 3;  // digits only

  GatewaySettingsDialog(Prompter& prompter, const RouteEntry& entry);

  std::string destination_text;
  std::string gateway_text;
  std::string netmask_text;
  std::string metric_text;

  // The three addresses must be valid ("Invalid IP address!" otherwise); then the
  // values are in result().
  bool Ok();
  const RouteEntry& result() const { return result_; }

 private:
  Prompter& prompter_;
  RouteEntry result_;
};

class AdvancedPage : public SheetPage {
 public:
  struct Row {
    int entry = -1;  // route table index
    std::string destination, gateway, netmask, metric;
  };

  AdvancedPage(Prompter& prompter, ServerRecord& record, PropertyDialogs& dialogs);

  // The column headings of list 1019.
  static std::vector<std::string> Columns();
  const std::vector<Row>& rows() const { return rows_; }
  int selected_row() const { return selected_; }
  void SelectRow(int row);
  bool remove_enabled() const { return !rows_.empty(); }
  bool modify_enabled() const { return !rows_.empty(); }

  void Add();
  void Modify();
  void Remove();

 private:
  int RouteCount() const;
  // Whether an entry other than `index` has the gateway, destination and netmask of `key`.
  bool OtherEntryHasKey(int index, const RouteEntry& key) const;
  void SetRouteCount(int n);
  void Refill(int select_row);

  ServerRecord& record_;
  PropertyDialogs& dialogs_;
  std::vector<Row> rows_;
  int selected_ = -1;
};

}  // namespace zelin::manager
