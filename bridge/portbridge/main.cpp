// portbridge: makes every mapped port of the server store a local serial device and
// carries its bytes to the server port (bridge/core/bridge.hpp). Stays in front (a
// systemd service of type simple); SIGTERM and SIGINT end it cleanly, removing the
// device links and the state file. Messages go to standard error.
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "bridge/core/bridge.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"

namespace {

constexpr const char* kUsage =
    "usage: portbridge [--store FILE] [--dir DIR] [--config FILE] [--state FILE] [--foreground]\n"
    "\n"
    "Makes every mapped port of the server store a local serial device (a pty with a link\n"
    "named after its COM port, e.g. DIR/COM5) and carries its bytes to the server port over\n"
    "TCP, with RFC 2217 or raw (per server, in the settings file). Follows changes of the\n"
    "store as the manager saves them.\n"
    "\n"
    "  --store FILE   the registry hive (default: ZELIN_REGISTRY, else\n"
    "                 $XDG_DATA_HOME/zelin/registry.reg)\n"
    "  --dir DIR      where the device links go (default $XDG_RUNTIME_DIR/zelin)\n"
    "  --config FILE  the bridge's settings (default: bridge.conf beside the store)\n"
    "  --state FILE   the state file (default DIR/bridge-state.json); the control socket\n"
    "                 for zelinctl bridge signal is DIR/bridge.ctl\n"
    "  --foreground   accepted for scripts; the bridge always stays in front\n"
    "\n"
    "Exit status: 0 stopped by a signal, 2 bad usage, 4 the loop could not start.\n";

zelin::bridge::Bridge* g_bridge = nullptr;

void OnSignal(int) {
  if (g_bridge != nullptr) g_bridge->Stop();
}

}  // namespace

int main(int argc, char** argv) {
  std::string store, dir, config, state;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "portbridge: %s needs a value\n%s", argv[i], kUsage);
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--foreground") continue;
    bool ok = false;
    if (a == "--store") {
      ok = value(store);
    } else if (a == "--dir") {
      ok = value(dir);
    } else if (a == "--config") {
      ok = value(config);
    } else if (a == "--state") {
      ok = value(state);
    } else {
      std::fprintf(stderr, "portbridge: unknown option '%s'\n%s", argv[i], kUsage);
    }
    if (!ok) return 2;
  }

  zelin::bridge::BridgeOptions options = zelin::bridge::DefaultOptions(store);
  if (!config.empty()) options.config = config;
  if (!dir.empty()) {
    options.dir = dir;
    options.state = options.dir / "bridge-state.json";
    options.control = options.dir / "bridge.ctl";
  }
  if (!state.empty()) options.state = state;

  // Each port holds three descriptors (pty master and slave, socket): a full store needs
  // more than the usual soft limit of 1024.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  zelin::ConsoleNotices notices;
  zelin::bridge::Bridge bridge(options, zelin::SystemClock(), notices);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  g_bridge = &bridge;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (const zelin::Status st = bridge.Start(); !st) {
    std::fprintf(stderr, "portbridge: %s\n", st.message().c_str());
    return 4;
  }
  std::fprintf(stderr, "portbridge: serving %s, devices in %s\n", options.store.c_str(),
               options.dir.c_str());
  bridge.Run();
  g_bridge = nullptr;
  std::fprintf(stderr, "portbridge: stopped\n");
  return 0;
}
