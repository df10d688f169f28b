// zelinctl access: the access-control list of a server (which hosts may use which of
// its ports). Entries are edited with the manager's table rules (an entry is known by
// its address and netmask, ports merge into it, an entry whose last port goes stays)
// and the whole list is written back, then saved with a restart of the server.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/address.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/access_table.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "tools/zelinctl/json_output.hpp"
#include "tools/zelinctl/port_list.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

constexpr const char* kUsage =
    "usage: zelinctl access SUBCOMMAND SERIAL [ARGUMENTS] [--password P]\n"
    "\n"
    "The access-control list of the server with serial number SERIAL: which hosts may use\n"
    "which of its ports. An empty list lets every host use every port.\n"
    "\n"
    "Subcommands:\n"
    "  show SERIAL [--json]              list the entries\n"
    "  set SERIAL ENTRY... | --empty     replace the whole list\n"
    "  add SERIAL ENTRY                  grant the entry's ports (a new entry is appended)\n"
    "  remove SERIAL ADDRESS[/NETMASK][:PORTS]\n"
    "                                    withdraw those ports, or delete the entry\n"
    "\n"
    "ENTRY is ADDRESS[/NETMASK][:PORTS]: NETMASK dotted or as a prefix length (default\n"
    "255.255.255.255, a single computer); PORTS \"all\", \"none\" or port numbers and ranges\n"
    "(\"1,3-5\"; default none). An entry is known by its address and netmask. A change is\n"
    "saved on the server, which then restarts; a change that leaves the list as it was is\n"
    "not sent. Run 'zelinctl access SUBCOMMAND --help' for its options.\n";

constexpr const char* kShowHelp =
    "usage: zelinctl access show SERIAL [--json] [--password P]\n\n"
    "Lists the server's access-control entries: address, netmask and the ports granted.\n"
    "  --json             a JSON array of {ip_address, netmask, ports}\n";
constexpr const char* kSetHelp =
    "usage: zelinctl access set SERIAL ENTRY... [--password P]\n"
    "       zelinctl access set SERIAL --empty [--password P]\n\n"
    "Replaces the whole list with the entries given (entries with the same address and\n"
    "netmask are merged; at most 32), or with an empty list for --empty, then saves it\n"
    "and restarts the server. ENTRY is ADDRESS[/NETMASK][:PORTS].\n"
    "  --empty            an empty list: every host may use every port\n";
constexpr const char* kAddHelp =
    "usage: zelinctl access add SERIAL ADDRESS[/NETMASK][:PORTS] [--password P]\n\n"
    "Grants PORTS to the entry with that address and netmask, appending the entry when\n"
    "the list has none (without PORTS: an entry that grants no port yet), then saves and\n"
    "restarts the server. Status 1 when the list already holds 32 entries.\n";
constexpr const char* kRemoveHelp =
    "usage: zelinctl access remove SERIAL ADDRESS[/NETMASK][:PORTS] [--password P]\n\n"
    "With PORTS, withdraws those ports from the entry (an entry left with no port stays);\n"
    "without, deletes the entry. Then saves and restarts the server. Status 3 when the\n"
    "list has no entry with that address and netmask.\n";

struct EntryArg {
  Ipv4 address = 0;
  Ipv4 netmask = kBroadcastAddress;
  std::optional<PortList> ports;
};

// ADDRESS[/NETMASK][:PORTS]; nullopt with *error for anything else.
std::optional<EntryArg> ParseEntry(const std::string& text, std::string* error) {
  EntryArg e;
  std::string rest = text;
  if (const size_t colon = rest.find(':'); colon != std::string::npos) {
    e.ports = ParsePortList(rest.substr(colon + 1));
    if (!e.ports) {
      // Appended, not "'" + text: GCC 12 at -O2 sees a false overlap in the latter.
      *error = std::string("'").append(rest, colon + 1).append(
          "' is not a port list (\"all\", \"none\", \"1,3-5\")");
      return std::nullopt;
    }
    rest.resize(colon);
  }
  if (const size_t slash = rest.find('/'); slash != std::string::npos) {
    const std::string mask = rest.substr(slash + 1);
    rest.resize(slash);
    if (auto dotted = ParseAddress(mask)) {
      e.netmask = *dotted;
    } else if (!mask.empty() && mask.size() <= 2 &&
               mask.find_first_not_of("0123456789") == std::string::npos && std::stoi(mask) <= 32) {
      const int prefix = std::stoi(mask);
      e.netmask = Ipv4FromHostOrder(prefix == 0 ? 0u : ~0u << (32 - prefix));
    } else {
      *error = std::string("'").append(mask).append("' is not a netmask");
      return std::nullopt;
    }
  }
  const auto address = ParseAddress(rest);
  if (!address) {
    *error = "'" + rest + "' is not an IPv4 address";
    return std::nullopt;
  }
  // Either address ends the list when the server sends it back, so such an entry and
  // every one after it would vanish.
  if (*address == 0 || *address == kBroadcastAddress) {
    *error = std::string(manager::kPsInvalidHostAddress);
    return std::nullopt;
  }
  e.address = *address;
  return e;
}

