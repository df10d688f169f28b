#include "mapwizard/core/complete_page.hpp"

#include <algorithm>

#include "protocol/address.hpp"
#include "protocol/exchange.hpp"

namespace zelin::wizard {

namespace {

constexpr uint16_t kAllPorts = 0xFFFF;
constexpr Ipv4 kHostMask = 0xFFFFFFFFu;

// Device types whose DHCP setting is asked for on Finish.
bool AsksDhcpOnFinish(DeviceType t) {
  return t == 776 || t == 771;
}

}  // namespace

bool EnsureHostAccess(ServerRecord& record, Ipv4 host) {
  const AccessEntry entry{host, kHostMask, kAllPorts};
  const size_t n = std::min<size_t>(record.access_count, record.access_table.size());
  for (size_t i = 0; i < n; ++i)
    if (record.access_table[i].address == host && record.access_table[i].netmask == kHostMask)
      return true;
  if (n >= record.access_table.size()) return false;
  record.access_table[n] = entry;
  record.access_count = static_cast<uint16_t>(n + 1);
  ++record.access_total;
  record.access_start = 0;
  return true;
}

void CompletePage::Activate() {
  const ServerConfig* s = ctx_.staged();
  if (s == nullptr) return;
  int first = 0, last = 0;
  const size_t ports = std::min<size_t>(s->port_count, kMaxServerPorts);
  for (size_t i = 0; i < ports; ++i) {
    if (s->port_mapped[i] == 0) continue;
    if (first == 0) first = ComNumberOf(s->com_number[i]);
    last = ComNumberOf(s->com_number[i]);
  }
  summary_ = "Model : " + std::string(ModelName(s->device_type)) + "\n";
  summary_ += "Server Name : " + s->name() + "\n";
  summary_ += first == 0 ? std::string("Ports : None")
                         : "Ports : COM" + std::to_string(first) + "-COM" + std::to_string(last);
  summary_ += "\nServer Serial Number : " + std::to_string(s->serial_number) + "\n";
  summary_ += "Server IP : " + AddressToText(s->ip_address);
}

bool CompletePage::Finish() {
  ServerConfig* s = ctx_.staged();
  ServerRecord* r = ctx_.selected_record();
  if (s == nullptr || r == nullptr) return false;
  Transport& t = ctx_.transport();
  WaitCursor wait(ctx_.prompter());

  r->dhcp = 0;
  if (AsksDhcpOnFinish(r->device_type())) {
    r->dhcp = wire::kDhcpQuery;
    Command(t, *r, wire::kDhcp, kCommandTimeout);  // the answer only informs; failure is fine
  }

  const bool general_user = s->write_state == kWriteNever;
  if (ctx_.single_host()) {
    r->access_table[0] = {r->host_address(), kHostMask, kAllPorts};
    r->access_start = 0;
    r->access_total = r->access_count = 1;
    if (r->port_count() != 1 || IsMappablePortKind(r->port_kind(0)))
      for (size_t i = 0; i < wire::kMaxPorts; ++i) r->set_port_kind(i, kPortMappable);
  } else if (!general_user) {
    if (s->tables_changed == 0) {
      r->access_total = r->access_start = r->access_count = 0;
      r->access_table.fill({});
      r->route_total = r->route_start = r->route_count = 0;
      r->route_table.fill({});
      ReadRouteTable(t, *r, kCommandTimeout);
      ReadAccessTable(t, *r, kCommandTimeout);
      s->tables_changed = 1;
    }
    EnsureHostAccess(*r, r->host_address());
    if (ctx_.installation_type() == kMultiHost)
      for (size_t i = 0; i < wire::kMaxPorts; ++i) r->set_port_kind(i, kPortMappable);
  }
  if (!general_user) {
    for (size_t i = 0; i < wire::kMaxPorts; ++i)
      if (IsMappablePortKind(r->port_kind(i))) r->set_port_kind(i, kPortMappable);
  }

  s->port_options.fill(0);  // Hi-Performance transmission, FIFO enabled
  ++*ctx_.tables().count;
  return true;
}

}  // namespace zelin::wizard
