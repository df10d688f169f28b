// zelinctl ports, dhcp and check-address: which ports of a server can be mapped, its
// DHCP setting (on the models that have one) and whether an address is in use on its
// network.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "protocol/address.hpp"
#include "protocol/device_types.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/core/model_info.hpp"
#include "srvmanager/properties/core/access_table.hpp"
#include "tools/zelinctl/json_output.hpp"
#include "tools/zelinctl/port_list.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

// --- ports ---------------------------------------------------------------------

constexpr const char* kPortsUsage =
    "usage: zelinctl ports SUBCOMMAND SERIAL [OPTIONS] [--password P]\n"
    "\n"
    "Which ports of the server with serial number SERIAL can be mapped to a COM port.\n"
    "Each port has a kind: 2 mappable, 6 WAN (dial-up, never mapped), 18 mappable but this\n"
    "host has no access, anything else unavailable.\n"
    "\n"
    "Subcommands:\n"
    "  show SERIAL [--json]                                 list the ports and their kinds\n"
    "  set SERIAL [--mappable PORTS] [--unavailable PORTS]  change them\n"
    "\n"
    "PORTS is \"all\" or port numbers and ranges (\"1,3-5\"). WAN ports keep their kind.\n";

constexpr const char* kPortsShowHelp =
    "usage: zelinctl ports show SERIAL [--json] [--password P]\n\n"
    "Lists the server's ports with their kinds, as its search reply gives them.\n"
    "  --json             a JSON array of {port, kind, state}; state is \"mappable\",\n"
    "                     \"wan\", \"no-access\" or \"unavailable\"\n";
constexpr const char* kPortsSetHelp =
    "usage: zelinctl ports set SERIAL [--mappable PORTS] [--unavailable PORTS]\n"
    "                         [--password P]\n\n"
    "Makes the ports mappable (kind 2) or unavailable (kind 0), then saves the kinds and\n"
    "restarts the server; ports not named keep their kind. \"all\" means every port but\n"
    "the WAN ports; naming a WAN port is refused with status 1.\n"
    "  --mappable PORTS     ports that can be mapped to COM ports\n"
    "  --unavailable PORTS  ports that cannot\n";

constexpr uint8_t kPortUnavailable = 0;

const char* KindState(uint8_t kind) {
  switch (kind) {
    case kPortMappable:
      return "mappable";
    case kPortWan:
      return "wan";
    case kPortNoAccess:
      return "no-access";
    default:
      return "unavailable";
  }
}

int PortsShow(const Parsed& p, uint16_t serial) {
  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  int rc = kExitOk;
  const ServerRecord* r = FindServer(s, serial, &rc);
  if (r == nullptr) return rc;
  const int ports = manager::RecordPortCount(*r);
  nlohmann::json out = nlohmann::json::array();
  if (!p.has("--json")) std::printf("%-5s %-5s %s\n", "PORT", "KIND", "STATE");
  for (int i = 0; i < ports; ++i) {
    const uint8_t kind = r->port_kind(static_cast<size_t>(i));
    if (p.has("--json"))
      out.push_back({{"port", i + 1}, {"kind", kind}, {"state", KindState(kind)}});
    else
      std::printf("%-5d %-5u %s\n", i + 1, unsigned{kind}, KindState(kind));
  }
  if (p.has("--json")) PrintJson(out);
  return kExitOk;
}

