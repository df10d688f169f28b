#include "tools/zelinctl/session.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "protocol/address.hpp"
#include "protocol/device_text.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"

namespace zelin::ctl {

const char* const kNetworkHelp =
    "Network options (override the environment):\n"
    "  --interfaces A,B   host IPv4 addresses to use (ZELIN_INTERFACES)\n"
    "  --broadcast A      address used in place of 255.255.255.255 (ZELIN_BROADCAST)\n"
    "  --loopback-only    refuse every address outside 127.0.0.0/8 (ZELIN_LOOPBACK_ONLY=1)\n";

const char* const kPasswordHelp =
    "  --password P       the server's password, to log in (when it has one)\n";

const char* const kExitHelp =
    "Exit status: 0 done, 1 the server refused or failed, 2 bad usage, 3 server or entry\n"
    "not found, 4 network not usable.\n";

namespace {

// Options that were renamed, with the hint a user of the old name needs.
const std::map<std::string, std::string>& RenamedOptions() {
  static const std::map<std::string, std::string> renamed{
      {"--current-password",
       " (the current password is now --password, a new one --new-password)"}};
  return renamed;
}

}  // namespace

const std::string* Parsed::value(const std::string& option) const {
  auto it = values.find(option);
  return it == values.end() ? nullptr : &it->second;
}

Parsed Parse(const Args& args, std::set<std::string> valued, std::set<std::string> flags) {
  valued.insert({"--interfaces", "--broadcast"});
  flags.insert("--loopback-only");
  return ParseOptions(args, valued, flags);
}

Parsed ParseOptions(const Args& args, const std::set<std::string>& valued,
                    const std::set<std::string>& flags) {
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
      if (auto it = RenamedOptions().find(a); it != RenamedOptions().end()) p.error += it->second;
      return p;
    }
  }
  return p;
}

std::optional<Ipv4> ParseAddress(const std::string& text) {
  return ParseHostAddress(text);
}

int ParseSerial(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  return v > 65535 ? -1 : static_cast<int>(v);
}

std::optional<Ipv4> AddressArgument(const std::string& text, const char* option) {
  auto address = ParseAddress(text);
  if (!address)
    std::fprintf(stderr, "zelinctl: %s%s'%s' is not an IPv4 address\n", option ? option : "",
                 option ? ": " : "", text.c_str());
  return address;
}

int CommandSerial(const Parsed& p, size_t positional) {
  if (p.help || !p.error.empty() || p.positional.size() != positional) return -1;
  return ParseSerial(p.positional[0]);
}

std::string FirmwareText(uint32_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%X.%02X.%04X", (v >> 24) & 0xFF, (v >> 16) & 0xFF, v & 0xFFFF);
  return buf;
}

int Usage(const Parsed& p, const char* usage) {
  std::fprintf(p.help ? stdout : stderr, "%s\n%s", usage, kNetworkHelp);
  if (!p.help && !p.error.empty()) std::fprintf(stderr, "\nzelinctl: %s\n", p.error.c_str());
  return p.help ? kExitOk : kExitUsage;
}

int RefuseDeviceText(const char* option) {
  std::fprintf(stderr, "zelinctl: %s: %.*s\n", option, static_cast<int>(kDeviceTextRefused.size()),
               kDeviceTextRefused.data());
  return kExitUsage;
}

int CheckPasswordOption(const Parsed& p, const char* option) {
  const std::string* pw = p.value(option);
  if (pw == nullptr) return kExitOk;
  if (pw->size() > wire::kMaxPasswordLength) {
    std::fprintf(stderr, "zelinctl: %s: passwords have at most 16 characters\n", option);
    return kExitUsage;
  }
  return IsDeviceText(*pw) ? kExitOk : RefuseDeviceText(option);
}

// The transport options: environment first, then the command line.
Result<TransportOptions> NetworkOptions(const Parsed& p) {
  auto [o, problem] = TransportOptions::FromEnvironment();
  if (!problem.ok()) return problem;
  auto refused = [](const char* option, const std::string& text) {
    return SocketStatus(EINVAL, std::string(option) + ": '" + text + "' is not an IPv4 address");
  };
  if (const std::string* list = p.value("--interfaces")) {
    AddressList parsed = ParseAddressList(*list, ListSyntax::kStrict);
    if (!parsed.rejected.empty()) return refused("--interfaces", parsed.rejected.front());
    o.interfaces = std::move(parsed.addresses);
  }
  if (const std::string* text = p.value("--broadcast")) {
    auto a = ParseAddress(*text);
    if (!a) return refused("--broadcast", *text);
    o.broadcast = *a;
  }
  if (p.has("--loopback-only")) o.loopback_only = true;
  return o;
}