// Parses every argument as an entry; status 2 with the message on the first bad one.
int ParseEntries(const std::vector<std::string>& args, std::vector<EntryArg>* out) {
  for (const std::string& a : args) {
    std::string error;
    auto e = ParseEntry(a, &error);
    if (!e) {
      std::fprintf(stderr, "zelinctl: %s\n", error.c_str());
      return kExitUsage;
    }
    out->push_back(*e);
  }
  return kExitOk;
}

// The entry's ports on this server; nullopt (message printed) for a port it lacks.
std::optional<uint16_t> EntryPorts(const EntryArg& e, const ServerRecord& r) {
  if (!e.ports) return uint16_t{0};
  std::string error;
  auto mask = PortsOnServer(*e.ports, manager::RecordPortCount(r), &error);
  if (!mask) std::fprintf(stderr, "zelinctl: %s\n", error.c_str());
  return mask;
}

int ReadTable(Session& s, ServerRecord& r) {
  const Status read = ReadAccessTable(*s.transport, r, 1);
  if (read) return kExitOk;
  std::fprintf(stderr, "zelinctl: reading the access-control list failed: %s\n",
               read.ToString().c_str());
  return kExitFailed;
}

// Logs in to the server and reads its access-control list: the record, or nullptr
// with the exit status in *rc.
ServerRecord* LogInAndReadTable(const Parsed& p, Session& s, uint16_t serial, int* rc) {
  ServerRecord* r = LogIn(p, s, serial, rc);
  if (r == nullptr) return nullptr;
  *rc = ReadTable(s, *r);
  return *rc == kExitOk ? r : nullptr;
}

std::vector<AccessEntry> Entries(const ServerRecord& r) {
  const auto n = static_cast<size_t>(manager::AccessEntryCount(r));
  return {r.access_table.begin(), r.access_table.begin() + static_cast<std::ptrdiff_t>(n)};
}

// Writes the record's table when it differs from `before`, then saves and restarts.
int WriteIfChanged(Session& s, ServerRecord& r, const std::vector<AccessEntry>& before) {
  if (Entries(r) == before) {
    std::printf("Access-control list of server %u unchanged; nothing sent\n",
                unsigned{r.serial_number()});
    return kExitOk;
  }
  if (const Status written = WriteAccessTable(*s.transport, r, manager::AccessEntryCount(r), 1);
      !written) {
    std::fprintf(stderr, "zelinctl: writing the access-control list failed: %s\n",
                 written.ToString().c_str());
    return kExitFailed;
  }
  return SaveAndRestart(s, r);
}

int Show(const Parsed& p, uint16_t serial) {
  Session s;
  int rc = kExitOk;
  ServerRecord* r = LogInAndReadTable(p, s, serial, &rc);
  if (r == nullptr) return rc;
  const auto entries = Entries(*r);
  if (p.has("--json")) {
    nlohmann::json out = nlohmann::json::array();
    for (const AccessEntry& e : entries)
      out.push_back({{"ip_address", AddressToText(e.address)},
                     {"netmask", AddressToText(e.netmask)},
                     {"ports", PortNumbers(e.port_mask)}});
    PrintJson(out);
    return kExitOk;
  }
  std::printf("%-15s %-15s %s\n", "IP ADDRESS", "NETMASK", "PORTS");
  for (const AccessEntry& e : entries)
    std::printf("%-15s %-15s %s\n", AddressToText(e.address).c_str(),
                AddressToText(e.netmask).c_str(), PortListText(e.port_mask).c_str());
  if (entries.empty()) std::printf("(empty: every host may use every port)\n");
  return kExitOk;
}