int PortsSet(const Parsed& p, uint16_t serial) {
  std::optional<PortList> lists[2];
  const char* const options[2] = {"--mappable", "--unavailable"};
  for (int k = 0; k < 2; ++k) {
    const std::string* text = p.value(options[k]);
    if (text == nullptr) continue;
    lists[k] = ParsePortList(*text);
    if (!lists[k] || (!lists[k]->all && lists[k]->mask == 0)) {
      std::fprintf(stderr, "zelinctl: %s: '%s' is not a port list (\"all\", \"1,3-5\")\n",
                   options[k], text->c_str());
      return kExitUsage;
    }
  }
  if (!lists[0] && !lists[1]) {
    std::fprintf(stderr, "zelinctl: nothing to change; give --mappable or --unavailable\n");
    return kExitUsage;
  }
  if (lists[0] && lists[1] &&
      (lists[0]->all || lists[1]->all || (lists[0]->mask & lists[1]->mask))) {
    std::fprintf(stderr, "zelinctl: a port cannot be both mappable and unavailable\n");
    return kExitUsage;
  }
  Session s;
  int rc = kExitOk;
  ServerRecord* r = LogIn(p, s, serial, &rc);
  if (r == nullptr) return rc;
  const int ports = manager::RecordPortCount(*r);
  const auto before = r->search_reply;
  for (int k = 0; k < 2; ++k) {
    if (!lists[k]) continue;
    std::string error;
    const auto mask = PortsOnServer(*lists[k], ports, &error);
    if (!mask) {
      std::fprintf(stderr, "zelinctl: %s: %s\n", options[k], error.c_str());
      return kExitUsage;
    }
    for (int i = 0; i < ports; ++i) {
      if ((*mask & (1u << i)) == 0) continue;
      const auto port = static_cast<size_t>(i);
      // WAN ports keep their kind, as the manager leaves them.
      if (r->port_kind(port) == kPortWan) {
        if (lists[k]->all) continue;
        std::fprintf(stderr, "zelinctl: port %d of server %u is a WAN port; its kind stays\n",
                     i + 1, unsigned{serial});
        return kExitFailed;
      }
      r->set_port_kind(port, k == 0 ? uint8_t{kPortMappable} : kPortUnavailable);
    }
  }
  if (r->search_reply == before) {
    std::printf("Port kinds of server %u unchanged; nothing sent\n", unsigned{serial});
    return kExitOk;
  }
  if (!Step(s, *r, wire::kSetPortKinds, "setting the port kinds")) return kExitFailed;
  return SaveAndRestart(s, *r);
}

const Subcommand kPortsSubcommands[] = {
    {"show", kPortsShowHelp, {}, {"--json"}, 0, 0, PortsShow},
    {"set", kPortsSetHelp, {"--mappable", "--unavailable"}, {}, 0, 0, PortsSet},
};

int RunPorts(const Args& args) {
  return RunFamily(args, "ports", kPortsUsage, kPortsSubcommands);
}

// --- dhcp ----------------------------------------------------------------------

// The family's usage with the models that carry the setting, from the model table.
const char* DhcpUsage() {
  static const std::string usage = [] {
    constexpr uint32_t kOldFirmware = 0, kNewFirmware = 0x02200000;
    std::string always, from_2_20;
    for (const ModelInfo& m : ModelTable()) {
      std::string* list = manager::HasDhcpSetting(m.code, kOldFirmware)   ? &always
                          : manager::HasDhcpSetting(m.code, kNewFirmware) ? &from_2_20
                                                                          : nullptr;
      if (list == nullptr) continue;
      *list += (list->empty() ? "" : ", ") + std::string(m.name);
    }
    return "usage: zelinctl dhcp SUBCOMMAND SERIAL [on|off] [--password P]\n"
           "\n"
           "The DHCP setting of the server with serial number SERIAL. Only these models\n"
           "carry it: " +
           always + ",\nand from firmware 2.20 " + from_2_20 +
           ". For the others both subcommands end with\nstatus 1 and send no DHCP command.\n"
           "\n"
           "Subcommands:\n"
           "  show SERIAL [--json]   whether the server takes its address by DHCP\n"
           "  set SERIAL on|off      change it\n";
  }();
  return usage.c_str();
}

constexpr const char* kDhcpShowHelp =
    "usage: zelinctl dhcp show SERIAL [--json] [--password P]\n\n"
    "Asks the server for its DHCP setting.\n"
    "  --json             {serial, dhcp} with dhcp true or false\n";
constexpr const char* kDhcpSetHelp =
    "usage: zelinctl dhcp set SERIAL on|off [--password P]\n\n"
    "Switches the server's DHCP setting, then saves it and restarts the server (nothing\n"
    "is sent when the setting is already so).\n";

// LogIn, then the refusal for a model without the setting, then the current setting.
ServerRecord* DhcpServer(const Parsed& p, Session& s, uint16_t serial, int* rc) {
  ServerRecord* r = LogIn(p, s, serial, rc);
  if (r == nullptr) return nullptr;
  *rc = kExitFailed;
  if (!manager::HasDhcpSetting(r->device_type(), r->firmware_version())) {
    const std::string_view model = ModelName(r->device_type());
    std::fprintf(stderr, "zelinctl: server %u (%.*s, firmware %s) has no DHCP setting\n",
                 unsigned{serial}, static_cast<int>(model.size()), model.data(),
                 FirmwareText(r->firmware_version()).c_str());
    return nullptr;
  }
  r->dhcp = wire::kDhcpQuery;
  if (!Step(s, *r, wire::kDhcp, "asking for the DHCP setting")) return nullptr;
  if (r->dhcp > 1) {
    std::fprintf(stderr, "zelinctl: server %u reported the DHCP setting %u (not 0 or 1)\n",
                 unsigned{serial}, unsigned{r->dhcp});
    return nullptr;
  }
  *rc = kExitOk;
  return r;
}

