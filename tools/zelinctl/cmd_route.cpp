// zelinctl route: the routing table of a server. Routes are known by gateway,
// destination and netmask; each change travels as AddRoute entries (metric 0xFFFF
// removes a route) and is then saved with a restart of the server.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/address.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "tools/zelinctl/json_output.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

constexpr const char* kUsage =
    "usage: zelinctl route SUBCOMMAND SERIAL [OPTIONS] [--password P]\n"
    "\n"
    "The routing table of the server with serial number SERIAL. A route is known by its\n"
    "destination, gateway and netmask; its metric is 0 to 999.\n"
    "\n"
    "Subcommands:\n"
    "  show SERIAL [--json]                          list the routes\n"
    "  add SERIAL --destination D --gateway G --netmask M [--metric N]\n"
    "  modify SERIAL --destination D --gateway G --netmask M\n"
    "         [--new-destination D] [--new-gateway G] [--new-netmask M] [--metric N]\n"
    "  remove SERIAL --destination D --gateway G --netmask M\n"
    "\n"
    "A change is saved on the server, which then restarts. Run\n"
    "'zelinctl route SUBCOMMAND --help' for its options.\n";

constexpr const char* kShowHelp =
    "usage: zelinctl route show SERIAL [--json] [--password P]\n\n"
    "Lists the server's routes: destination, gateway, netmask and metric.\n"
    "  --json             a JSON array of {destination, gateway, netmask, metric}\n";
constexpr const char* kAddHelp =
    "usage: zelinctl route add SERIAL --destination D --gateway G --netmask M [--metric N]\n"
    "                          [--password P]\n\n"
    "Adds a route, then saves it and restarts the server. Status 1 when the server\n"
    "already has a route with that destination, gateway and netmask but another metric\n"
    "(use 'route modify'), or when its table holds 32 routes.\n"
    "  --metric N         0 to 999 (default 1)\n";
constexpr const char* kModifyHelp =
    "usage: zelinctl route modify SERIAL --destination D --gateway G --netmask M\n"
    "                             [--new-destination D] [--new-gateway G]\n"
    "                             [--new-netmask M] [--metric N] [--password P]\n\n"
    "Changes the route with that destination, gateway and netmask to the new values (the\n"
    "others stay), then saves it and restarts the server. Status 3 when there is no such\n"
    "route, 1 when the new values name another route the server has.\n"
    "  --metric N         the new metric, 0 to 999\n";
constexpr const char* kRemoveHelp =
    "usage: zelinctl route remove SERIAL --destination D --gateway G --netmask M\n"
    "                             [--password P]\n\n"
    "Removes the route, then saves and restarts the server. Status 3 when there is no\n"
    "such route.\n";

constexpr int kCapacity = static_cast<int>(wire::kTableCapacity);
constexpr int kMaxMetric = 999;  // three digits, as the manager's route dialog takes

// An address option; nullopt when absent. Status 2 (message printed) when malformed.
std::optional<Ipv4> AddressOption(const Parsed& p, const char* option, int* rc) {
  const std::string* text = p.value(option);
  if (text == nullptr) return std::nullopt;
  auto a = AddressArgument(*text, option);
  if (!a) *rc = kExitUsage;
  return a;
}

std::optional<uint16_t> MetricOption(const Parsed& p, int* rc) {
  const std::string* text = p.value("--metric");
  if (text == nullptr) return std::nullopt;
  if (text->empty() || text->size() > 3 ||
      text->find_first_not_of("0123456789") != std::string::npos) {
    std::fprintf(stderr, "zelinctl: --metric: '%s' is not a metric (0 to %d)\n", text->c_str(),
                 kMaxMetric);
    *rc = kExitUsage;
    return std::nullopt;
  }
  return static_cast<uint16_t>(std::stoi(*text));
}

