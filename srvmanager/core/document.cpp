#include "srvmanager/core/document.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "protocol/address.hpp"
#include "protocol/device_text.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/core/model_info.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

constexpr int kCommandTimeoutSeconds = 1;
constexpr int kProbeTimeoutSeconds = 1;
constexpr int kSearchSecondRoundSeconds = 1;
constexpr int kRestartTimeoutSeconds = 10;
constexpr int64_t kAfterRestartMs = 5000;
constexpr int kMaxComNumber = 256;

bool ValidFound(const ServerList& list, int index) {
  return index >= 0 && index < list.count && index < static_cast<int>(kMaxServers);
}

// The ports of a configured server: its model's count, never more than a record holds.
int PortsOf(const ServerConfig& entry) {
  return std::min<int>(PortCountOfModel(entry.device_type), kMaxServerPorts);
}

}  // namespace

std::vector<std::string> MapPortItems() {
  std::vector<std::string> items;
  items.reserve(kMaxComNumber + 1);
  items.emplace_back("NONE");
  for (int n = 1; n <= kMaxComNumber; ++n) items.push_back(Format("COM%d", n));
  return items;
}

CDaoViewDoc::CDaoViewDoc(Transport& transport, ManagerStore& store, int installation_type,
                         std::function<void()> fresh_port)
    : transport_(transport),
      store_(store),
      installation_type_(installation_type),
      fresh_port_(std::move(fresh_port)),
      progress_(transport.prompter()) {}

std::string CDaoViewDoc::RootLabel() {
  return std::string(ManagerString(kStrTreeRoot));
}

// --- load ------------------------------------------------------------------------

std::string CDaoViewDoc::WithStoreDetail(std::string_view message) const {
  std::string text(message);
  const std::string detail = store_.LastError();
  if (!detail.empty()) text += (text.ends_with('\n') ? "" : "\n") + detail;
  return text;
}

void CDaoViewDoc::Load() {
  {
    WaitCursor wait(transport_.prompter());
    SearchServers(transport_, found_, kSearchSecondRoundSeconds);
  }
  found_.count = std::clamp(found_.count, 0, static_cast<int>(kMaxServers));
  for (int i = 0; i < found_.count; ++i) {
    auto& r = found_.records[static_cast<size_t>(i)];
    r.password_change_pending = false;
  }
  in_tree_.fill(0);
  saved_found_ = found_;

  servers_.fill(ServerConfig{});
  const int loaded = store_.Load(servers_.data(), kCapacity);
  if (loaded < 0) {
    transport_.prompter().Message(WithStoreDetail(ManagerString(kStrLoadStoreFailed)));
    count_ = 0;
  } else {
    count_ = std::min(loaded, kCapacity);
  }
  for (auto& s : servers_) s.tables_changed = 0;
  saved_count_ = count_;
  saved_servers_ = servers_;
  BuildTree();
}

int CDaoViewDoc::FindFoundForEntry(const ServerConfig& entry) const {
  for (int i = 0; i < found_.count; ++i) {
    const auto& r = found_.records[static_cast<size_t>(i)];
    if (r.serial_number() != entry.serial_number) continue;
    if (entry.write_state == kWriteWhenChanged && r.ip_address() != entry.ip_address) continue;
    return i;
  }
  return -1;
}

int CDaoViewDoc::FindSavedServer(uint16_t serial) const {
  for (int i = 0; i < saved_count_; ++i)
    if (saved_servers_[static_cast<size_t>(i)].serial_number == serial) return i;
  return -1;
}

bool CDaoViewDoc::in_tree(int found_index) const {
  return found_index >= 0 && found_index < static_cast<int>(kMaxServers) &&
         in_tree_[static_cast<size_t>(found_index)] != 0;
}

void CDaoViewDoc::SetInTree(int found_index, bool value) {
  if (found_index < 0 || found_index >= static_cast<int>(kMaxServers)) return;
  in_tree_[static_cast<size_t>(found_index)] = value ? 1 : 0;
}