int DhcpShow(const Parsed& p, uint16_t serial) {
  Session s;
  int rc = kExitOk;
  const ServerRecord* r = DhcpServer(p, s, serial, &rc);
  if (r == nullptr) return rc;
  if (p.has("--json"))
    PrintJson({{"serial", serial}, {"dhcp", r->dhcp == 1}});
  else
    std::printf("DHCP %s\n", r->dhcp == 1 ? "on" : "off");
  return kExitOk;
}

int DhcpSet(const Parsed& p, uint16_t serial) {
  const std::string& value = p.positional[0];
  if (value != "on" && value != "off") {
    std::fprintf(stderr, "zelinctl: '%s' is not on or off\n%s", value.c_str(), kDhcpSetHelp);
    return kExitUsage;
  }
  const uint8_t wanted = value == "on" ? 1 : 0;
  Session s;
  int rc = kExitOk;
  ServerRecord* r = DhcpServer(p, s, serial, &rc);
  if (r == nullptr) return rc;
  if (r->dhcp == wanted) {
    std::printf("DHCP of server %u is already %s; nothing sent\n", unsigned{serial}, value.c_str());
    return kExitOk;
  }
  r->dhcp = wanted;
  if (!Step(s, *r, wire::kDhcp, "setting DHCP")) return kExitFailed;
  if (r->dhcp != wanted) {
    std::fprintf(stderr, "zelinctl: server %u kept the DHCP setting %u\n", unsigned{serial},
                 unsigned{r->dhcp});
    return kExitFailed;
  }
  return SaveAndRestart(s, *r);
}

const Subcommand kDhcpSubcommands[] = {
    {"show", kDhcpShowHelp, {}, {"--json"}, 0, 0, DhcpShow},
    {"set", kDhcpSetHelp, {}, {}, 1, 1, DhcpSet},
};

int RunDhcp(const Args& args) {
  return RunFamily(args, "dhcp", DhcpUsage(), kDhcpSubcommands);
}

// --- check-address -------------------------------------------------------------

std::string HardwareText(const std::array<uint8_t, 6>& hw) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", hw[0], hw[1], hw[2], hw[3], hw[4],
                hw[5]);
  return buf;
}

int RunCheckAddress(const Args& args) {
  const Parsed p = Parse(args, {"--password"}, {"--json"});
  const int serial = CommandSerial(p, 2);
  if (serial < 0)
    return Usage(p,
                 "usage: zelinctl check-address SERIAL ADDRESS [--json] [--password P]\n\n"
                 "Asks the server with serial number SERIAL whether another host on its network\n"
                 "already uses ADDRESS, and which (its hardware address). Status 0 whether the\n"
                 "address is free or in use; nothing on the server changes.\n"
                 "  --json             {address, in_use, hardware} (hardware null when free)\n"
                 "  --password P       the server's password, to log in (when it has one)\n");
  const auto address = AddressArgument(p.positional[1]);
  if (!address) return kExitUsage;
  if (const int rc = CheckPasswordOption(p, "--password"); rc != kExitOk) return rc;
  Session s;
  int rc = kExitOk;
  ServerRecord* r = LogIn(p, s, static_cast<uint16_t>(serial), &rc);
  if (r == nullptr) return rc;
  r->set_ip_address(*address);  // the address the command carries
  if (!Step(s, *r, wire::kCheckAddress, "checking the address")) return kExitFailed;
  const bool in_use = (r->flags() & wire::kFlagAddressConflict) != 0;
  const std::string text = AddressToText(*address);
  if (p.has("--json")) {
    PrintJson({{"address", text},
               {"in_use", in_use},
               {"hardware", in_use ? nlohmann::json(HardwareText(r->conflict_hardware))
                                   : nlohmann::json(nullptr)}});
  } else if (in_use) {
    std::printf("%s is in use by %s\n", text.c_str(), HardwareText(r->conflict_hardware).c_str());
  } else {
    std::printf("%s is free\n", text.c_str());
  }
  return kExitOk;
}

const Registration kPorts({"ports", "show or change which ports of a server can be mapped",
                           RunPorts});
const Registration kDhcp({"dhcp", "show or change a server's DHCP setting", RunDhcp});
const Registration kCheckAddress({"check-address", "ask a server whether an address is in use",
                                  RunCheckAddress});

}  // namespace
}  // namespace zelin::ctl
