#include "srvmanager/properties/core/access_control_page.hpp"

#include "protocol/address.hpp"
#include "srvmanager/properties/core/access_table.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {
namespace {

constexpr Ipv4 kSingleHostMask = 0xFFFFFFFFu;
constexpr uint16_t Bit(int port) {
  return static_cast<uint16_t>(1u << (port - 1));
}

}  // namespace

// --- Grant Access IP ---------------------------------------------------------------

GrantAccessIpDialog::GrantAccessIpDialog(Prompter& prompter, std::string info, std::string address,
                                         std::string netmask)
    : info_text(std::move(info)),
      address_text(std::move(address)),
      netmask_text(std::move(netmask)),
      prompter_(prompter) {
  single_ = netmask_text == kPsSingleHostMask;
  if (single_) netmask_text.clear();
}

void GrantAccessIpDialog::ChooseSingleComputer() {
  single_ = true;
  netmask_text = std::string(kPsSingleHostMask);
}

void GrantAccessIpDialog::ChooseGroup() {
  single_ = false;
}

bool GrantAccessIpDialog::Ok() {
  const std::string mask = netmask_text.empty() ? std::string(kPsSingleHostMask) : netmask_text;
  if (!IsValidAddressText(address_text) || !IsValidAddressText(mask)) {
    prompter_.Message(ManagerString(kStrInvalidAddress), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  const Ipv4 a = TextToAddress(address_text);
  // 0.0.0.0 and 255.255.255.255 end the table when the server sends it back, so an
  // entry with either address would silently vanish after the next save.
  if (a == 0 || a == kBroadcastAddress) {
    prompter_.Message(kPsInvalidHostAddress, MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  address_ = a;
  netmask_ = TextToAddress(mask);
  return true;
}

// --- Add Port ------------------------------------------------------------------------

AddPortDialog::AddPortDialog(int port_count, Ipv4 address, Ipv4 netmask)
    : address_text(AddressToText(address)), netmask_text(AddressToText(netmask)) {
  for (int p = 1; p <= port_count && p <= 16; ++p) items.push_back(Format("Port %d", p));
  selected.assign(items.size(), false);
}

uint16_t AddPortDialog::PortMask() const {
  uint16_t mask = 0;
  for (size_t i = 0; i < selected.size() && i < 16; ++i)
    if (selected[i]) mask = static_cast<uint16_t>(mask | (1u << i));
  return mask;
}

// --- the page ------------------------------------------------------------------------

AccessControlPage::AccessControlPage(Prompter& prompter, ServerRecord& record,
                                   PropertyDialogs& dialogs)
    : SheetPage(prompter), record_(record), dialogs_(dialogs) {
  Rebuild();
}

void AccessControlPage::SetView(AccessView view) {
  view_ = view;
  Rebuild();
}

void AccessControlPage::Rebuild() {
  root_ = AccessTreeNode{};
  const std::string name = record_.name();
  const std::string ip = AddressToText(record_.ip_address());
  root_.text = Format("%s(%s)", name.c_str(), ip.c_str());
  const int ports = RecordPortCount(record_);
  const int n = AccessEntryCount(record_);
  if (view_ == AccessView::kByPort) {
    for (int p = 1; p <= ports; ++p) {
      AccessTreeNode port{Format("Port %d", p), p, -1, {}};
      for (int i = 0; i < n; ++i) {
        const AccessEntry& e = record_.access_table[static_cast<size_t>(i)];
        if ((e.port_mask & Bit(p)) == 0) continue;
        port.children.push_back({Format("%s       %s", AddressToText(e.address).c_str(),
                                        AddressToText(e.netmask).c_str()),
                                 0,
                                 i,
                                 {}});
      }
      root_.children.push_back(std::move(port));
    }
  } else {
    for (int i = 0; i < n; ++i) {
      const AccessEntry& e = record_.access_table[static_cast<size_t>(i)];
      AccessTreeNode address{
          Format("%s      %s", AddressToText(e.address).c_str(), AddressToText(e.netmask).c_str()),
          0,
          i,
          {}};
      for (int p = 1; p <= 16; ++p)
        if (e.port_mask & Bit(p)) address.children.push_back({Format("Port %d", p), p, -1, {}});
      root_.children.push_back(std::move(address));
    }
  }
  selection_ = AccessTreePath{};
}

bool AccessControlPage::Select(AccessTreePath path) {
  if (path.top < -1 || path.top >= static_cast<int>(root_.children.size())) return false;
  if (path.top == -1) path.sub = -1;
  if (path.top >= 0) {
    const auto& kids = root_.children[static_cast<size_t>(path.top)].children;
    if (path.sub < -1 || path.sub >= static_cast<int>(kids.size())) return false;
  }
  selection_ = path;
  return true;
}

AccessControlPage::Kind AccessControlPage::SelectedKind() const {
  if (selection_.top < 0) return Kind::kRoot;
  if (view_ == AccessView::kByPort)
    return selection_.sub < 0 ? Kind::kPort : Kind::kAddressUnderPort;
  return selection_.sub < 0 ? Kind::kAddress : Kind::kPortUnderAddress;
}

const AccessTreeNode* AccessControlPage::SelectedNode() const {
  if (selection_.top < 0) return &root_;
  const auto& top = root_.children[static_cast<size_t>(selection_.top)];
  if (selection_.sub < 0) return &top;
  return &top.children[static_cast<size_t>(selection_.sub)];
}

AccessButtons AccessControlPage::buttons() const {
  switch (SelectedKind()) {
    case Kind::kRoot:
      return view_ == AccessView::kByPort ? AccessButtons{}
                                          : AccessButtons{true, false, false, false};
    case Kind::kPort:
      return {true, false, false, false};
    case Kind::kAddressUnderPort:
      return {false, false, true, true};
    case Kind::kAddress:
      return {false, true, true, true};
    case Kind::kPortUnderAddress:
      return {false, false, true, false};
  }
  return {};
}

std::string AccessControlPage::ServerNameText() const {
  return Format("Server Name : %s", record_.name().c_str());
}

void AccessControlPage::TableFull() {
  prompter_.Message(kPsAccessTableFull, MsgButtons::Ok, MsgIcon::Warning);
}

void AccessControlPage::AddIp() {
  const Kind kind = SelectedKind();
  if (kind == Kind::kPort) {
    const int port = SelectedNode()->port;
    GrantAccessIpDialog grant(prompter_, ServerNameText() + Format("\nPort %d", port), "",
                              std::string(kPsSingleHostMask));
    if (dialogs_.RunGrantAccessIp(grant)) {
      if (!MergeAccessPorts(record_, grant.address(), grant.netmask(), grant.address(),
                            grant.netmask(), Bit(port), true))
        TableFull();
      Rebuild();
    }
  } else if (kind == Kind::kRoot && view_ == AccessView::kByAddress) {
    GrantAccessIpDialog grant(prompter_, ServerNameText(), "", "");
    if (!dialogs_.RunGrantAccessIp(grant)) return;
    const Ipv4 a = grant.address(), m = grant.netmask();
    if (!MergeAccessPorts(record_, a, m, a, m, 0, true)) {
      TableFull();
      Rebuild();
      return;
    }
    AddPortDialog add(RecordPortCount(record_), a, m);
    if (dialogs_.RunAddPort(add)) MergeAccessPorts(record_, a, m, a, m, add.PortMask(), true);
    Rebuild();
  }
}

void AccessControlPage::AddPort() {
  if (SelectedKind() != Kind::kAddress) return;
  const AccessEntry e = record_.access_table[static_cast<size_t>(SelectedNode()->entry)];
  AddPortDialog add(RecordPortCount(record_), e.address, e.netmask);
  if (!dialogs_.RunAddPort(add)) return;
  MergeAccessPorts(record_, e.address, e.netmask, e.address, e.netmask, add.PortMask(), true);
  Rebuild();
}

void AccessControlPage::Remove() {
  const Kind kind = SelectedKind();
  if (kind == Kind::kAddressUnderPort) {
    const int port = root_.children[static_cast<size_t>(selection_.top)].port;
    auto& e = record_.access_table[static_cast<size_t>(SelectedNode()->entry)];
    e.port_mask = static_cast<uint16_t>(e.port_mask & ~Bit(port));
  } else if (kind == Kind::kAddress) {
    DeleteAccessEntry(record_, SelectedNode()->entry);
  } else if (kind == Kind::kPortUnderAddress) {
    const int entry = root_.children[static_cast<size_t>(selection_.top)].entry;
    auto& e = record_.access_table[static_cast<size_t>(entry)];
    e.port_mask = static_cast<uint16_t>(e.port_mask & ~Bit(SelectedNode()->port));
  } else {
    return;
  }
  Rebuild();
}

void AccessControlPage::Modify() {
  const Kind kind = SelectedKind();
  if (kind != Kind::kAddressUnderPort && kind != Kind::kAddress) return;
  const int index = SelectedNode()->entry;
  const AccessEntry old = record_.access_table[static_cast<size_t>(index)];
  const bool by_port = kind == Kind::kAddressUnderPort;
  const int port = by_port ? root_.children[static_cast<size_t>(selection_.top)].port : 0;
  std::string info = ServerNameText();
  if (by_port) info += Format("\nPort %d", port);
  GrantAccessIpDialog grant(prompter_, info, AddressToText(old.address),
                            AddressToText(old.netmask));
  if (!dialogs_.RunGrantAccessIp(grant)) return;
  const bool changed = grant.address() != old.address || grant.netmask() != old.netmask;
  if (by_port) {
    if (!changed) return;
    if (!MergeAccessPorts(record_, old.address, old.netmask, grant.address(), grant.netmask(),
                          Bit(port), true))
      TableFull();
  } else if (changed) {
    // The old entry goes and its whole mask joins the new pair's entry (appended when
    // there is none). Deleting first gives the same table as merging first, and lets
    // a full table take the new address.
    DeleteAccessEntry(record_, index);
    MergeAccessPorts(record_, grant.address(), grant.netmask(), grant.address(), grant.netmask(),
                     old.port_mask, true);
  }
  Rebuild();
}

void AccessControlPage::OnOk() {
  RefreshPortStatus(record_);
}

}  // namespace zelin::manager