void CDaoViewDoc::CopyToSavedFound(int found_index) {
  if (!ValidFound(found_, found_index)) return;
  saved_found_.records[static_cast<size_t>(found_index)] =
      found_.records[static_cast<size_t>(found_index)];
  saved_found_.count = std::max(saved_found_.count, found_index + 1);
}

void CDaoViewDoc::BuildTree() {
  const uint16_t keep_serial = selected_server_ >= 0 && selected_server_ < count_
                                   ? servers_[static_cast<size_t>(selected_server_)].serial_number
                                   : 0;
  const bool had_selection = selected_server_ >= 0 && selected_server_ < count_;
  tree_.clear();
  in_tree_.fill(0);
  WaitCursor wait(transport_.prompter());
  for (int si = 0; si < count_; ++si) {
    ServerConfig& entry = servers_[static_cast<size_t>(si)];
    int fi = FindFoundForEntry(entry);
    if (fi < 0) {
      const int probed =
          ProbeAddressRetry(transport_, found_, entry.ip_address, kProbeTimeoutSeconds);
      if (ValidFound(found_, probed)) {
        CopyToSavedFound(probed);
        const ServerRecord& rec = found_.records[static_cast<size_t>(probed)];
        if (rec.serial_number() == entry.serial_number) {
          fi = probed;
        } else if (rec.device_type() == entry.device_type && installation_type_ != kSingleHost &&
                   !adopt_offer_made_) {
          adopt_offer_made_ = true;
          const std::string text = AdoptOffer(entry.name(), AddressToText(entry.ip_address),
                                              entry.serial_number, rec.serial_number());
          if (transport_.prompter().AskDefaultCancel(text, MsgIcon::Question) == MsgAnswer::Ok) {
            const int saved = FindSavedServer(entry.serial_number);
            adopted_.push_back({entry.serial_number, rec.serial_number()});
            entry.serial_number = rec.serial_number();
            if (saved >= 0)
              saved_servers_[static_cast<size_t>(saved)].serial_number = rec.serial_number();
            modified_ = true;
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
      const ServerRecord& rec = found_.records[static_cast<size_t>(fi)];
      item.found_index = fi;
      item.icon = kIconOnline;
      item.label = TreeLabel(rec.name(), rec.device_type());
      SetInTree(fi, true);
    }
    tree_.push_back(std::move(item));
  }
  // Keep the same server selected across the rebuild when it is still there.
  selected_item_ = -1;
  selected_server_ = -1;
  selected_found_ = -1;
  selected_port_ = -1;
  if (had_selection) {
    for (size_t i = 0; i < tree_.size(); ++i) {
      if (servers_[static_cast<size_t>(tree_[i].server_index)].serial_number == keep_serial) {
        FillSelectionFromItem(static_cast<int>(i));
        break;
      }
    }
  }
}

// --- selection and views ------------------------------------------------------------

void CDaoViewDoc::FillSelectionFromItem(int item) {
  selected_item_ = -1;
  selected_server_ = -1;
  selected_found_ = -1;
  selected_port_ = -1;
  if (item < 0 || item >= static_cast<int>(tree_.size())) return;
  const TreeItem& ti = tree_[static_cast<size_t>(item)];
  selected_item_ = item;
  selected_server_ = ti.server_index;
  if (ti.found_index >= 0 && ValidFound(found_, ti.found_index)) {
    const uint16_t serial = found_.records[static_cast<size_t>(ti.found_index)].serial_number();
    selected_found_ = found_.FindSerial(serial);
  }
}

void CDaoViewDoc::SelectTreeItem(int item) {
  FillSelectionFromItem(item);
}

const ServerRecord* CDaoViewDoc::selected_record() const {
  return ValidFound(found_, selected_found_) ? &found_.records[static_cast<size_t>(selected_found_)]
                                             : nullptr;
}

std::vector<std::string> CDaoViewDoc::PortColumns() {
  std::vector<std::string> cols;
  const std::string_view s = ManagerString(kStrPortColumns);
  size_t start = 0;
  while (true) {
    const size_t comma = s.find(',', start);
    cols.emplace_back(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return cols;
}

std::vector<PortRow> CDaoViewDoc::PortRows() const {
  std::vector<PortRow> rows;
  if (selected_server_ < 0 || selected_server_ >= count_) return rows;
  const ServerConfig& entry = servers_[static_cast<size_t>(selected_server_)];
  const ServerRecord* rec = selected_record();
  const int ports = PortsOf(entry);
  for (int p = 0; p < ports; ++p) {
    PortRow row;
    const auto pi = static_cast<size_t>(p);
    row.port = PortNumberText(p + 1);
    row.mapped = entry.port_mapped[pi] != 0;
    row.com = row.mapped ? ComNameText(entry.com_number[pi]) : "---";
    if (rec != nullptr) {
      row.status_code = rec->port_kind(pi);
      row.status = std::string(PortStatusText(row.status_code));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool CDaoViewDoc::ActivateTreeItem(int item) {
  if (item < 0 || item >= static_cast<int>(tree_.size())) return false;
  TreeItem& ti = tree_[static_cast<size_t>(item)];
  if (ti.icon == kIconOnline) return true;
  ServerConfig& entry = servers_[static_cast<size_t>(ti.server_index)];
  int probed;
  {
    WaitCursor wait(transport_.prompter());
    probed = ProbeAddressRetry(transport_, found_, entry.ip_address, kProbeTimeoutSeconds);
  }
  if (!ValidFound(found_, probed)) return false;
  const ServerRecord& rec = found_.records[static_cast<size_t>(probed)];
  if (rec.serial_number() != entry.serial_number) return false;
  entry.set_name(rec.name());
  ti.icon = kIconOnline;
  ti.found_index = probed;
  SetInTree(probed, true);
  CopyToSavedFound(probed);
  ti.label = TreeLabel(rec.name(), rec.device_type());
  if (selected_item_ == item) selected_found_ = probed;
  return false;
}

bool CDaoViewDoc::PortRowOpensMapPort(int row) const {
  const ServerRecord* rec = selected_record();
  if (rec == nullptr || row < 0) return false;
  const auto rows = PortRows();
  return row < static_cast<int>(rows.size()) &&
         rows[static_cast<size_t>(row)].status_code == kPortMappable;
}

// --- enabling -------------------------------------------------------------------------

bool CDaoViewDoc::IsEnabled(int command, ActiveView view) const {
  command = MainCommandOf(command);
  if (command == kCmdAddServerWizard) return true;
  if (command == kCmdSaveConfiguration) return modified_;
  const bool server_item = selected_item_ >= 0 && selected_server_ >= 0;
  const bool online = server_item && selected_record() != nullptr;
  if (view == ActiveView::Tree) {
    switch (command) {
      case kCmdDeleteServer:
        return server_item;
      case kCmdServerProperties:
        return online;
      case kCmdUpgradeFirmware:
        return online &&
               servers_[static_cast<size_t>(selected_server_)].write_state == kWriteWhenChanged;
      case kCmdReplaceServer:
        return server_item && !online && installation_type_ == kSingleHost;
      default:
        return false;
    }
  }
  // Port list active.
  const ServerRecord* rec = selected_record();
  if (rec == nullptr || selected_port_ < 0 || selected_server_ < 0) return false;
  if (selected_port_ >= PortsOf(servers_[static_cast<size_t>(selected_server_)])) return false;
  const auto pi = static_cast<size_t>(selected_port_);
  const uint8_t status = rec->port_kind(pi);
  switch (command) {
    case kCmdMapPort:
      return status == kPortMappable;
    case kCmdUnMapPort:
      if (servers_[static_cast<size_t>(selected_server_)].port_mapped[pi] == 0) return false;
      return status == kPortMappable ||
             (installation_type_ == kCustom && status != kPortWan && status != kPortNoAccess);
    default:
      return false;
  }
}

bool CDaoViewDoc::IsContextEnabled(int command) const {
  // Menu 133 follows the tree's rules for the item under the mouse; menu 139 holds
  // only the Add Server Wizard.
  switch (MainCommandOf(command)) {
    case kCmdDeleteServer:
    case kCmdServerProperties:
    case kCmdReplaceServer:
    case kCmdUpgradeFirmware:
    case kCmdAddServerWizard:
      return IsEnabled(command, ActiveView::Tree);
    default:
      return false;
  }
}

// --- Delete Server -------------------------------------------------------------------

void CDaoViewDoc::DeleteServer() {
  if (transport_.prompter().Message(ManagerString(kStrConfirmDelete), MsgButtons::OkCancel,
                                    MsgIcon::Question) != MsgAnswer::Ok)
    return;
  if (selected_server_ < 0 || selected_server_ >= count_) return;
  const uint16_t serial = servers_[static_cast<size_t>(selected_server_)].serial_number;
  int index = -1;
  for (int i = 0; i < count_; ++i)
    if (servers_[static_cast<size_t>(i)].serial_number == serial) {
      index = i;
      break;
    }
  if (index < 0) return;
  for (int i = index; i + 1 < count_; ++i)
    servers_[static_cast<size_t>(i)] = servers_[static_cast<size_t>(i + 1)];
  servers_[static_cast<size_t>(count_ - 1)] = ServerConfig{};
  --count_;
  if (ValidFound(found_, selected_found_)) {
    found_.records[static_cast<size_t>(selected_found_)] = ServerRecord{};
    in_tree_[static_cast<size_t>(selected_found_)] = 0;
  }
  modified_ = true;
  selected_item_ = selected_server_ = selected_found_ = selected_port_ = -1;
  BuildTree();
}

// --- Map Port / UnMap Port ---------------------------------------------------------------

bool CDaoViewDoc::ServerArrayChanged() const {
  if (count_ != saved_count_) return true;
  for (int i = 0; i < count_; ++i)
    if (!(servers_[static_cast<size_t>(i)] == saved_servers_[static_cast<size_t>(i)])) return true;
  return false;
}

std::optional<MapPortChoice> CDaoViewDoc::BeginMapPort() {
  if (selected_port_ < 0 || selected_server_ < 0 || selected_server_ >= count_) {
    transport_.prompter().Message(ManagerString(kStrSelectServerFirst));
    return std::nullopt;
  }
  const ServerRecord* rec = selected_record();
  if (rec == nullptr || found_.FindSerial(rec->serial_number()) < 0) {
    transport_.prompter().Message(ManagerString(kStrGetInterfaceError));
    return std::nullopt;
  }
  const ServerConfig& entry = servers_[static_cast<size_t>(selected_server_)];
  const int ports = PortsOf(entry);
  if (selected_port_ >= ports) {
    transport_.prompter().Message(ManagerString(kStrSelectServerFirst));
    return std::nullopt;
  }
  const auto pi = static_cast<size_t>(selected_port_);
  MapPortChoice c;
  c.port = selected_port_;
  c.label = MapPortLabel(selected_port_ + 1, entry.name());
  c.selection = entry.port_mapped[pi] != 0 ? ComNumberOf(entry.com_number[pi]) : 0;
  c.consecutive = false;
  c.consecutive_enabled = selected_port_ == 0;
  c.classical = (entry.port_options[pi] & kOptionClassical) != 0;
  c.fifo_disabled = (entry.port_options[pi] & kOptionFifoDisabled) != 0;
  return c;
}

void CDaoViewDoc::FinishMapPort(const MapPortChoice& choice) {
  if (selected_server_ < 0 || selected_server_ >= count_) return;
  ServerConfig& entry = servers_[static_cast<size_t>(selected_server_)];
  const int ports = PortsOf(entry);
  if (choice.port < 0 || choice.port >= ports) return;
  const int k = std::clamp(choice.selection, 0, kMaxComNumber);
  const auto pi = static_cast<size_t>(choice.port);
  if (choice.port != 0 || !choice.consecutive) {
    if (k == 0) {
      entry.port_mapped[pi] = 0;  // the COM number byte keeps its value
    } else {
      entry.port_mapped[pi] = 1;
      entry.com_number[pi] = static_cast<uint8_t>(k == kMaxComNumber ? 0 : k);
    }
  } else {
    const ServerRecord* rec = selected_record();
    for (int p = 0; p < ports; ++p) {
      entry.port_mapped[static_cast<size_t>(p)] = 0;
      entry.com_number[static_cast<size_t>(p)] = 0;
    }
    int running = k;
    for (int p = 0; p < ports; ++p) {
      if (running > kMaxComNumber) {
        transport_.prompter().Message(ManagerString(kStrComLimitExceeded));
        break;
      }
      const bool available =
          rec != nullptr && rec->port_kind(static_cast<size_t>(p)) == kPortMappable;
      if (k == 0 || !available) continue;
      entry.port_mapped[static_cast<size_t>(p)] = 1;
      entry.com_number[static_cast<size_t>(p)] =
          static_cast<uint8_t>(running == kMaxComNumber ? 0 : running);
      ++running;
    }
  }
  uint8_t opts = entry.port_options[pi];
  opts = static_cast<uint8_t>(choice.classical ? (opts | kOptionClassical)
                                               : (opts & ~kOptionClassical));
  opts = static_cast<uint8_t>(choice.fifo_disabled ? (opts | kOptionFifoDisabled)
                                                   : (opts & ~kOptionFifoDisabled));
  entry.port_options[pi] = opts;
  if (ServerArrayChanged()) modified_ = true;
}

void CDaoViewDoc::UnMapPort() {
  if (selected_server_ < 0 || selected_server_ >= count_ || selected_port_ < 0) return;
  if (selected_port_ >= static_cast<int>(kMaxServerPorts)) return;
  ServerConfig& entry = servers_[static_cast<size_t>(selected_server_)];
  entry.port_mapped[static_cast<size_t>(selected_port_)] = 0;
  entry.com_number[static_cast<size_t>(selected_port_)] = 0;
  if (ServerArrayChanged()) modified_ = true;
}

// --- conflict check ------------------------------------------------------------------------

std::optional<std::string> CDaoViewDoc::FindComConflict() const {
  for (int s = 0; s < count_; ++s) {
    const ServerConfig& a = servers_[static_cast<size_t>(s)];
    const int pa = PortsOf(a);
    for (int p = 0; p < pa; ++p) {
      const auto pi = static_cast<size_t>(p);
      if (a.port_mapped[pi] == 0) continue;
      for (int q = 0; q < pa; ++q) {
        const auto qi = static_cast<size_t>(q);
        if (q != p && a.port_mapped[qi] != 0 && a.com_number[qi] == a.com_number[pi])
          return ConflictSameServer(a.name(), p + 1, q + 1);
      }
      for (int t = s + 1; t < count_; ++t) {
        const ServerConfig& b = servers_[static_cast<size_t>(t)];
        const int pb = PortsOf(b);
        for (int q = 0; q < pb; ++q) {
          const auto qi = static_cast<size_t>(q);
          if (b.port_mapped[qi] != 0 && b.com_number[qi] == a.com_number[pi])
            return ConflictOtherServer(a.name(), p + 1, ComNumberOf(a.com_number[pi]), b.name(),
                                       q + 1);
        }
      }
    }
  }
  return std::nullopt;
}

// --- change detection ---------------------------------------------------------------------------

bool CDaoViewDoc::ServerChanged(int server_index) const {
  if (server_index < 0 || server_index >= count_) return false;
  const uint16_t serial = servers_[static_cast<size_t>(server_index)].serial_number;
  const int fi = found_.FindSerial(serial);
  if (fi < 0) return false;
  const ServerRecord& cur = found_.records[static_cast<size_t>(fi)];
  const int si = saved_found_.FindSerial(serial);
  if (si < 0) return true;
  const ServerRecord& old = saved_found_.records[static_cast<size_t>(si)];
  if (cur.password_change_pending) return true;
  const auto& a = cur.search_reply;
  const auto& b = old.search_reply;
  if (!std::equal(a.begin() + wire::kSrName, a.begin() + wire::kSrName + wire::kNameSize,
                  b.begin() + wire::kSrName))
    return true;
  if (!std::equal(a.begin() + wire::kSrPortKinds, a.begin() + wire::kSrPortKinds + wire::kMaxPorts,
                  b.begin() + wire::kSrPortKinds))
    return true;
  if (cur.ip_address() != old.ip_address() || cur.netmask() != old.netmask()) return true;
  if (HasDhcpSetting(cur.device_type(), cur.firmware_version()) && cur.dhcp != old.dhcp)
    return true;
  if (cur.route_total != 0 &&
      (cur.route_total != old.route_total || cur.route_start != old.route_start ||
       cur.route_count != old.route_count || cur.route_table != old.route_table))
    return true;
  if (cur.access_total != old.access_total) return true;
  if (cur.access_total != 0 &&
      (cur.access_start != old.access_start || cur.access_count != old.access_count ||
       cur.access_table != old.access_table))
    return true;
  return false;
}

bool CDaoViewDoc::ConfigurationChanged() const {
  if (count_ != saved_count_ || !adopted_.empty()) return true;
  for (int i = 0; i < count_; ++i) {
    if (servers_[static_cast<size_t>(i)].write_state != kWriteNever && ServerChanged(i))
      return true;
    if (!(servers_[static_cast<size_t>(i)] == saved_servers_[static_cast<size_t>(i)])) return true;
  }
  return false;
}

bool CDaoViewDoc::CanClose() {
  if (!ConfigurationChanged()) return true;
  switch (transport_.prompter().Message(ManagerString(kStrSaveBeforeExit), MsgButtons::YesNoCancel,
                                        MsgIcon::Question)) {
    case MsgAnswer::Yes: {
      // A conflict or a store that cannot be written has just been reported with the
      // changes kept: they must not go with the window.
      const SaveOutcome outcome = SaveConfigurationOutcome();
      return outcome == SaveOutcome::kSaved || outcome == SaveOutcome::kDeclined;
    }
    case MsgAnswer::No:
      return true;
    default:
      return false;
  }
}

// --- password
// --------------------------------------------------------------------------------------

void CDaoViewDoc::RememberPassword(uint16_t serial, std::string_view password) {
  for (auto& [s, p] : accepted_passwords_)
    if (s == serial) {
      p = password;
      return;
    }
  accepted_passwords_.emplace_back(serial, password);
}

uint16_t CDaoViewDoc::PasswordFlags(int server_index) const {
  if (server_index < 0 || server_index >= count_) return 0;
  const ServerConfig& entry = servers_[static_cast<size_t>(server_index)];
  const int saved = FindSavedServer(entry.serial_number);
  if (saved >= 0 && saved_servers_[static_cast<size_t>(saved)].flags != 0)
    return saved_servers_[static_cast<size_t>(saved)].flags;
  for (const auto& [serial, password] : accepted_passwords_)
    if (serial == entry.serial_number && password == entry.password())
      return kServerFlagPasswordSaved;
  return 0;
}

bool CDaoViewDoc::RequestServerPassword(ServerRecord& record, uint16_t saved_flags,
                                        ServerConfig& entry) {
  if (!record.has_password()) return true;
  Prompter& prompter = transport_.prompter();
  if (saved_flags != 0) {
    record.password = entry.password();
    if (Command(transport_, record, wire::kLogin, kCommandTimeoutSeconds)) {
      RememberPassword(record.serial_number(), record.password);
      return true;
    }
    prompter.Message(ManagerString(kStrPasswordError));
  }
  const std::string info =
      PasswordDialogText(record.name(), record.serial_number(), AddressToText(record.ip_address()));
  while (true) {
    std::optional<std::string> typed = prompter.AskPassword(info, wire::kMaxPasswordLength);
    if (!typed) return false;
    // Refused before the login is sent: the server would compare other bytes than were typed.
    if (!IsDeviceText(*typed)) {
      prompter.Message(kDeviceTextRefused, MsgButtons::Ok, MsgIcon::Warning);
      continue;
    }
    if (typed->size() > wire::kMaxPasswordLength) typed->resize(wire::kMaxPasswordLength);
    record.password = *typed;
    if (Command(transport_, record, wire::kLogin, kCommandTimeoutSeconds)) {
      entry.set_password(*typed);
      RememberPassword(record.serial_number(), *typed);
      return true;
    }
    prompter.Message(ManagerString(kStrPasswordError));
  }
}

// --- Save Configuration
// ----------------------------------------------------------------------------

int CDaoViewDoc::WriteServer(int server_index, int found_index) {
  if (server_index < 0 || server_index >= count_ || !ValidFound(found_, found_index))
    return kWriteStepPassword;
  ServerConfig& entry = servers_[static_cast<size_t>(server_index)];
  ServerRecord& rec = found_.records[static_cast<size_t>(found_index)];
  const int saved = FindSavedServer(entry.serial_number);
  SaveProgress::Scope shown(progress_);
  const std::string name = entry.name();

  progress_.Writing(name, WriteStepName::kLogin);
  if (!RequestServerPassword(rec, PasswordFlags(server_index), entry)) return kWriteStepPassword;

  progress_.Writing(name, WriteStepName::kName);
  rec.set_name(entry.name());
  if (!Command(transport_, rec, wire::kSetName, kCommandTimeoutSeconds)) return kWriteStepName;

  const bool password_pending = rec.password_change_pending;
  if (password_pending) {
    progress_.Writing(name, WriteStepName::kNewPassword);
    if (!Command(transport_, rec, wire::kSetPassword, kCommandTimeoutSeconds))
      return kWriteStepNewPassword;
    entry.set_password(rec.new_password);
    if (saved >= 0) saved_servers_[static_cast<size_t>(saved)].set_password(rec.new_password);
    RememberPassword(entry.serial_number, rec.new_password);
    const uint8_t f = rec.flags();
    rec.set_flags(static_cast<uint8_t>(rec.new_password.empty() ? (f & ~wire::kFlagPassword)
                                                                : (f | wire::kFlagPassword)));
  }

  progress_.Writing(name, WriteStepName::kAddress);
  // A server reached by a directed request answers at the address it was found at until
  // the restart applies the new one (the exchange follows it then); the record's address
  // may already be the new one the user typed.
  if (!rec.unicast) rec.unicast_address = rec.ip_address();
  rec.set_ip_address(entry.ip_address);
  rec.set_netmask(entry.netmask);
  if (!Command(transport_, rec, wire::kSetAddress, kCommandTimeoutSeconds))
    return kWriteStepAddress;

  if (entry.tables_changed != 0) {
    progress_.Writing(name, WriteStepName::kRoutes);
    // Removals (metric 0xFFFF) go first, then the routes to keep, each in table order:
    // a route the page removed or modified and then listed again is dropped and added
    // back, never added and then dropped. The removals also make room on the server.
    const int routes = std::min<int>(rec.route_total, static_cast<int>(wire::kTableCapacity));
    for (const bool removals : {true, false}) {
      for (int i = 0; i < routes; ++i) {
        const RouteEntry& route = rec.route_table[static_cast<size_t>(i)];
        if ((route.metric == wire::kRouteEmptyMetric) != removals) continue;
        rec.route_to_send = route;
        if (!Command(transport_, rec, wire::kAddRoute, kCommandTimeoutSeconds))
          return kWriteStepRoutes;
      }
    }
  }

  if (installation_type_ == kSingleHost ||
      (entry.write_state != kWriteNever && entry.tables_changed != 0)) {
    progress_.Writing(name, WriteStepName::kAccessList);
    const int entries = std::min<int>(rec.access_total, static_cast<int>(wire::kTableCapacity));
    (void)WriteAccessTable(transport_, rec, entries, kCommandTimeoutSeconds);
  }

  progress_.Writing(name, WriteStepName::kPortKinds);
  if (!Command(transport_, rec, wire::kSetPortKinds, kCommandTimeoutSeconds))
    return kWriteStepPortKinds;

  if (HasDhcpSetting(rec.device_type(), rec.firmware_version())) {
    progress_.Writing(name, WriteStepName::kDhcp);
    if (!Command(transport_, rec, wire::kDhcp, kCommandTimeoutSeconds)) return kWriteStepDhcp;
  }

  entry.write_state = kWriteWhenChanged;
  entry.tables_changed = 0;

  // The restart waits (the exchange's own, then this one) count down as one.
  progress_.Writing(name, WriteStepName::kRestart);
  transport_.restart_wait_observer = [&](int64_t left) {
    progress_.Restarting(name, left + kAfterRestartMs);
  };
  const bool restarted = Command(transport_, rec, wire::kSaveAndRestart, kRestartTimeoutSeconds);
  transport_.restart_wait_observer = nullptr;
  if (!restarted) return kWriteStepRestart;
  {
    WaitCursor wait(transport_.prompter());
    SleepCountingDown(transport_.clock(), kAfterRestartMs,
                      [&](int64_t left) { progress_.Restarting(name, left); });
  }
  if (password_pending) {
    rec.password = rec.new_password;
    rec.password_change_pending = false;
  }
  return kWriteOk;
}

CDaoViewDoc::SaveOutcome CDaoViewDoc::SaveConfigurationOutcome() {
  Prompter& prompter = transport_.prompter();
  if (auto conflict = FindComConflict()) {
    prompter.Message(*conflict);
    return SaveOutcome::kConflict;
  }
  if (prompter.Message(ManagerString(kStrRestartWarning), MsgButtons::YesNo, MsgIcon::Warning) !=
      MsgAnswer::Yes)
    return SaveOutcome::kDeclined;

  // One progress window for all the servers written, closed before the store is.
  std::optional<SaveProgress::Scope> writing(std::in_place, progress_);
  for (int i = 0; i < count_; ++i) {
    ServerConfig& entry = servers_[static_cast<size_t>(i)];
    const int fi = found_.FindSerial(entry.serial_number);
    if (fi < 0 || !in_tree(fi)) continue;
    if (entry.write_state == kWriteNever) continue;
    if (!ServerChanged(i) && entry.write_state != kWriteAlways) continue;
    const int code = WriteServer(i, fi);
    if (code == kWriteOk) {
      const uint16_t serial = found_.records[static_cast<size_t>(fi)].serial_number();
      const int si = saved_found_.FindSerial(serial);
      if (si >= 0) {
        saved_found_.records[static_cast<size_t>(si)] = found_.records[static_cast<size_t>(fi)];
      } else {
        CopyToSavedFound(fi);
      }
    } else {
      const ServerRecord& rec = found_.records[static_cast<size_t>(fi)];
      prompter.Message(ServerWriteFailed(rec.name(), AddressToText(rec.ip_address()), code),
                       MsgButtons::Ok, MsgIcon::Error);
    }
  }
  writing.reset();

  // The store still files an adopted server under the serial number it had: hand the
  // store that number as the old one, so that it moves the entry to the new number.
  std::array<ServerConfig, kMaxConfiguredServers> stored = saved_servers_;
  for (const auto& [was, now] : adopted_)
    for (int i = 0; i < saved_count_; ++i)
      if (stored[static_cast<size_t>(i)].serial_number == now)
        stored[static_cast<size_t>(i)].serial_number = was;
  if (!store_.Save(servers_.data(), count_, stored.data(), saved_count_)) {
    // The store is unchanged: keep the saved copy and the modified mark so that the
    // next save writes the same difference again.
    prompter.Message(WithStoreDetail(kStoreSaveFailed), MsgButtons::Ok, MsgIcon::Error);
    return SaveOutcome::kStoreFailed;
  }
  saved_servers_ = servers_;
  saved_count_ = count_;
  adopted_.clear();
  modified_ = false;
  if (fresh_port_) fresh_port_();
  return SaveOutcome::kSaved;
}

void CDaoViewDoc::WizardReturned(int result) {
  if (result != 0) modified_ = true;
  count_ = std::clamp(count_, 0, kCapacity);
  if (result != 0 && count_ > 0) {
    // The wizard gives the new entry the password it logged in with, and its saved slot
    // the same password with the server's flags (a general user's slot gets flags 0).
    const ServerConfig& added = servers_[static_cast<size_t>(count_ - 1)];
    const ServerConfig& slot = saved_servers_[static_cast<size_t>(count_ - 1)];
    if (slot.flags != 0 && !added.password().empty() && slot.password() == added.password())
      RememberPassword(added.serial_number, added.password());
  }
  found_.count = std::clamp(found_.count, 0, static_cast<int>(kMaxServers));
  saved_found_.count = std::clamp(saved_found_.count, 0, static_cast<int>(kMaxServers));
  BuildTree();
}

}  // namespace zelin::manager
