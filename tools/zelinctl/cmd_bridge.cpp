// zelinctl bridge status: the ports of the running port bridge and their state, read
// from the state file that portbridge keeps (bridge/core/bridge.hpp).
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
    "       zelinctl bridge signal COMn [--dtr on|off] [--rts on|off] [--break MS] [--state FILE]\n"
    "\n"
    "Lists the ports of the running port bridge (portbridge): COM name, device, server and\n"
    "port, mode, state (idle, connecting, negotiating, connected, retrying: waiting to\n"
    "reconnect, refused) and since when, bytes each way, the last error and what the server reports\n"
    "(its modem lines, settings it refused).\n"
    "signal sets the server port's DTR or RTS line, or sends a BREAK of MS milliseconds\n"
    "(e.g. to reset a device by toggling DTR): a program on a bridged device cannot, as a\n"
    "pty carries no modem lines. It goes through the running bridge's control socket.\n"
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

int Signal(const Parsed& o) {
  const std::string* given = o.value("--state");
  const std::filesystem::path path =
      given != nullptr ? std::filesystem::path(*given) : bridge::DefaultOptions().state;
  std::ifstream in(path);
  const auto doc = nlohmann::json::parse(in, nullptr, false);
  if (!doc.is_object() || !doc.contains("control") || !doc["control"].is_string()) {
    std::fprintf(stderr, "zelinctl bridge signal: %s: no state file of a running bridge\n",
                 path.c_str());
    return kExitNotFound;
  }
  std::string request = "signal " + o.positional[0];
  for (const char* line : {"--dtr", "--rts"}) {
    if (const std::string* v = o.value(line)) {
      if (*v != "on" && *v != "off") {
        std::fprintf(stderr, "zelinctl bridge signal: %s is on or off\n%s", line, kUsage);
        return kExitUsage;
      }
      request += std::string(" ") + (line + 2) + "=" + *v;
    }
  }
  if (const std::string* ms = o.value("--break")) {
    if (ms->empty() || ms->size() > 5 || ms->find_first_not_of("0123456789") != std::string::npos) {
      std::fprintf(stderr, "zelinctl bridge signal: --break takes milliseconds (1-99999)\n%s", kUsage);
      return kExitUsage;
    }
    request += " break=" + *ms;
  }
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  const std::string control = doc["control"].get<std::string>();
  if (control.empty() || control.size() >= sizeof to.sun_path) {
    std::fprintf(stderr, "zelinctl bridge signal: the bridge has no control socket\n");
    return kExitEnvironment;
  }
  std::memcpy(to.sun_path, control.c_str(), control.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un me{};
  me.sun_family = AF_UNIX;  // an abstract name of the kernel's choosing, for the answer
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&me), sizeof(sa_family_t)) != 0 ||
      ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to) < 0) {
    std::fprintf(stderr, "zelinctl bridge signal: %s: %s\n", control.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return kExitEnvironment;
  }
  pollfd p{fd, POLLIN, 0};
  char answer[512];
  ssize_t n = -1;
  if (::poll(&p, 1, 5000) == 1) n = ::recv(fd, answer, sizeof answer - 1, 0);
  ::close(fd);
  if (n < 0) {
    std::fprintf(stderr, "zelinctl bridge signal: no answer from the bridge\n");
    return kExitEnvironment;
  }
  answer[n] = '\0';
  if (std::strcmp(answer, "ok") != 0) {
    std::fprintf(stderr, "zelinctl bridge signal: %s\n", answer);
    return kExitFailed;
  }
  std::printf("%s: %s\n", o.positional[0].c_str(), request.c_str() + 7 + o.positional[0].size());
  return kExitOk;
}

int RunBridge(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? kExitUsage : kExitOk;
  }
  if (args[0] == "signal") {
    const Parsed o = ParseOptions(Args(args.begin() + 1, args.end()),
                                  {"--state", "--dtr", "--rts", "--break"}, {});
    if (o.help) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    std::string error = o.error;
    if (error.empty() && o.positional.size() != 1) error = "one COM name, e.g. COM5";
    if (error.empty() && !o.value("--dtr") && !o.value("--rts") && !o.value("--break"))
      error = "nothing to do: --dtr, --rts or --break";
    if (!error.empty()) {
      std::fprintf(stderr, "zelinctl bridge signal: %s\n%s", error.c_str(), kUsage);
      return kExitUsage;
    }
    return Signal(o);
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

const Registration kBridge({"bridge", "status of the port bridge's devices, their line signals",
                            RunBridge});

}  // namespace
}  // namespace zelin::ctl
