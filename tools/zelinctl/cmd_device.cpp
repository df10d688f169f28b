// zelinctl subcommands that talk to device servers: search, probe, locate, set, upgrade.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/clock.hpp"
#include "platform/prompter.hpp"
#include "protocol/address.hpp"
#include "protocol/device_text.hpp"
#include "protocol/device_types.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"
#include "protocol/firmware.hpp"
#include "protocol/transport.hpp"
#include "tools/zelinctl/command.hpp"

namespace zelin::ctl {
namespace {

constexpr const char* kNetworkHelp =
    "Network options (override the environment):\n"
    "  --interfaces A,B   host IPv4 addresses to use (ZELIN_INTERFACES)\n"
    "  --broadcast A      address used in place of 255.255.255.255 (ZELIN_BROADCAST)\n"
    "  --loopback-only    refuse every address outside 127.0.0.0/8 (ZELIN_LOOPBACK_ONLY=1)\n";

struct Parsed {
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> positional;
  std::string error;
  bool help = false;
};

// Options are "--name value" or "--name=value" for `valued`, "--name" for `flags`.
Parsed Parse(const Args& args, std::set<std::string> valued, std::set<std::string> flags) {
  valued.insert({"--interfaces", "--broadcast"});
  flags.insert("--loopback-only");
  Parsed p;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    if (a == "--help" || a == "-h") {
      p.help = true;
      continue;
    }
    if (a.rfind("--", 0) != 0) {
      p.positional.push_back(a);
      continue;
    }
    std::string value;
    bool inline_value = false;
    if (const size_t eq = a.find('='); eq != std::string::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      inline_value = true;
    }
    if (valued.count(a) != 0) {
      if (!inline_value) {
        if (i + 1 >= args.size()) {
          p.error = a + " needs a value";
          return p;
        }
        value = args[++i];
      }
      p.values[a] = value;
    } else if (flags.count(a) != 0 && !inline_value) {
      p.flags.insert(a);
    } else {
      p.error = "unknown option " + a;
      return p;
    }
  }
  return p;
}

std::optional<Ipv4> ParseAddress(const std::string& text) {
  return ParseHostAddress(text);
}

// The transport options: environment first, then the command line.
bool NetworkOptions(const Parsed& p, TransportOptions* o, std::string* error) {
  *o = TransportOptions::FromEnvironment(error);
  if (!error->empty()) return false;
  if (auto it = p.values.find("--interfaces"); it != p.values.end()) {
    o->interfaces.clear();
    std::string rest = it->second;
    size_t start = 0;
    while (start <= rest.size()) {
      const size_t comma = rest.find(',', start);
      const std::string part =
          rest.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      auto a = ParseAddress(part);
      if (!a) {
        *error = "--interfaces: '" + part + "' is not an IPv4 address";
        return false;
      }
      o->interfaces.push_back(*a);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  if (auto it = p.values.find("--broadcast"); it != p.values.end()) {
    auto a = ParseAddress(it->second);
    if (!a) {
      *error = "--broadcast: '" + it->second + "' is not an IPv4 address";
      return false;
    }
    o->broadcast = *a;
  }
  if (p.flags.count("--loopback-only") != 0) o->loopback_only = true;
  return true;
}

// Everything one command needs to reach the servers.
struct Session {
  RealClock clock;
  ConsolePrompter prompter;
  std::unique_ptr<Transport> transport;
  ServerList list;
};

int OpenSession(const Parsed& p, Session& s) {
  TransportOptions o;
  std::string error;
  if (!NetworkOptions(p, &o, &error)) {
    std::fprintf(stderr, "zelinctl: %s\n", error.c_str());
    return kExitUsage;
  }
  s.transport = std::make_unique<Transport>(s.clock, s.prompter, Deliverable::Manager, o);
  if (!s.transport->OpenTransport()) {
    std::fprintf(stderr, "Network port open error or being occupied!\n");
    return kExitEnvironment;
  }
  // Interfaces that could not be bound are left unused; with none left nothing can be
  // sent, and an empty search result would read as "no servers".
  bool any = false;
  for (int j = 0; j < s.transport->interface_count(); ++j)
    any = any || s.transport->socket(j) != kNoSocket;
  if (!any) {
    std::fprintf(stderr,
                 "zelinctl: no socket could be bound on the host addresses given; check "
                 "--interfaces or ZELIN_INTERFACES\n");
    return kExitEnvironment;
  }
  return kExitOk;
}

// A search needs a broadcast address the options allow; said once here instead of a
// refused send per attempt and an empty result.
bool MayBroadcast(const Session& s) {
  if (s.transport->MaySendTo(kBroadcastAddress)) return true;
  std::fprintf(stderr,
               "zelinctl: loopback-only is set and the broadcast address %s is outside "
               "127.0.0.0/8; give --broadcast or ZELIN_BROADCAST\n",
               AddressToText(s.transport->options().broadcast.value_or(kBroadcastAddress)).c_str());
  return false;
}

std::string FirmwareText(uint32_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%X.%02X.%04X", (v >> 24) & 0xFF, (v >> 16) & 0xFF, v & 0xFFFF);
  return buf;
}

nlohmann::json ToJson(const ServerRecord& r) {
  return {{"model", std::string(ModelName(r.device_type()))},
          {"device_type", r.device_type()},
          {"name", r.name()},
          {"ip_address", AddressToText(r.ip_address())},
          {"netmask", AddressToText(r.netmask())},
          {"serial", r.serial_number()},
          {"firmware", FirmwareText(r.firmware_version())},
          {"ports", r.port_count()},
          {"password", r.has_password()}};
}

void PrintTable(const ServerList& list, int first, int count) {
  std::printf("%-10s %-29s %-15s %7s %-12s %5s %s\n", "MODEL", "NAME", "IP ADDRESS", "SERIAL",
              "FIRMWARE", "PORTS", "PASSWORD");
  for (int i = first; i < first + count; ++i) {
    const ServerRecord& r = list.records[static_cast<size_t>(i)];
    std::printf("%-10s %-29s %-15s %7u %-12s %5u %s\n",
                std::string(ModelName(r.device_type())).c_str(), r.name().c_str(),
                AddressToText(r.ip_address()).c_str(), unsigned{r.serial_number()},
                FirmwareText(r.firmware_version()).c_str(), unsigned{r.port_count()},
                r.has_password() ? "yes" : "no");
  }
}

// Serial number argument: decimal, 0..65535; -1 when it is not one.
int ParseSerial(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  return v > 65535 ? -1 : static_cast<int>(v);
}

// What went wrong in the last exchange, for a script's log.
std::string ErrorText(LastCommandError e) {
  const char* what = "";
  switch (e) {
    case LastCommandError::kNone:
      what = "no error";
      break;
    case LastCommandError::kTimeout:
      what = "no reply";
      break;
    case LastCommandError::kPasswordTooLong:
      what = "password longer than 16 characters";
      break;
    case LastCommandError::kUnknownCommand:
      what = "unknown command";
      break;
    case LastCommandError::kSendFailed:
      what = "send failed";
      break;
    case LastCommandError::kWrongLength:
      what = "reply of the wrong length";
      break;
    case LastCommandError::kWrongCodeOrRefused:
      what = "refused by the server";
      break;
    case LastCommandError::kErrorStatus:
      what = "the server reported an error";
      break;
    case LastCommandError::kWrongSequence:
      what = "reply with the wrong sequence number";
      break;
    case LastCommandError::kWrongDeviceType:
      what = "reply from another device type";
      break;
    case LastCommandError::kWrongSerial:
      what = "reply from another serial number";
      break;
  }
  return std::string(what) + " (error " + std::to_string(static_cast<int>(e)) + ")";
}

// Searches and returns the record of `serial`, or nullptr (message printed, *rc set).
ServerRecord* FindServer(Session& s, uint16_t serial, int* rc) {
  *rc = kExitEnvironment;
  if (!MayBroadcast(s)) return nullptr;
  *rc = kExitNotFound;
  SearchServers(*s.transport, s.list, 1);
  const int i = s.list.FindSerial(serial);
  if (i < 0) {
    std::fprintf(stderr, "zelinctl: no server with serial number %u answered\n", unsigned{serial});
    return nullptr;
  }
  return &s.list.records[static_cast<size_t>(i)];
}

int Usage(const Parsed& p, const char* usage) {
  std::fprintf(p.help ? stdout : stderr, "%s\n%s", usage, kNetworkHelp);
  if (!p.help && !p.error.empty()) std::fprintf(stderr, "\nzelinctl: %s\n", p.error.c_str());
  return p.help ? kExitOk : kExitUsage;
}

// --- search --------------------------------------------------------------------

int RunSearch(const Args& args) {
  const Parsed p = Parse(args, {}, {"--json"});
  if (p.help || !p.error.empty() || !p.positional.empty())
    return Usage(p,
                 "usage: zelinctl search [--json]\n\n"
                 "Broadcasts a search on every interface and lists the servers that answer.\n");
  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  if (!MayBroadcast(s)) return kExitEnvironment;
  SearchServers(*s.transport, s.list, 1);
  if (p.flags.count("--json") != 0) {
    nlohmann::json out = nlohmann::json::array();
    for (int i = 0; i < s.list.count; ++i)
      out.push_back(ToJson(s.list.records[static_cast<size_t>(i)]));
    std::printf("%s\n", out.dump(2).c_str());
  } else {
    PrintTable(s.list, 0, s.list.count);
  }
  return kExitOk;
}

// --- probe ---------------------------------------------------------------------

int RunProbe(const Args& args) {
  const Parsed p = Parse(args, {}, {"--json"});
  if (p.help || !p.error.empty() || p.positional.size() != 1)
    return Usage(p,
                 "usage: zelinctl probe ADDRESS [--json]\n\n"
                 "Asks the server at ADDRESS directly (no broadcast) and shows it.\n");
  const auto address = ParseAddress(p.positional[0]);
  if (!address) {
    std::fprintf(stderr, "zelinctl: '%s' is not an IPv4 address\n", p.positional[0].c_str());
    return kExitUsage;
  }
  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  if (!s.transport->MaySendTo(*address)) {
    std::fprintf(stderr, "zelinctl: %s is outside 127.0.0.0/8 and loopback-only is set\n",
                 p.positional[0].c_str());
    return kExitEnvironment;
  }
  const int i = ProbeAddressRetry(*s.transport, s.list, *address, 1);
  if (i < 0) {
    std::fprintf(stderr, "zelinctl: no server answered at %s\n", p.positional[0].c_str());
    return kExitNotFound;
  }
  if (p.flags.count("--json") != 0)
    std::printf("%s\n", ToJson(s.list.records[static_cast<size_t>(i)]).dump(2).c_str());
  else
    PrintTable(s.list, i, 1);
  return kExitOk;
}

// --- locate --------------------------------------------------------------------

int RunLocate(const Args& args) {
  const Parsed p = Parse(args, {}, {"--off"});
  const int serial = p.positional.size() == 1 ? ParseSerial(p.positional[0]) : -1;
  if (p.help || !p.error.empty() || serial < 0)
    return Usage(p,
                 "usage: zelinctl locate SERIAL [--off]\n\n"
                 "Makes the server with serial number SERIAL show itself (its locate signal), or\n"
                 "stops it with --off.\n");
  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  int rc = kExitOk;
  ServerRecord* r = FindServer(s, static_cast<uint16_t>(serial), &rc);
  if (r == nullptr) return rc;
  const uint8_t code = p.flags.count("--off") != 0 ? wire::kLocateOff : wire::kLocateOn;
  if (!Command(*s.transport, *r, code, 1)) {
    std::fprintf(stderr, "zelinctl: locate failed: %s\n",
                 ErrorText(s.transport->last_error).c_str());
    return kExitFailed;
  }
  return kExitOk;
}

// A name or password the server could not read as typed: refused before any exchange.
int RefuseDeviceText(const char* option) {
  std::fprintf(stderr, "zelinctl: %s: %.*s\n", option, static_cast<int>(kDeviceTextRefused.size()),
               kDeviceTextRefused.data());
  return kExitUsage;
}

// --- set -----------------------------------------------------------------------

int RunSet(const Args& args) {
  const Parsed p =
      Parse(args, {"--name", "--ip", "--netmask", "--password", "--current-password"}, {});
  const int serial = p.positional.size() == 1 ? ParseSerial(p.positional[0]) : -1;
  if (p.help || !p.error.empty() || serial < 0)
    return Usage(p,
                 "usage: zelinctl set SERIAL [--name N] [--ip A] [--netmask M] [--password NEW]\n"
                 "                    [--current-password P]\n\n"
                 "Changes the server's settings, then saves them and restarts the server.\n"
                 "  --name N              server name (at most 29 characters)\n"
                 "  --ip A, --netmask M   network address\n"
                 "  --password NEW        new password (at most 16 characters; \"\" removes it)\n"
                 "  --current-password P  the server's password, when it has one\n");
  auto value = [&](const char* k) -> const std::string* {
    auto it = p.values.find(k);
    return it == p.values.end() ? nullptr : &it->second;
  };
  const std::string* name = value("--name");
  const std::string* ip = value("--ip");
  const std::string* mask = value("--netmask");
  const std::string* password = value("--password");
  const std::string* current = value("--current-password");
  if (name == nullptr && ip == nullptr && mask == nullptr && password == nullptr) {
    std::fprintf(stderr,
                 "zelinctl: nothing to change; give --name, --ip, --netmask or --password\n");
    return kExitUsage;
  }
  if (name != nullptr && name->size() > wire::kNameSize - 1) {
    std::fprintf(stderr, "zelinctl: the name has more than 29 characters\n");
    return kExitUsage;
  }
  if (name != nullptr && !IsDeviceText(*name)) return RefuseDeviceText("--name");
  std::optional<Ipv4> ip_value, mask_value;
  if (ip != nullptr && !(ip_value = ParseAddress(*ip))) {
    std::fprintf(stderr, "zelinctl: --ip: '%s' is not an IPv4 address\n", ip->c_str());
    return kExitUsage;
  }
  if (mask != nullptr && !(mask_value = ParseAddress(*mask))) {
    std::fprintf(stderr, "zelinctl: --netmask: '%s' is not an IPv4 address\n", mask->c_str());
    return kExitUsage;
  }
  for (const std::string* pw : {password, current}) {
    if (pw != nullptr && pw->size() > wire::kMaxPasswordLength) {
      std::fprintf(stderr, "zelinctl: passwords have at most 16 characters\n");
      return kExitUsage;
    }
  }
  if (password != nullptr && !IsDeviceText(*password)) return RefuseDeviceText("--password");
  if (current != nullptr && !IsDeviceText(*current)) return RefuseDeviceText("--current-password");

  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  int rc = kExitOk;
  ServerRecord* r = FindServer(s, static_cast<uint16_t>(serial), &rc);
  if (r == nullptr) return rc;
  Transport& t = *s.transport;
  r->password = current != nullptr ? *current : "";
  if (!Command(t, *r, wire::kLogin, 1)) {
    std::fprintf(stderr, "Password error!\n");
    return kExitFailed;
  }
  auto step = [&](uint8_t code, const char* what, int timeout) {
    if (Command(t, *r, code, timeout)) return true;
    std::fprintf(stderr, "zelinctl: %s failed: %s\n", what, ErrorText(t.last_error).c_str());
    return false;
  };
  if (name != nullptr) {
    r->set_name(*name);
    if (!step(wire::kSetName, "setting the name", 1)) return kExitFailed;
  }
  if (ip_value || mask_value) {
    r->unicast_address = r->ip_address();  // the server answers there until it restarts
    if (ip_value) r->set_ip_address(*ip_value);
    if (mask_value) r->set_netmask(*mask_value);
    if (!step(wire::kSetAddress, "setting the address", 1)) return kExitFailed;
  }
  if (password != nullptr) {
    r->new_password = *password;
    if (!step(wire::kSetPassword, "setting the password", 1)) return kExitFailed;
  }
  // The server keeps the current password until it restarts.
  if (!step(wire::kSaveAndRestart, "save and restart", 10)) return kExitFailed;
  if (password != nullptr) r->password = *password;
  std::printf("Server %u saved and restarted at %s\n", static_cast<unsigned>(serial),
              AddressToText(r->ip_address()).c_str());
  return kExitOk;
}

// --- upgrade -------------------------------------------------------------------

// A progress bar on standard error.
class TerminalProgress final : public ProgressWindow {
 public:
  void Show(std::string_view text) override {
    Print(text);
    steps_ = 0;
    Draw();
  }
  void SetText(std::string_view text) override {
    std::fprintf(stderr, "\n");
    Print(text);
  }
  void Step() override {
    if (steps_ < 10) ++steps_;
    Draw();
  }
  void Close() override { std::fprintf(stderr, "\n"); }

 private:
  static void Print(std::string_view text) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
  void Draw() const {
    std::fprintf(stderr, "\r[%-40s] %3d%%",
                 std::string(static_cast<size_t>(steps_) * 4, '#').c_str(), steps_ * 10);
    std::fflush(stderr);
  }
  int steps_ = 0;
};

const char* DownloadResultText(DownloadResult result) {
  switch (result) {
    case DownloadResult::kSuccess:
      return "success";
    case DownloadResult::kPasswordTooLong:
      return "password longer than 16 characters";
    case DownloadResult::kSocketFailed:
      return "no TCP socket";
    case DownloadResult::kConnectFailed:
      return "no connection to the server";
    case DownloadResult::kLoginRefused:
      return "login refused";
    case DownloadResult::kFileFailed:
      return "the file cannot be read";
    case DownloadResult::kNoChallengeOrReady:
      return "the server did not take the download";
    case DownloadResult::kNoVerdict:
      return "the server did not accept the image";
  }
  return "";
}

int RunUpgrade(const Args& args) {
  const Parsed p = Parse(args, {"--password"}, {});
  const int serial = p.positional.size() == 2 ? ParseSerial(p.positional[0]) : -1;
  if (p.help || !p.error.empty() || serial < 0)
    return Usage(p,
                 "usage: zelinctl upgrade SERIAL FILE [--password P]\n\n"
                 "Downloads the firmware image FILE (*.rom) to the server with serial number\n"
                 "SERIAL over its TCP command port and waits for its verdict.\n");
  const auto password = p.values.find("--password");
  if (password != p.values.end() && !IsDeviceText(password->second))
    return RefuseDeviceText("--password");
  const std::string& file = p.positional[1];
  if (std::FILE* f = std::fopen(file.c_str(), "rb"); f != nullptr) {
    std::fclose(f);
  } else {
    std::fprintf(stderr, "zelinctl: cannot open %s\n", file.c_str());
    return kExitNotFound;
  }
  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  int rc = kExitOk;
  ServerRecord* r = FindServer(s, static_cast<uint16_t>(serial), &rc);
  if (r == nullptr) return rc;
  if (password != p.values.end()) r->password = password->second;
  TerminalProgress progress;
  const DownloadResult result = DownloadFirmware(*s.transport, *r, file, 20, progress);
  if (result != DownloadResult::kSuccess) {
    std::fprintf(stderr, "Upgrade server firmware Fail! (code %d: %s)\n", static_cast<int>(result),
                 DownloadResultText(result));
    return result == DownloadResult::kFileFailed ? kExitNotFound : kExitFailed;
  }
  std::printf("Firmware accepted by server %u\n", static_cast<unsigned>(serial));
  return kExitOk;
}

const Registration kSearch({"search", "list the servers that answer a broadcast", RunSearch});
const Registration kProbe({"probe", "ask one server address directly", RunProbe});
const Registration kLocate({"locate", "switch a server's locate signal on or off", RunLocate});
const Registration kSet({"set", "change a server's name, address or password", RunSet});
const Registration kUpgrade({"upgrade", "download firmware to a server", RunUpgrade});

}  // namespace
}  // namespace zelin::ctl
