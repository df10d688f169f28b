#include "monitor/core/configuration_sheet.hpp"

#include <algorithm>

#include "monitor/core/code_tables.hpp"
#include "platform/text_format.hpp"
#include "protocol/address.hpp"
#include "protocol/discovery.hpp"

namespace zelin::monitor {

namespace {

constexpr char kSameSerial[] =
    "There is already a Zelin Server with the same \nserial number and different IP address in "
    "the \nselected table.\n\nPlease delete the Zelin Server in the selected \ntable first, if "
    "you really want to add this new one.";
constexpr char kSameAddress[] =
    "There is already a Zelin server with the same \nIP adress and different serial number in "
    "the \nselected table.\n\nPlease delete the old Zelin server in the \nselected table first, "
    "if you want to add this new one.";
constexpr char kTableFull[] = "At most 32 Zelin Servers can be monitored.";
constexpr char kInvalidAddress[] = "Invalid IP address!";
constexpr char kNotFound[] = "Can not found the Zelin Server!";
constexpr char kNoItem[] = "Please select a item!";

int ValidCount(const ServerList& list) {
  return std::clamp(list.count, 0, static_cast<int>(kMaxServers));
}

void RemoveEntry(ServerList& list, int index) {
  const int count = ValidCount(list);
  if (index < 0 || index >= count) return;
  std::move(list.records.begin() + index + 1, list.records.begin() + count,
            list.records.begin() + index);
  list.records[static_cast<size_t>(count - 1)] = ServerRecord{};
  list.count = count - 1;
}

void MergeAll(const ServerList& from, ServerList& into) {
  for (int i = 0; i < ValidCount(from); ++i) MergeFound(from.records[static_cast<size_t>(i)], into);
}

}  // namespace

void TransportFinder::Search(ServerList& list) { SearchServers(transport_, list, 1); }

Result<int> TransportFinder::Probe(ServerList& list, Ipv4 address) {
  return ProbeAddressRetry(transport_, list, address, 1);
}

void MergeFound(const ServerRecord& record, ServerList& into) {
  const int known = into.FindSerial(record.serial_number());
  if (known >= 0) {
    into.records[static_cast<size_t>(known)].search_reply = record.search_reply;
    return;
  }
  const int count = ValidCount(into);
  if (count >= static_cast<int>(kMaxServers)) return;
  into.records[static_cast<size_t>(count)] = record;
  into.count = count + 1;
}

// ---- Select Port ----

SelectPortPage::SelectPortPage(MonitorState& state, ServerFinder& finder, Prompter& prompter)
    : state_(state), finder_(finder), prompter_(prompter) {}

void SelectPortPage::Show() {
  if (!state_.page_searched) Search();
  SelectServer(state_.working->server_count > 0 ? 0 : -1);
}

void SelectPortPage::Search() {
  finder_.Search(*state_.page_search);
  state_.page_searched = true;
  MergeAll(*state_.page_search, *state_.found);
}

std::vector<std::string> SelectPortPage::DropDown() const {
  std::vector<std::string> entries;
  const ServerList& list = *state_.page_search;
  for (int i = 0; i < ValidCount(list); ++i) {
    const ServerRecord& r = list.records[static_cast<size_t>(i)];
    entries.push_back(Format("%s (%s, SerialNo:%d)", AddressToText(r.ip_address()).c_str(),
                             r.name().c_str(), r.serial_number()));
  }
  return entries;
}

void SelectPortPage::ChooseEntry(size_t index) {
  if (index < static_cast<size_t>(ValidCount(*state_.page_search)))
    Add(state_.page_search->records[index]);
}

void SelectPortPage::EnterAddress(std::string_view text) {
  const std::string_view typed = text.substr(0, text.find(' '));
  const Ipv4 address = IsValidAddressText(typed) ? TextToAddress(typed) : 0;
  // The empty field "..." reads as 0.0.0.0, which is no server's address.
  if (address == 0) {
    prompter_.Message(kInvalidAddress);
    return;
  }
  ServerList& list = *state_.page_search;
  const int before = ValidCount(list);
  const int index = finder_.Probe(list, address).value_or(-1);
  if (index < 0 || index >= ValidCount(list)) {
    prompter_.Message(kNotFound);
    return;
  }
  const ServerRecord found = list.records[static_cast<size_t>(index)];
  if (!Add(found)) return;
  MergeFound(found, *state_.found);
  if (index >= before) RemoveEntry(list, index);
}

bool SelectPortPage::Add(const ServerRecord& record) {
  MonitorConfig& working = *state_.working;
  const auto watched = working.watched();
  for (size_t i = 0; i < watched.size(); ++i) {
    const bool same_serial = watched[i].serial_number == record.serial_number();
    const bool same_address = watched[i].ip_address == record.ip_address();
    if (same_serial && same_address) {
      SelectServer(static_cast<int>(i));
      return false;
    }
    if (same_serial || same_address) {
      prompter_.Message(same_serial ? kSameSerial : kSameAddress);
      return false;
    }
  }
  if (watched.size() >= kMaxWatchedServers) {
    prompter_.Message(kTableFull);
    return false;
  }
  MonitoredServer& added = working.servers[working.server_count];
  added = MonitoredServer{};
  added.ip_address = record.ip_address();
  added.serial_number = record.serial_number();
  added.device_type = record.device_type();
  added.set_name(record.name());
  added.port_count = static_cast<uint16_t>(MonitorPortCount(added.device_type));
  ++working.server_count;
  SelectServer(working.server_count - 1);
  for (size_t p = 0; p < added.port_count; ++p) SetPortWatched(p, true);
  return true;
}

std::vector<SelectPortPage::ServerRow> SelectPortPage::ServerRows() const {
  std::vector<ServerRow> rows;
  for (const MonitoredServer& s : state_.working->watched())
    rows.push_back({s.name(), AddressToText(s.ip_address), Format("%d", s.serial_number)});
  return rows;
}

void SelectPortPage::SelectServer(int row) {
  selected_ = row >= 0 && row < static_cast<int>(state_.working->watched().size()) ? row : -1;
}

std::vector<SelectPortPage::PortRow> SelectPortPage::PortRows() const {
  std::vector<PortRow> rows;
  if (selected_ < 0) return rows;
  const MonitoredServer& s = state_.working->servers[static_cast<size_t>(selected_)];
  const size_t ports = std::min<size_t>(s.port_count, kMaxPorts);
  for (size_t p = 0; p < ports; ++p)
    rows.push_back({Format("%d", static_cast<int>(p) + 1),
                    state_.mappings.Text(*state_.found, s, p), s.watches(p)});
  return rows;
}

void SelectPortPage::SetPortWatched(size_t row, bool watched) {
  if (selected_ < 0 || row >= kMaxPorts) return;
  MonitoredServer& s = state_.working->servers[static_cast<size_t>(selected_)];
  if (watched)
    s.watched_mask |= 1u << row;
  else
    s.watched_mask &= ~(1u << row);
}

void SelectPortPage::DeleteServer() {
  MonitorConfig& working = *state_.working;
  const int count = static_cast<int>(working.watched().size());
  if (selected_ < 0 || selected_ >= count) return;
  std::move(working.servers.begin() + selected_ + 1, working.servers.begin() + count,
            working.servers.begin() + selected_);
  working.servers[static_cast<size_t>(count - 1)] = MonitoredServer{};
  working.server_count = static_cast<uint16_t>(count - 1);
  SelectServer(std::min(selected_, count - 2));
}

// ---- Select Item ----

void SelectItemPage::Show() {
  if (shown_) return;
  shown_ = true;
  for (size_t i = 0; i < kDisplayItemCount; ++i)
    boxes_[i] = (state_.working->column_mask >> i) & 1u;
}

void SelectItemPage::SetChecked(size_t item, bool checked) {
  if (item < kDisplayItemCount) boxes_[item] = checked;
}

bool SelectItemPage::Leave() {
  if (std::find(boxes_.begin(), boxes_.end(), true) != boxes_.end()) return true;
  prompter_.Message(kNoItem);
  return false;
}

void SelectItemPage::Ok() {
  uint32_t mask = 0;
  for (size_t i = 0; i < kDisplayItemCount; ++i)
    if (boxes_[i]) mask |= 1u << i;
  state_.working->column_mask = mask;
}

// ---- General ----

std::vector<std::string> GeneralPage::Entries() {
  std::vector<std::string> entries;
  for (int i = MonitorConfig::kMinInterval; i <= MonitorConfig::kMaxInterval; ++i)
    entries.push_back(std::to_string(i));
  return entries;
}

void GeneralPage::Show() {
  if (shown_) return;
  shown_ = true;
  selected_ = std::clamp<int>(state_.working->interval, MonitorConfig::kMinInterval,
                              MonitorConfig::kMaxInterval) - 1;
}

void GeneralPage::Ok() {
  state_.working->interval = static_cast<uint16_t>(
      std::clamp(selected_ + 1, int{MonitorConfig::kMinInterval}, int{MonitorConfig::kMaxInterval}));
}

// ---- The sheet ----

ConfigurationSheet::ConfigurationSheet(MonitorState& state, Monitoring& monitoring,
                                       ServerFinder& finder, Prompter& prompter)
    : state_(state),
      monitoring_(monitoring),
      select_port_(state, finder, prompter),
      select_item_(state, prompter),
      general_(state) {}

void ConfigurationSheet::Open() {
  monitoring_.Suspend();
  *state_.working = *state_.in_use;
  changed_ = false;
  select_item_.Reset();
  general_.Reset();
  ShowPage(Page::kSelectPort);
}

void ConfigurationSheet::ShowPage(Page page) {
  active_ = page;
  switch (page) {
    case Page::kSelectPort: select_port_.Show(); break;
    case Page::kSelectItem: select_item_.Show(); break;
    case Page::kGeneral: general_.Show(); break;
  }
}

bool ConfigurationSheet::Activate(Page page) {
  if (page == active_) return true;
  if (active_ == Page::kSelectItem && !select_item_.Leave()) return false;
  ShowPage(page);
  return true;
}

bool ConfigurationSheet::Ok() {
  if (active_ == Page::kSelectItem && !select_item_.Leave()) return false;
  if (select_item_.shown()) select_item_.Ok();
  if (general_.shown()) general_.Ok();
  MonitorConfig& working = *state_.working;
  MonitorConfig& in_use = *state_.in_use;
  changed_ = !(working == in_use);
  if (changed_) {
    // Servers new to the configuration start their throughput afresh.
    for (MonitoredServer& server : working.watched()) {
      const auto held = in_use.watched();
      const bool known = std::any_of(held.begin(), held.end(), [&](const MonitoredServer& s) {
        return s.serial_number == server.serial_number && s.ip_address == server.ip_address;
      });
      if (!known) server.rates.fill(PortRateSamples{});
    }
    monitoring_.StopMonitoring();
    in_use = working;
    if (in_use.server_count == 0)
      monitoring_.ShowColumnsOnly();
    else
      monitoring_.StartMonitoring();
  }
  monitoring_.Resume();
  return true;
}

void ConfigurationSheet::Cancel() {
  changed_ = false;
  monitoring_.Resume();
}

}  // namespace zelin::monitor
