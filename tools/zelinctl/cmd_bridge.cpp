// zelinctl bridge status: the ports of the running port bridge and their state, read
// from the state file that portbridge keeps (bridge/core/bridge.hpp).
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/core/bridge.hpp"
#include "tools/zelinctl/command.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

constexpr const char* kUsage =
    "usage: zelinctl bridge status [--json] [--state FILE]\n"
    "\n"
    "Lists the ports of the running port bridge (portbridge): COM name, device, server and\n"
    "port, mode, state (connecting, negotiating, connected, retrying: waiting to reconnect,\n"
    "refused) and since when, bytes each way, the last error and what the server reports\n"
    "(its modem lines, settings it refused).\n"
    "  --json        the state file's document instead of the table\n"
    "  --state FILE  the bridge's state file (default $XDG_RUNTIME_DIR/zelin/bridge-state.json)\n"
    "\n"
    "Exit status: 0 listed, 2 bad usage, 3 no state file or the bridge that wrote it is no\n"
    "longer running,\n"
    "4 the state file cannot be read.\n";

int ShowStatus(const Parsed& o) {
  const std::string* given = o.value("--state");
  const std::filesystem::path path =
      given != nullptr ? std::filesystem::path(*given) : bridge::DefaultOptions().state;
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "zelinctl bridge: %s: no state file (is portbridge running?)\n",
                 path.c_str());
    return kExitNotFound;
  }
  const auto doc = nlohmann::json::parse(in, nullptr, false);
  if (!doc.is_object() || !doc.contains("ports") || !doc["ports"].is_array()) {
    std::fprintf(stderr, "zelinctl bridge: %s: not a bridge state file\n", path.c_str());
    return kExitEnvironment;
  }
  // A bridge that was killed leaves its state file: its process must still be there.
  const long long pid = doc.contains("pid") && doc["pid"].is_number() ? doc["pid"].get<long long>() : 0;
  std::string comm;
  if (pid > 0) std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), comm);
  if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) ||
      comm.rfind("portbridge", 0) != 0) {
    std::fprintf(stderr,
                 "zelinctl bridge: portbridge (pid %lld) is no longer running; %s is left "
                 "from it\n",
                 pid, path.c_str());
    return kExitNotFound;
  }
  if (o.has("--json")) {
    std::printf("%s\n", doc.dump(2).c_str());
    return kExitOk;
  }
  std::printf("%-7s %-12s %-21s %-4s %-7s %-11s %-20s %10s %10s  %s\n", "COM", "DEVICE",
              "SERVER", "PORT", "MODE", "STATE", "SINCE", "IN", "OUT", "LAST ERROR / SERVER");
  for (const auto& p : doc["ports"]) {
    auto text = [&](const char* key) {
      return p.contains(key) && p[key].is_string() ? p[key].get<std::string>() : std::string("?");
    };
    auto number = [&](const char* key) {
      return p.contains(key) && p[key].is_number() ? p[key].get<long long>() : -1LL;
    };
    const std::string server = text("server") + ':' + std::to_string(number("tcp_port"));
    std::string remarks = text("last_error");
    for (const char* key : {"note", "refused", "server_modem"}) {
      const std::string more = p.contains(key) && p[key].is_string() ? p[key].get<std::string>() : "";
      if (!more.empty()) remarks += (remarks.empty() ? "" : "; ") + more;
    }
    if (p.contains("suspended") && p["suspended"] == true)
      remarks += std::string(remarks.empty() ? "" : "; ") + "suspended by the server";
    std::printf("%-7s %-12s %-21s %-4lld %-7s %-11s %-20s %10lld %10lld  %s\n",
                text("com").c_str(), text("device").c_str(), server.c_str(), number("port"),
                text("mode").c_str(), text("state").c_str(), text("since").c_str(),
                number("bytes_in"), number("bytes_out"), remarks.c_str());
  }
  return kExitOk;
}

int RunBridge(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? kExitUsage : kExitOk;
  }
  if (args[0] != "status") {
    std::fprintf(stderr, "zelinctl bridge: unknown subcommand '%s'\n%s", args[0].c_str(), kUsage);
    return kExitUsage;
  }
  const Parsed o = ParseOptions(Args(args.begin() + 1, args.end()), {"--state"}, {"--json"});
  if (o.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  std::string error = o.error;
  if (error.empty() && !o.positional.empty()) error = "unexpected argument '" + o.positional[0] + "'";
  if (!error.empty()) {
    std::fprintf(stderr, "zelinctl bridge status: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  return ShowStatus(o);
}

const Registration kBridge({"bridge", "status of the port bridge's devices", RunBridge});

}  // namespace
}  // namespace zelin::ctl