// The route named by --destination, --gateway and --netmask (all three required).
std::optional<RouteEntry> RouteKey(const Parsed& p, int* rc) {
  *rc = kExitOk;
  const auto destination = AddressOption(p, "--destination", rc);
  const auto gateway = AddressOption(p, "--gateway", rc);
  const auto netmask = AddressOption(p, "--netmask", rc);
  if (*rc != kExitOk) return std::nullopt;
  if (!destination || !gateway || !netmask) {
    std::fprintf(stderr, "zelinctl: give the route's --destination, --gateway and --netmask\n");
    *rc = kExitUsage;
    return std::nullopt;
  }
  RouteEntry e;
  e.destination = *destination;
  e.gateway = *gateway;
  e.netmask = *netmask;
  e.metric = 1;
  return e;
}

std::string RouteText(const RouteEntry& e) {
  return AddressToText(e.destination) + " via " + AddressToText(e.gateway) + " netmask " +
         AddressToText(e.netmask);
}

// Reads the table; the routes the server has (empty slots left out).
std::optional<std::vector<RouteEntry>> ReadRoutes(Session& s, ServerRecord& r) {
  if (const Status read = ReadRouteTable(*s.transport, r, 1); !read) {
    std::fprintf(stderr, "zelinctl: reading the routing table failed: %s\n",
                 read.ToString().c_str());
    return std::nullopt;
  }
  std::vector<RouteEntry> routes;
  const int n = std::min<int>(r.route_total, kCapacity);
  for (int i = 0; i < n; ++i)
    if (r.route_table[static_cast<size_t>(i)].metric != wire::kRouteEmptyMetric)
      routes.push_back(r.route_table[static_cast<size_t>(i)]);
  return routes;
}

const RouteEntry* FindRoute(const std::vector<RouteEntry>& routes, const RouteEntry& key) {
  for (const RouteEntry& e : routes)
    if (SameRouteKey(e, key)) return &e;
  return nullptr;
}

int SendFailed(const Status& sent) {
  std::fprintf(stderr, "zelinctl: sending the route failed: %s\n", sent.ToString().c_str());
  return kExitFailed;
}

int Show(const Parsed& p, uint16_t serial) {
  Session s;
  int rc = kExitOk;
  ServerRecord* r = LogIn(p, s, serial, &rc);
  if (r == nullptr) return rc;
  const auto routes = ReadRoutes(s, *r);
  if (!routes) return kExitFailed;
  if (p.has("--json")) {
    nlohmann::json out = nlohmann::json::array();
    for (const RouteEntry& e : *routes)
      out.push_back({{"destination", AddressToText(e.destination)},
                     {"gateway", AddressToText(e.gateway)},
                     {"netmask", AddressToText(e.netmask)},
                     {"metric", e.metric}});
    PrintJson(out);
    return kExitOk;
  }
  std::printf("%-15s %-15s %-15s %s\n", "DESTINATION", "GATEWAY", "NETMASK", "METRIC");
  for (const RouteEntry& e : *routes)
    std::printf("%-15s %-15s %-15s %u\n", AddressToText(e.destination).c_str(),
                AddressToText(e.gateway).c_str(), AddressToText(e.netmask).c_str(),
                unsigned{e.metric});
  if (routes->empty()) std::printf("(no routes)\n");
  return kExitOk;
}

int Add(const Parsed& p, uint16_t serial) {
  int rc = kExitOk;
  auto route = RouteKey(p, &rc);
  const auto metric = MetricOption(p, &rc);
  if (rc != kExitOk) return rc;
  if (metric) route->metric = *metric;
  Session s;
  ServerRecord* r = LogIn(p, s, serial, &rc);
  if (r == nullptr) return rc;
  const auto routes = ReadRoutes(s, *r);
  if (!routes) return kExitFailed;
  if (const RouteEntry* same = FindRoute(*routes, *route)) {
    if (same->metric == route->metric) {
      std::printf("Server %u already has the route %s; nothing sent\n", unsigned{serial},
                  RouteText(*route).c_str());
      return kExitOk;
    }
    std::fprintf(stderr,
                 "zelinctl: server %u already has the route %s with metric %u; use 'route "
                 "modify' to change it\n",
                 unsigned{serial}, RouteText(*route).c_str(), unsigned{same->metric});
    return kExitFailed;
  }
  if (static_cast<int>(routes->size()) >= kCapacity) {
    std::fprintf(stderr, "zelinctl: %.*s\n", static_cast<int>(manager::kPsRouteTableFull.size()),
                 manager::kPsRouteTableFull.data());
    return kExitFailed;
  }
  if (const Status sent = SendRoute(*s.transport, *r, *route, 1); !sent) return SendFailed(sent);
  return SaveAndRestart(s, *r);
}

