#include "srvmanager/properties/core/advanced_page.hpp"

#include <algorithm>

#include "protocol/address.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"

namespace zelin::manager {
namespace {

constexpr int kCapacity = static_cast<int>(wire::kTableCapacity);

uint16_t MetricFromText(const std::string& text) {
  unsigned value = 0;
  for (char c : text.substr(0, GatewaySettingsDialog::kMaxMetricLength)) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

GatewaySettingsDialog::GatewaySettingsDialog(Prompter& prompter, const RouteEntry& entry)
    : prompter_(prompter), result_(entry) {
  if (entry.destination == 0 && entry.gateway == 0 && entry.netmask == 0) {
    metric_text = std::to_string(1);  // (a literal here trips a GCC 12 -Wrestrict false alarm)
  } else {
    destination_text = AddressToText(entry.destination);
    gateway_text = AddressToText(entry.gateway);
    netmask_text = AddressToText(entry.netmask);
    metric_text = std::to_string(entry.metric);
  }
}

bool GatewaySettingsDialog::Ok() {
  if (!IsValidAddressText(destination_text) || !IsValidAddressText(gateway_text) ||
      !IsValidAddressText(netmask_text)) {
    prompter_.Message(ManagerString(kStrInvalidAddress), MsgButtons::Ok, MsgIcon::Warning);
    return false;
  }
  result_.destination = TextToAddress(destination_text);
  result_.gateway = TextToAddress(gateway_text);
  result_.netmask = TextToAddress(netmask_text);
  result_.metric = MetricFromText(metric_text);
  return true;
}

AdvancedPage::AdvancedPage(Prompter& prompter, ServerRecord& record,
                                   PropertyDialogs& dialogs)
    : SheetPage(prompter), record_(record), dialogs_(dialogs) {
  Refill(0);
}

std::vector<std::string> AdvancedPage::Columns() {
  return {"    Destination    ", "    Gateway        ", "    Netmask        ", "Metric"};
}

int AdvancedPage::RouteCount() const {
  return std::min<int>(record_.route_total, kCapacity);
}

void AdvancedPage::SetRouteCount(int n) {
  record_.route_total = static_cast<uint16_t>(n);
  record_.route_count = static_cast<uint16_t>(n);
  record_.route_start = 0;
}

void AdvancedPage::Refill(int select_row) {
  rows_.clear();
  const int n = RouteCount();
  for (int i = 0; i < n; ++i) {
    const RouteEntry& r = record_.route_table[static_cast<size_t>(i)];
    if (r.metric == wire::kRouteEmptyMetric) continue;
    rows_.push_back({i, AddressToText(r.destination), AddressToText(r.gateway),
                     AddressToText(r.netmask), std::to_string(r.metric)});
  }
  selected_ = rows_.empty() ? -1 : std::clamp(select_row, 0, static_cast<int>(rows_.size()) - 1);
}

void AdvancedPage::SelectRow(int row) {
  if (row >= 0 && row < static_cast<int>(rows_.size())) selected_ = row;
}

void AdvancedPage::Add() {
  const int n = RouteCount();
  if (n >= kCapacity) {
    prompter_.Message(kPsRouteTableFull, MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  record_.route_table[static_cast<size_t>(n)] = RouteEntry{};
  GatewaySettingsDialog dialog(prompter_, RouteEntry{});
  if (!dialogs_.RunGatewaySettings(dialog)) return;
  record_.route_table[static_cast<size_t>(n)] = dialog.result();
  SetRouteCount(n + 1);
  Refill(selected_ < 0 ? 0 : selected_);
}

bool AdvancedPage::OtherEntryHasKey(int index, const RouteEntry& key) const {
  const int n = RouteCount();
  for (int i = 0; i < n; ++i) {
    const RouteEntry& r = record_.route_table[static_cast<size_t>(i)];
    if (i != index && r.gateway == key.gateway && r.destination == key.destination &&
        r.netmask == key.netmask)
      return true;
  }
  return false;
}

void AdvancedPage::Modify() {
  if (selected_ < 0) return;
  const int index = rows_[static_cast<size_t>(selected_)].entry;
  const RouteEntry old = record_.route_table[static_cast<size_t>(index)];
  // Known before the dialog opens: a change of key may need a removal of the old route,
  // unless another entry already has its key (the server keeps or drops that route by
  // that entry). A full table refuses such a Modify before the dialog opens.
  const bool needs_removal = !OtherEntryHasKey(index, old);
  const int n = RouteCount();
  if (needs_removal && n >= kCapacity) {
    prompter_.Message(kPsRouteTableFull, MsgButtons::Ok, MsgIcon::Warning);
    return;
  }
  GatewaySettingsDialog dialog(prompter_, old);
  if (!dialogs_.RunGatewaySettings(dialog)) return;
  // The route edit as it is to reach the server (RouteChangeEntries): the route itself,
  // which takes the old one's slot, after the removal of the old key when the key
  // changed, which is appended (Save Configuration sends removals first). A
  // metric-only change is the route alone.
  const std::vector<RouteEntry> entries = RouteChangeEntries(old, dialog.result());
  if (entries.empty()) return;
  record_.route_table[static_cast<size_t>(index)] = entries.back();
  if (entries.size() > 1 && needs_removal) {
    record_.route_table[static_cast<size_t>(n)] = entries.front();
    SetRouteCount(n + 1);
  }
  Refill(selected_);
}

void AdvancedPage::Remove() {
  if (selected_ < 0) return;
  const int row = selected_;
  record_.route_table[static_cast<size_t>(rows_[static_cast<size_t>(row)].entry)].metric =
      wire::kRouteEmptyMetric;
  Refill(row);
}

}  // namespace zelin::manager