int OpenSession(const Parsed& p, Session& s, Deliverable who, uint16_t first_local_port) {
  const Result<TransportOptions> o = NetworkOptions(p);
  if (!o) {
    std::fprintf(stderr, "zelinctl: %s\n", o.status().message().c_str());
    return kExitUsage;
  }
  s.transport = std::make_unique<Transport>(s.clock, s.notices, who, *o);
  if (!s.transport->OpenTransport(first_local_port)) {
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

bool MayBroadcast(const Session& s) {
  if (s.transport->MaySendTo(kBroadcastAddress)) return true;
  std::fprintf(stderr,
               "zelinctl: loopback-only is set and the broadcast address %s is outside "
               "127.0.0.0/8; give --broadcast or ZELIN_BROADCAST\n",
               AddressToText(s.transport->options().broadcast.value_or(kBroadcastAddress)).c_str());
  return false;
}

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

ServerRecord* LogIn(const Parsed& p, Session& s, uint16_t serial, int* rc) {
  *rc = OpenSession(p, s);
  if (*rc != kExitOk) return nullptr;
  ServerRecord* r = FindServer(s, serial, rc);
  if (r == nullptr) return nullptr;
  const std::string* password = p.value("--password");
  r->password = password != nullptr ? *password : "";
  if (const Status login = Command(*s.transport, *r, wire::kLogin, 1); !login) {
    *rc = kExitFailed;
    if (login.Is(LastCommandError::kWrongCodeOrRefused))
      std::fprintf(stderr, "Password error!\n");
    else
      std::fprintf(stderr, "zelinctl: login failed: %s\n", login.ToString().c_str());
    return nullptr;
  }
  *rc = kExitOk;
  return r;
}

bool Step(Session& s, ServerRecord& r, uint8_t code, const char* what) {
  const Status sent = Command(*s.transport, r, code, 1);
  if (!sent) std::fprintf(stderr, "zelinctl: %s failed: %s\n", what, sent.ToString().c_str());
  return sent.ok();
}

int SaveAndRestart(Session& s, ServerRecord& r) {
  if (const Status saved = Command(*s.transport, r, wire::kSaveAndRestart, 10); !saved) {
    std::fprintf(stderr, "zelinctl: save and restart failed: %s\n", saved.ToString().c_str());
    return kExitFailed;
  }
  std::printf("Server %u saved and restarted at %s\n", unsigned{r.serial_number()},
              AddressToText(r.ip_address()).c_str());
  return kExitOk;
}

int RunFamily(const Args& args, const char* family, const char* usage,
              std::span<const Subcommand> subcommands) {
  if (args.empty()) {
    std::fprintf(stderr, "%s\n%s", usage, kExitHelp);
    return kExitUsage;
  }
  const std::string& name = args[0];
  if (name == "--help" || name == "-h" || name == "help") {
    std::printf("%s\n%s", usage, kExitHelp);
    return kExitOk;
  }
  for (const Subcommand& sub : subcommands) {
    if (name != sub.name) continue;
    std::set<std::string> valued = sub.valued;
    valued.insert("--password");
    Parsed p = Parse(Args(args.begin() + 1, args.end()), valued, sub.flags);
    int serial = -1;
    if (!p.help && p.error.empty()) {
      serial = p.positional.empty() ? -1 : ParseSerial(p.positional[0]);
      const size_t n = p.positional.empty() ? 0 : p.positional.size() - 1;
      if (serial < 0)
        p.error = p.positional.empty() ? "the server's serial number is missing"
                                       : "'" + p.positional[0] + "' is not a serial number";
      else if (n < sub.min_args || n > sub.max_args)
        p.error = "wrong number of arguments";
    }
    if (p.help || !p.error.empty()) {
      std::string text = std::string(sub.help) + kPasswordHelp;
      return Usage(p, text.c_str());
    }
    if (const int rc = CheckPasswordOption(p, "--password"); rc != kExitOk) return rc;
    p.positional.erase(p.positional.begin());
    return sub.run(p, static_cast<uint16_t>(serial));
  }
  std::fprintf(stderr, "zelinctl %s: unknown subcommand '%s'\n%s\n", family, name.c_str(), usage);
  return kExitUsage;
}

}  // namespace zelin::ctl