int Modify(const Parsed& p, uint16_t serial) {
  int rc = kExitOk;
  const auto key = RouteKey(p, &rc);
  const auto destination = AddressOption(p, "--new-destination", &rc);
  const auto gateway = AddressOption(p, "--new-gateway", &rc);
  const auto netmask = AddressOption(p, "--new-netmask", &rc);
  const auto metric = MetricOption(p, &rc);
  if (rc != kExitOk) return rc;
  if (!destination && !gateway && !netmask && !metric) {
    std::fprintf(stderr,
                 "zelinctl: nothing to change; give --new-destination, --new-gateway, "
                 "--new-netmask or --metric\n");
    return kExitUsage;
  }
  Session s;
  ServerRecord* r = LogIn(p, s, serial, &rc);
  if (r == nullptr) return rc;
  const auto routes = ReadRoutes(s, *r);
  if (!routes) return kExitFailed;
  const RouteEntry* found = FindRoute(*routes, *key);
  if (found == nullptr) {
    std::fprintf(stderr, "zelinctl: server %u has no route %s\n", unsigned{serial},
                 RouteText(*key).c_str());
    return kExitNotFound;
  }
  const RouteEntry before = *found;
  RouteEntry after = before;
  if (destination) after.destination = *destination;
  if (gateway) after.gateway = *gateway;
  if (netmask) after.netmask = *netmask;
  if (metric) after.metric = *metric;
  if (after == before) {
    std::printf("Route %s of server %u unchanged; nothing sent\n", RouteText(before).c_str(),
                unsigned{serial});
    return kExitOk;
  }
  if (!SameRouteKey(before, after) && FindRoute(*routes, after) != nullptr) {
    std::fprintf(stderr, "zelinctl: server %u already has the route %s\n", unsigned{serial},
                 RouteText(after).c_str());
    return kExitFailed;
  }
  if (const Status sent = ChangeRoute(*s.transport, *r, before, after, 1); !sent)
    return SendFailed(sent);
  return SaveAndRestart(s, *r);
}

int Remove(const Parsed& p, uint16_t serial) {
  int rc = kExitOk;
  const auto key = RouteKey(p, &rc);
  if (rc != kExitOk) return rc;
  Session s;
  ServerRecord* r = LogIn(p, s, serial, &rc);
  if (r == nullptr) return rc;
  const auto routes = ReadRoutes(s, *r);
  if (!routes) return kExitFailed;
  if (FindRoute(*routes, *key) == nullptr) {
    std::fprintf(stderr, "zelinctl: server %u has no route %s\n", unsigned{serial},
                 RouteText(*key).c_str());
    return kExitNotFound;
  }
  RouteEntry removal = *key;
  removal.metric = wire::kRouteEmptyMetric;
  if (const Status sent = SendRoute(*s.transport, *r, removal, 1); !sent) return SendFailed(sent);
  return SaveAndRestart(s, *r);
}

const std::set<std::string> kKeyOptions{"--destination", "--gateway", "--netmask"};

const Subcommand kSubcommands[] = {
    {"show", kShowHelp, {}, {"--json"}, 0, 0, Show},
    {"add", kAddHelp, {"--destination", "--gateway", "--netmask", "--metric"}, {}, 0, 0, Add},
    {"modify",
     kModifyHelp,
     {"--destination", "--gateway", "--netmask", "--new-destination", "--new-gateway",
      "--new-netmask", "--metric"},
     {},
     0,
     0,
     Modify},
    {"remove", kRemoveHelp, kKeyOptions, {}, 0, 0, Remove},
};

int RunRoute(const Args& args) {
  return RunFamily(args, "route", kUsage, kSubcommands);
}

const Registration kRoute({"route", "show or change a server's routing table", RunRoute});

}  // namespace
}  // namespace zelin::ctl
