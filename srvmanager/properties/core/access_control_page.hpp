#pragma once
// AccessControlPage, the "Access Control" page, with the two small dialogs it opens
// (Grant Access IP and Add Port). The page shows the access-control table of the
// found-server record as a tree, by port or by IP address, and edits the table in
// memory; its OK step refreshes the port status codes from the table.
//
// The tree is plain data: a root with children and grandchildren. A selection is a
// path (top, sub): top -1 is the root, sub -1 a first-level item. Every change
// rebuilds the tree and selects the root.
//
// Borrows the prompter, the record and the dialog runner; they outlive the page.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/prompter.hpp"
#include "srvmanager/properties/core/sheet_page.hpp"
#include "protocol/types.hpp"
#include "srvmanager/properties/core/host.hpp"

namespace zelin::manager {

// Grant Access IP (dialog 182): a single computer or a group, address and netmask.
class GrantAccessIpDialog {
 public:
  static constexpr size_t kMaxTextLength = 20;

  GrantAccessIpDialog(Prompter& prompter, std::string info, std::string address,
                      std::string netmask);

  std::string info_text;
  std::string address_text;
  std::string netmask_text;
  bool single_computer() const { return single_; }
  bool netmask_enabled() const { return !single_; }

  // The radios.
  void ChooseSingleComputer();
  void ChooseGroup();
  // Validates the texts (an empty netmask counts as 255.255.255.255); on success the
  // chosen pair is in address() and netmask().
  bool Ok();
  Ipv4 address() const { return address_; }
  Ipv4 netmask() const { return netmask_; }

 private:
  Prompter& prompter_;
  bool single_ = false;
  Ipv4 address_ = 0;
  Ipv4 netmask_ = 0;
};

// Add Port (dialog 183): a multi-selection list of "Port %d" for the server's ports.
class AddPortDialog {
 public:
  AddPortDialog(int port_count, Ipv4 address, Ipv4 netmask);

  std::vector<std::string> items;  // "Port 1" ...
  std::vector<bool> selected;      // one per item
  std::string address_text;        // read-only
  std::string netmask_text;        // read-only

  // Bit i set for every selected row i.
  uint16_t PortMask() const;
};

enum class AccessView : int { kByPort = 0, kByAddress = 1 };

struct AccessTreeNode {
  std::string text;
  int port = 0;    // 1-based port of a port item, 0 otherwise
  int entry = -1;  // access table index of an address item, -1 otherwise
  std::vector<AccessTreeNode> children;
};

struct AccessTreePath {
  int top = -1;  // -1: the root
  int sub = -1;  // -1: the first-level item itself
  bool operator==(const AccessTreePath&) const = default;
};

struct AccessButtons {
  bool add_ip = false;
  bool add_port = false;
  bool remove = false;
  bool modify = false;
  bool operator==(const AccessButtons&) const = default;
};

class AccessControlPage : public SheetPage {
 public:
  AccessControlPage(Prompter& prompter, ServerRecord& record, PropertyDialogs& dialogs);

  // "View access control list by :" — index 0 "Port", 1 "IP address".
  static std::vector<std::string> ViewItems() { return {"Port", "IP address"}; }
  AccessView view() const { return view_; }
  void SetView(AccessView view);

  const AccessTreeNode& tree() const { return root_; }
  const AccessTreePath& selection() const { return selection_; }
  // Selects an item; false (selection unchanged) for a path that is not in the tree.
  bool Select(AccessTreePath path);
  AccessButtons buttons() const;

  void AddIp();
  void AddPort();
  void Remove();
  void Modify();

  // The OK step: port status refresh.
  void OnOk() override;

 private:
  enum class Kind { kRoot, kPort, kAddress, kAddressUnderPort, kPortUnderAddress };
  Kind SelectedKind() const;
  const AccessTreeNode* SelectedNode() const;
  void Rebuild();
  std::string ServerNameText() const;
  void TableFull();

  ServerRecord& record_;
  PropertyDialogs& dialogs_;
  AccessView view_ = AccessView::kByPort;
  AccessTreeNode root_;
  AccessTreePath selection_;
};

}  // namespace zelin::manager
