#include "srvmanager/core/server_tree.hpp"

#include <utility>

#include "protocol/address.hpp"
#include "protocol/discovery.hpp"
#include "srvmanager/core/commands.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

constexpr int kProbeTimeoutSeconds = 1;

}  // namespace

std::string ServerTree::RootLabel() {
  return std::string(ManagerString(kStrTreeRoot));
}

int ServerTree::FindFoundForEntry(const ServerConfig& entry) const {
  const ServerList& found = tables_.found();
  for (int i = 0; i < found.count; ++i) {
    const auto& r = found.records[static_cast<size_t>(i)];
    if (r.serial_number() != entry.serial_number) continue;
    if (entry.write_state == kWriteWhenChanged && r.ip_address() != entry.ip_address) continue;
    return i;
  }
  return -1;
}

bool ServerTree::in_tree(int found_index) const {
  return found_index >= 0 && found_index < static_cast<int>(kMaxServers) &&
         in_tree_[static_cast<size_t>(found_index)] != 0;
}

void ServerTree::SetInTree(int found_index, bool value) {
  if (found_index < 0 || found_index >= static_cast<int>(kMaxServers)) return;
  in_tree_[static_cast<size_t>(found_index)] = value ? 1 : 0;
}

void ServerTree::BuildTree() {
  const int count = tables_.count();
  const uint16_t keep_serial = selected_server_ >= 0 && selected_server_ < count
                                   ? tables_.server(selected_server_).serial_number
                                   : 0;
  const bool had_selection = selected_server_ >= 0 && selected_server_ < count;
  ServerList& found = tables_.found();
  tree_.clear();
  in_tree_.fill(0);
  WaitCursor wait(prompter_);
  // The entries that the search did not find are probed side by side first; their
  // answers are then taken in the tree's order, as if each had been probed in turn.
  std::vector<Ipv4> silent;
  std::vector<int> probe_of(static_cast<size_t>(count), -1);
  for (int si = 0; si < count; ++si) {
    if (FindFoundForEntry(tables_.server(si)) >= 0) continue;
    probe_of[static_cast<size_t>(si)] = static_cast<int>(silent.size());
    silent.push_back(tables_.server(si).ip_address);
  }
  if (!silent.empty() && probe_progress_) probe_progress_(static_cast<int>(silent.size()));
  const std::vector<Result<int>> answers =
      ProbeAddressesRetry(transport_, found, silent, kProbeTimeoutSeconds);
  for (int si = 0; si < count; ++si) {
    ServerConfig& entry = tables_.server(si);
    const int probe = probe_of[static_cast<size_t>(si)];
    int fi = probe < 0 ? FindFoundForEntry(entry) : -1;
    if (probe >= 0) {
      const int probed = answers[static_cast<size_t>(probe)].value_or(-1);
      if (ValidFound(found, probed)) {
        tables_.CopyToSavedFound(probed);
        const ServerRecord& rec = found.records[static_cast<size_t>(probed)];
        if (rec.serial_number() == entry.serial_number) {
          fi = probed;
        } else if (rec.device_type() == entry.device_type && installation_type_ != kSingleHost &&
                   !adopt_offer_made_) {
          adopt_offer_made_ = true;
          const std::string text = AdoptOffer(entry.name(), AddressToText(entry.ip_address),
                                              entry.serial_number, rec.serial_number());
          if (prompter_.AskDefaultCancel(text, MsgIcon::Question) == MsgAnswer::Ok) {
            tables_.Adopt(si, rec.serial_number());
            fi = probed;
          }
        }
      }
    }
    TreeItem item;
    item.server_index = si;
    if (fi < 0) {
      item.icon = kIconOffline;
      item.label = entry.name();
    } else {
      const ServerRecord& rec = found.records[static_cast<size_t>(fi)];
      item.found_index = fi;
      item.icon = kIconOnline;
      item.label = TreeLabel(rec.name(), rec.device_type());
      SetInTree(fi, true);
    }
    tree_.push_back(std::move(item));
  }
  // Keep the same server selected across the rebuild when it is still there.
  FillSelectionFromItem(-1);
  if (had_selection) {
    for (size_t i = 0; i < tree_.size(); ++i) {
      if (tables_.server(tree_[i].server_index).serial_number == keep_serial) {
        FillSelectionFromItem(static_cast<int>(i));
        break;
      }
    }
  }
}

void ServerTree::FillSelectionFromItem(int item) {
  selected_item_ = -1;
  selected_server_ = -1;
  selected_found_ = -1;
  selected_port_ = -1;
  if (item < 0 || item >= static_cast<int>(tree_.size())) return;
  const TreeItem& ti = tree_[static_cast<size_t>(item)];
  const ServerList& found = tables_.found();
  selected_item_ = item;
  selected_server_ = ti.server_index;
  if (ti.found_index >= 0 && ValidFound(found, ti.found_index)) {
    const uint16_t serial = found.records[static_cast<size_t>(ti.found_index)].serial_number();
    selected_found_ = found.FindSerial(serial);
  }
}

void ServerTree::ContextMenuOpened(int item) {
  before_menu_item_ = selected_item_;
  before_menu_port_ = selected_port_;
  FillSelectionFromItem(item);
}

void ServerTree::ContextMenuClosed(int highlighted_item) {
  FillSelectionFromItem(highlighted_item);
  if (selected_item_ >= 0 && selected_item_ == before_menu_item_)
    selected_port_ = before_menu_port_;
  before_menu_item_ = before_menu_port_ = -1;
}

const ServerRecord* ServerTree::selected_record() const {
  const ServerList& found = tables_.found();
  return ValidFound(found, selected_found_) ? &found.records[static_cast<size_t>(selected_found_)]
                                            : nullptr;
}

void ServerTree::SetItemLabel(int item, std::string label) {
  if (item >= 0 && item < static_cast<int>(tree_.size()))
    tree_[static_cast<size_t>(item)].label = std::move(label);
}

bool ServerTree::ActivateTreeItem(int item) {
  if (item < 0 || item >= static_cast<int>(tree_.size())) return false;
  TreeItem& ti = tree_[static_cast<size_t>(item)];
  if (ti.icon == kIconOnline) return true;
  ServerConfig& entry = tables_.server(ti.server_index);
  ServerList& found = tables_.found();
  int probed;
  {
    WaitCursor wait(prompter_);
    probed =
        ProbeAddressRetry(transport_, found, entry.ip_address, kProbeTimeoutSeconds).value_or(-1);
  }
  if (!ValidFound(found, probed)) return false;
  const ServerRecord& rec = found.records[static_cast<size_t>(probed)];
  if (rec.serial_number() != entry.serial_number) return false;
  entry.set_name(rec.name());
  ti.icon = kIconOnline;
  ti.found_index = probed;
  SetInTree(probed, true);
  tables_.CopyToSavedFound(probed);
  ti.label = TreeLabel(rec.name(), rec.device_type());
  if (selected_item_ == item) selected_found_ = probed;
  return false;
}

}  // namespace zelin::manager
