#include "mapwizard/core/complete_page.hpp"

#include <algorithm>
#include <tuple>

#include "mapwizard/core/strings.hpp"
#include "protocol/address.hpp"
#include "protocol/exchange.hpp"

namespace zelin::wizard {

namespace {

// Device types whose DHCP setting is asked for on Finish.
bool AsksDhcpOnFinish(DeviceType t) {
  return t == 776 || t == 771;
}

// Reads the server's route and access tables into `r` afresh. A table read in part
// would be written back short by the manager's next save, and an access list cut short
// opens the server to every host; so a failed read leaves both tables as they were.
bool ReadTables(Transport& t, ServerRecord& r) {
  auto access = std::tie(r.access_total, r.access_start, r.access_count, r.access_table);
  auto route = std::tie(r.route_total, r.route_start, r.route_count, r.route_table);
  const auto access_before =
      std::tuple(r.access_total, r.access_start, r.access_count, r.access_table);
  const auto route_before = std::tuple(r.route_total, r.route_start, r.route_count, r.route_table);
  r.access_total = r.access_start = r.access_count = 0;
  r.access_table.fill({});
  r.route_total = r.route_start = r.route_count = 0;
  r.route_table.fill({});
  if (ReadRouteTable(t, r, kCommandTimeout) && ReadAccessTable(t, r, kCommandTimeout)) return true;
  access = access_before;
  route = route_before;
  return false;
}

}  // namespace

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
    GrantOnlyAccess(*r, r->host_address());
    if (r->port_count() != 1 || IsMappablePortKind(r->port_kind(0)))
      MakePortsMappable(*r, wire::kMaxPorts);
  } else if (!general_user &&
             (ctx_.installation_type() == kMultiHost || ctx_.installation_type() == kCustom)) {
    // Multi-host and custom only: a type the installation did not set grants nothing.
    if (s->tables_changed == 0 && !ReadTables(t, *r)) {
      ctx_.Say(kTextReadTablesFailed, MsgButtons::Ok, MsgIcon::Error);
      return false;
    }
    s->tables_changed = 1;
    EnsureHostAccess(*r, r->host_address());
    if (ctx_.installation_type() == kMultiHost) MakePortsMappable(*r, wire::kMaxPorts);
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
