// zelinctl subcommands that talk to device servers: search, probe, locate, set, upgrade.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "protocol/address.hpp"
#include "protocol/device_text.hpp"
#include "protocol/device_types.hpp"
#include "protocol/discovery.hpp"
#include "protocol/exchange.hpp"
#include "protocol/firmware.hpp"
#include "tools/zelinctl/json_output.hpp"
#include "tools/zelinctl/command.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

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
  if (p.has("--json")) {
    nlohmann::json out = nlohmann::json::array();
    for (int i = 0; i < s.list.count; ++i)
      out.push_back(ToJson(s.list.records[static_cast<size_t>(i)]));
    PrintJson(out);
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
  const auto address = AddressArgument(p.positional[0]);
  if (!address) return kExitUsage;
  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  if (!s.transport->MaySendTo(*address)) {
    std::fprintf(stderr, "zelinctl: %s is outside 127.0.0.0/8 and loopback-only is set\n",
                 p.positional[0].c_str());
    return kExitEnvironment;
  }
  const Result<int> i = ProbeAddressRetry(*s.transport, s.list, *address, 1);
  if (!i) {
    std::fprintf(stderr, "zelinctl: no server answered at %s\n", p.positional[0].c_str());
    return kExitNotFound;
  }
  if (p.has("--json"))
    PrintJson(ToJson(s.list.records[static_cast<size_t>(*i)]));
  else
    PrintTable(s.list, *i, 1);
  return kExitOk;
}

// --- locate --------------------------------------------------------------------

int RunLocate(const Args& args) {
  const Parsed p = Parse(args, {}, {"--off"});
  const int serial = CommandSerial(p, 1);
  if (serial < 0)
    return Usage(p,
                 "usage: zelinctl locate SERIAL [--off]\n\n"
                 "Makes the server with serial number SERIAL show itself (its locate signal), or\n"
                 "stops it with --off.\n");
  Session s;
  if (int rc = OpenSession(p, s); rc != kExitOk) return rc;
  int rc = kExitOk;
  ServerRecord* r = FindServer(s, static_cast<uint16_t>(serial), &rc);
  if (r == nullptr) return rc;
  const uint8_t code = p.has("--off") ? wire::kLocateOff : wire::kLocateOn;
  if (const Status sent = Command(*s.transport, *r, code, 1); !sent) {
    std::fprintf(stderr, "zelinctl: locate failed: %s\n", sent.ToString().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

// --- set -----------------------------------------------------------------------

int RunSet(const Args& args) {
  const Parsed p = Parse(args, {"--name", "--ip", "--netmask", "--password", "--new-password"}, {});
  const int serial = CommandSerial(p, 1);
  if (serial < 0)
    return Usage(p,
                 "usage: zelinctl set SERIAL [--name N] [--ip A] [--netmask M]\n"
                 "                    [--new-password NEW] [--password P]\n\n"
                 "Changes the server's settings, then saves them and restarts the server.\n"
                 "  --name N              server name (at most 29 characters)\n"
                 "  --ip A, --netmask M   network address\n"
                 "  --new-password NEW    new password (at most 16 characters; \"\" removes it)\n"
                 "  --password P          the server's password, to log in (when it has one)\n");
  const std::string* name = p.value("--name");
  const std::string* ip = p.value("--ip");
  const std::string* mask = p.value("--netmask");
  const std::string* new_password = p.value("--new-password");
  if (name == nullptr && ip == nullptr && mask == nullptr && new_password == nullptr) {
    std::fprintf(stderr,
                 "zelinctl: nothing to change; give --name, --ip, --netmask or --new-password\n");
    return kExitUsage;
  }
  if (name != nullptr && name->size() > wire::kNameSize - 1) {
    std::fprintf(stderr, "zelinctl: the name has more than 29 characters\n");
    return kExitUsage;
  }
  if (name != nullptr && !IsDeviceText(*name)) return RefuseDeviceText("--name");
  std::optional<Ipv4> ip_value, mask_value;
  if (ip != nullptr && !(ip_value = AddressArgument(*ip, "--ip"))) return kExitUsage;
  if (mask != nullptr && !(mask_value = AddressArgument(*mask, "--netmask"))) return kExitUsage;
  for (const char* option : {"--new-password", "--password"})
    if (const int rc = CheckPasswordOption(p, option); rc != kExitOk) return rc;

  Session s;
  int rc = kExitOk;
  ServerRecord* r = LogIn(p, s, static_cast<uint16_t>(serial), &rc);
  if (r == nullptr) return rc;
  if (name != nullptr) {
    r->set_name(*name);
    if (!Step(s, *r, wire::kSetName, "setting the name")) return kExitFailed;
  }
  if (ip_value || mask_value) {
    r->unicast_address = r->ip_address();  // the server answers there until it restarts
    if (ip_value) r->set_ip_address(*ip_value);
    if (mask_value) r->set_netmask(*mask_value);
    if (!Step(s, *r, wire::kSetAddress, "setting the address")) return kExitFailed;
  }
  if (new_password != nullptr) {
    r->new_password = *new_password;
    if (!Step(s, *r, wire::kSetPassword, "setting the password")) return kExitFailed;
  }
  // The server keeps the current password until it restarts.
  return SaveAndRestart(s, *r);
}

// --- upgrade -------------------------------------------------------------------

// A progress bar on standard error.
class TerminalProgress final : public ProgressSink {
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

int RunUpgrade(const Args& args) {
  const Parsed p = Parse(args, {"--password"}, {});
  const int serial = CommandSerial(p, 2);
  if (serial < 0)
    return Usage(p,
                 "usage: zelinctl upgrade SERIAL FILE [--password P]\n\n"
                 "Downloads the firmware image FILE (*.rom) to the server with serial number\n"
                 "SERIAL over its TCP command port and waits for its verdict.\n"
                 "  --password P  the server's password, to log in (when it has one)\n");
  if (const int rc = CheckPasswordOption(p, "--password"); rc != kExitOk) return rc;
  const std::string* password = p.value("--password");
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
  if (password != nullptr) r->password = *password;
  TerminalProgress progress;
  const Status downloaded = DownloadFirmware(*s.transport, *r, file, 20, progress);
  if (!downloaded) {
    std::fprintf(stderr, "Upgrade server firmware Fail! (code %d: %s)\n", downloaded.code(),
                 downloaded.message().c_str());
    return downloaded.Is(DownloadResult::kFileFailed) ? kExitNotFound : kExitFailed;
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