int Set(const Parsed& p, uint16_t serial) {
  const bool empty = p.has("--empty");
  if (empty == !p.positional.empty()) {
    std::fprintf(stderr, "zelinctl: give the entries of the new list, or --empty\n%s", kSetHelp);
    return kExitUsage;
  }
  std::vector<EntryArg> wanted;
  if (int rc = ParseEntries(p.positional, &wanted); rc != kExitOk) return rc;
  Session s;
  int rc = kExitOk;
  ServerRecord* r = LogInAndReadTable(p, s, serial, &rc);
  if (r == nullptr) return rc;
  const auto before = Entries(*r);
  // The new list, built by the same merge as the manager's page.
  ServerRecord scratch = *r;
  scratch.access_table.fill(AccessEntry{});
  scratch.access_total = scratch.access_start = scratch.access_count = 0;
  for (const EntryArg& e : wanted) {
    const auto ports = EntryPorts(e, *r);
    if (!ports) return kExitUsage;
    if (!manager::MergeAccessPorts(scratch, e.address, e.netmask, e.address, e.netmask, *ports,
                                   true)) {
      std::fprintf(stderr, "zelinctl: %.*s\n", static_cast<int>(manager::kPsAccessTableFull.size()),
                   manager::kPsAccessTableFull.data());
      return kExitUsage;
    }
  }
  r->access_table = scratch.access_table;
  r->access_total = scratch.access_total;
  return WriteIfChanged(s, *r, before);
}

// The one entry that add and remove name, on a server logged in to with its table read.
struct EntryEdit {
  Session session;
  ServerRecord* record = nullptr;
  EntryArg entry;
  uint16_t ports = 0;
};

int BeginEntryEdit(const Parsed& p, uint16_t serial, EntryEdit& edit) {
  std::vector<EntryArg> args;
  if (int rc = ParseEntries(p.positional, &args); rc != kExitOk) return rc;
  edit.entry = args.front();
  int rc = kExitOk;
  edit.record = LogIn(p, edit.session, serial, &rc);
  if (edit.record == nullptr) return rc;
  const auto ports = EntryPorts(edit.entry, *edit.record);
  if (!ports) return kExitUsage;
  edit.ports = *ports;
  return ReadTable(edit.session, *edit.record);
}

int Add(const Parsed& p, uint16_t serial) {
  EntryEdit edit;
  if (int rc = BeginEntryEdit(p, serial, edit); rc != kExitOk) return rc;
  ServerRecord& r = *edit.record;
  const EntryArg& e = edit.entry;
  const auto before = Entries(r);
  if (!manager::MergeAccessPorts(r, e.address, e.netmask, e.address, e.netmask, edit.ports, true)) {
    std::fprintf(stderr, "zelinctl: %.*s\n", static_cast<int>(manager::kPsAccessTableFull.size()),
                 manager::kPsAccessTableFull.data());
    return kExitFailed;
  }
  return WriteIfChanged(edit.session, r, before);
}

int Remove(const Parsed& p, uint16_t serial) {
  EntryEdit edit;
  if (int rc = BeginEntryEdit(p, serial, edit); rc != kExitOk) return rc;
  ServerRecord& r = *edit.record;
  const EntryArg& e = edit.entry;
  const int index = manager::FindAccessEntry(r, e.address, e.netmask);
  if (index < 0) {
    std::fprintf(stderr, "zelinctl: server %u has no access-control entry %s/%s\n",
                 unsigned{serial}, AddressToText(e.address).c_str(),
                 AddressToText(e.netmask).c_str());
    return kExitNotFound;
  }
  const auto before = Entries(r);
  if (e.ports)
    manager::MergeAccessPorts(r, e.address, e.netmask, e.address, e.netmask, edit.ports, false);
  else
    manager::DeleteAccessEntry(r, index);
  return WriteIfChanged(edit.session, r, before);
}

const Subcommand kSubcommands[] = {
    {"show", kShowHelp, {}, {"--json"}, 0, 0, Show},
    {"set", kSetHelp, {}, {"--empty"}, 0, wire::kTableLimit, Set},
    {"add", kAddHelp, {}, {}, 1, 1, Add},
    {"remove", kRemoveHelp, {}, {}, 1, 1, Remove},
};

int RunAccess(const Args& args) {
  return RunFamily(args, "access", kUsage, kSubcommands);
}

const Registration kAccess({"access", "show or change a server's access-control list", RunAccess});

}  // namespace
}  // namespace zelin::ctl
