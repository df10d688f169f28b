#pragma once
// CMyPropertyPage3, the "Advanced" page, and its Gateway Settings dialog: the route
// table of the found-server record as a list, with Add, Modify and Remove. Routes are
// never deleted from the table: Remove marks a route with metric 0xFFFF, and Modify
// appends the old route so marked, so that Save Configuration makes the server drop
// it. The table holds at most 32 entries; an Add or a Modify that would need a 33rd
// is refused with a message and changes nothing.
//
// Borrows the prompter, the record and the dialog runner; they outlive the page.

#include <string>
#include <vector>

#include "platform/prompter.hpp"
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

class CMyPropertyPage3 {
 public:
  struct Row {
    int entry = -1;  // route table index
    std::string destination, gateway, netmask, metric;
  };

  CMyPropertyPage3(Prompter& prompter, ServerRecord& record, PropertyDialogs& dialogs);

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
  void SetRouteCount(int n);
  void Refill(int select_row);

  Prompter& prompter_;
  ServerRecord& record_;
  PropertyDialogs& dialogs_;
  std::vector<Row> rows_;
  int selected_ = -1;
};

}  // namespace zelin::manager
