// zelinctl store: the configured servers of the registry hive, its export, the
// installation type and a consistency check.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "protocol/address.hpp"
#include "protocol/device_types.hpp"
#include "store/com_devices.hpp"
#include "store/hive_file.hpp"
#include "store/reg_text.hpp"
#include "store/server_store.hpp"
#include "store/store_check.hpp"
#include "tools/zelinctl/command.hpp"
#include "tools/zelinctl/json_output.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

constexpr const char* kUsage =
    "usage: zelinctl store SUBCOMMAND [--registry PATH] [OPTIONS]\n"
    "\n"
    "Subcommands:\n"
    "  list [--json]   configured servers with their ports and COM names\n"
    "  export          the store's keys and their device entries as registry text\n"
    "  set-type N      set the installation type: 1 single-host, 2 multi-host, 3 custom,\n"
    "                  0 not set\n"
    "  check           report orphaned device or class keys, mapped ports without device\n"
    "                  entries, duplicate COM numbers and server keys sharing a serial\n"
    "                  number; exit status 1 when any is found\n"
    "\n"
    "Options:\n"
    "  --registry PATH  the registry hive (overrides ZELIN_REGISTRY; default\n"
    "                   $XDG_DATA_HOME/zelin/registry.reg)\n";

constexpr const char* kListHelp =
    "usage: zelinctl store list [--json] [--registry PATH]\n"
    "\n"
    "Lists the configured servers (registry key, serial number, model, address, name) and\n"
    "every port with its COM name, device key, transmission mode and FIFO setting.\n"
    "  --json  one JSON document instead of the table\n";
constexpr const char* kExportHelp =
    "usage: zelinctl store export [--registry PATH]\n"
    "\n"
    "Writes the store's keys and the device and driver keys of its mapped ports to standard\n"
    "output in REGEDIT4 text.\n";
constexpr const char* kSetTypeHelp =
    "usage: zelinctl store set-type N [--registry PATH]\n"
    "\n"
    "Sets \"ZelinType\": 1 single-host, 2 multi-host, 3 custom, 0 not set.\n";
constexpr const char* kCheckHelp =
    "usage: zelinctl store check [--registry PATH]\n"
    "\n"
    "Reports orphaned device or class keys, mapped ports without device entries, duplicate\n"
    "COM numbers and server keys sharing a serial number, one per line. Exit status 1 when\n"
    "any was found.\n";

// The store's options: --registry everywhere, --json where the subcommand prints data.
Parsed ParseStoreOptions(const Args& args, bool allow_json) {
  Parsed p = ParseOptions(Args(args.begin() + 1, args.end()), {"--registry"},
                          allow_json ? std::set<std::string>{"--json"} : std::set<std::string>{});
  if (p.error.empty())
    if (const std::string* path = p.value("--registry"); path != nullptr && path->empty())
      p.error = "--registry needs a path";
  return p;
}

HiveFile OpenHive(const Parsed& o) {
  const std::string* path = o.value("--registry");
  return HiveFile(ResolveRegistryPath(path != nullptr ? *path : ""));
}

int Fail(const std::string& message, int code) {
  std::fprintf(stderr, "zelinctl store: %s\n", message.c_str());
  return code;
}

// The tree, or an exit status when the hive cannot be read.
std::optional<int> LoadTree(const HiveFile& hive, MemoryRegistry& reg) {
  const Status st = hive.Load(reg);
  if (!st) return Fail(st.message(), kExitEnvironment);
  return std::nullopt;
}

int List(const Parsed& o) {
  const HiveFile hive = OpenHive(o);
  MemoryRegistry reg;
  if (auto code = LoadTree(hive, reg)) return *code;
  std::vector<ServerConfig> table(kMaxConfiguredServers);
  const Result<int> count = LoadServerStore(reg, ProductLine::kZelin, table);
  if (!count) return Fail(hive.path().string() + ": " + count.status().message(), kExitNotFound);
  table.resize(static_cast<size_t>(*count));

  nlohmann::json servers = nlohmann::json::array();
  std::string text;
  char line[256];
  std::map<uint16_t, size_t> seen;  // records of each serial number so far
  for (const auto& c : table) {
    // The k-th record of a serial number belongs to the k-th key of that number.
    const auto keys = ServerKeysOf(reg, c.serial_number);
    const size_t k = seen[c.serial_number]++;
    const std::string key_name = k < keys.size() ? keys[k] : std::string("?");
    const std::string server_key = RegJoin(kParametersKey, key_name);
    const std::string model(ModelName(c.device_type));
    std::snprintf(line, sizeof line, "%-9s %-7u %-9s %-16s %s\n", key_name.c_str(), c.serial_number,
                  model.c_str(), AddressToText(c.ip_address).c_str(), c.name().c_str());
    text += line;
    text += "  PORT  COM      DEVICE KEY   TRANSMISSION    FIFO\n";
    nlohmann::json ports = nlohmann::json::array();
    for (uint32_t p = 0; p < c.port_count; ++p) {
      const bool mapped = c.port_mapped[p] != 0;
      const auto driver = reg.ReadString(RegJoin(server_key, PortKeyName(p)), "PortDriver");
      std::optional<std::string> com_name;
      if (mapped && driver) com_name = reg.ReadString(RegJoin(kEnumRootKey, *driver), "PortName");
      const char* transmission =
          (c.port_options[p] & kOptionClassical) ? "Classical" : "Hi-Performance";
      const char* fifo = (c.port_options[p] & kOptionFifoDisabled) ? "disabled" : "enabled";
      const std::string com =
          mapped ? "COM" + std::to_string(ComNumberOf(c.com_number[p])) : std::string("-");
      std::snprintf(line, sizeof line, "  %-5u %-8s %-12s %-15s %s%s\n", p + 1, com.c_str(),
                    mapped && driver ? driver->c_str() : "-", transmission, fifo,
                    mapped && com_name != com ? "  (device entry missing or stale)" : "");
      text += line;
      ports.push_back({{"port", p + 1},
                       {"mapped", mapped},
                       {"com", mapped ? nlohmann::json(ComNumberOf(c.com_number[p])) : nullptr},
                       {"com_name", com_name ? nlohmann::json(*com_name) : nullptr},
                       {"port_driver", driver ? nlohmann::json(*driver) : nullptr},
                       {"transmission", transmission},
                       {"fifo", fifo}});
    }
    servers.push_back({{"key", key_name},
                       {"serial", c.serial_number},
                       {"device_type", c.device_type},
                       {"model", model},
                       {"name", c.name()},
                       {"ip_address", AddressToText(c.ip_address)},
                       {"netmask", AddressToText(c.netmask)},
                       {"password_saved", (c.flags & kServerFlagPasswordSaved) != 0},
                       {"ports", ports}});
  }
  if (o.has("--json")) {
    const nlohmann::json doc{{"registry", hive.path().string()},
                             {"installation_type", ReadInstallationType(reg).value_or(-1)},
                             {"servers", servers}};
    PrintJson(doc);
  } else {
    std::printf("%-9s %-7s %-9s %-16s %s\n", "KEY", "SERIAL", "MODEL", "IP ADDRESS", "NAME");
    std::fputs(text.c_str(), stdout);
    if (table.empty()) std::printf("(no servers configured)\n");
  }
  return kExitOk;
}

int Export(const Parsed& o) {
  const HiveFile hive = OpenHive(o);
  MemoryRegistry reg;
  if (auto code = LoadTree(hive, reg)) return *code;
  if (!reg.KeyExists(kZelinKey))
    return Fail(
        hive.path().string() + ": no store (the key " + std::string(kZelinKey) + " does not exist)",
        kExitNotFound);
  std::vector<std::string> keys{std::string(kZelinKey)};
  // The device and driver keys that the mapped ports link to.
  for (size_t s = 0;; ++s) {
    const auto server = reg.EnumSubkey(kParametersKey, s);
    if (!server) break;
    const std::string server_key = RegJoin(kParametersKey, *server);
    for (size_t p = 0;; ++p) {
      const auto port = reg.EnumSubkey(server_key, p);
      if (!port) break;
      const std::string port_key = RegJoin(server_key, *port);
      if (reg.ReadDword(port_key, "PortFlag").value_or(0) == 0) continue;
      const auto driver = reg.ReadString(port_key, "PortDriver");
      if (!driver) continue;
      const std::string device_key = RegJoin(kEnumRootKey, *driver);
      keys.push_back(device_key);
      if (const auto class_key = reg.ReadString(device_key, "Driver"))
        keys.push_back(RegJoin(kClassRootKey, *class_key));
    }
  }
  std::fputs(FormatRegText(reg, keys).c_str(), stdout);
  return kExitOk;
}

int SetType(const Parsed& o) {
  if (o.positional.size() != 1) return Fail("set-type needs one number (0 to 3)", kExitUsage);
  const std::string& n = o.positional[0];
  if (n.size() != 1 || n[0] < '0' || n[0] > '3')
    return Fail("installation type must be 0, 1, 2 or 3, not '" + n + "'", kExitUsage);
  HiveFile hive = OpenHive(o);
  if (const Status st = WriteInstallationType(hive, n[0] - '0'); !st)
    return Fail(st.message(), kExitEnvironment);
  return kExitOk;
}

int Check(const Parsed& o) {
  const HiveFile hive = OpenHive(o);
  MemoryRegistry reg;
  if (auto code = LoadTree(hive, reg)) return *code;
  const auto problems = CheckStore(reg);
  for (const auto& p : problems) std::printf("%s\n", p.message.c_str());
  if (problems.empty()) {
    std::printf("%s: no problems found\n", hive.path().string().c_str());
    return kExitOk;
  }
  return kExitFailed;
}

int RunStore(const Args& args) {
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string& sub = args[0];
  if (sub == "--help" || sub == "-h" || sub == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  struct Sub {
    const char* name;
    const char* help;
    bool json;
    bool positional;
    int (*run)(const Parsed&);
  };
  static constexpr Sub kSubs[] = {
      {"list", kListHelp, true, false, List},
      {"export", kExportHelp, false, false, Export},
      {"set-type", kSetTypeHelp, false, true, SetType},
      {"check", kCheckHelp, false, false, Check},
  };
  for (const auto& s : kSubs) {
    if (sub != s.name) continue;
    const Parsed o = ParseStoreOptions(args, s.json);
    if (o.help) {
      std::fputs(s.help, stdout);
      return kExitOk;
    }
    if (!o.error.empty()) {
      std::fprintf(stderr, "zelinctl store %s: %s\n", s.name, o.error.c_str());
      std::fputs(s.help, stderr);
      return kExitUsage;
    }
    if (!s.positional && !o.positional.empty()) {
      std::fprintf(stderr, "zelinctl store %s: unexpected argument '%s'\n", s.name,
                   o.positional[0].c_str());
      std::fputs(s.help, stderr);
      return kExitUsage;
    }
    return s.run(o);
  }
  std::fprintf(stderr, "zelinctl store: unknown subcommand '%s'\n", sub.c_str());
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

const Registration kStore({"store", "list, export, check the server store; set-type", RunStore});

}  // namespace
}  // namespace zelin::ctl
