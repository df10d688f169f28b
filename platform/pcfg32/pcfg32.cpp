#include "platform/pcfg32/pcfg32.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

extern char** environ;

namespace {

std::filesystem::path HivePath() {
  if (const char* p = std::getenv("ZELIN_REGISTRY"); p != nullptr && *p != '\0') return p;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x != nullptr && *x != '\0')
    return std::filesystem::path(x) / "zelin" / "registry.reg";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" / "zelin" /
         "registry.reg";
}

// Reads the counter of an existing stamp ("<seconds> <counter>"), 0 when none.
unsigned long ReadCounter(const std::filesystem::path& stamp) {
  std::ifstream in(stamp);
  long long seconds = 0;
  unsigned long counter = 0;
  if (in >> seconds >> counter) return counter;
  return 0;
}

bool WriteStamp(const std::filesystem::path& stamp) {
  std::error_code ec;
  if (stamp.has_parent_path()) std::filesystem::create_directories(stamp.parent_path(), ec);
  const unsigned long counter = ReadCounter(stamp) + 1;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  std::filesystem::path tmp = stamp;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!out) return false;
    out << seconds << ' ' << counter << '\n';
    if (!out.flush()) return false;
  }
  std::filesystem::rename(tmp, stamp, ec);
  return !ec;
}

bool RunHook(const char* command, const std::string& hive) {
  setenv("ZELIN_REGISTRY_CHANGED", hive.c_str(), 1);
  char sh[] = "/bin/sh";
  char dash_c[] = "-c";
  std::string cmd(command);
  char* argv[] = {sh, dash_c, cmd.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

extern "C" int FreshPort(void) {
  try {
    const std::filesystem::path hive = HivePath();
    std::filesystem::path stamp = hive;
    stamp += ".changed";
    bool ok = WriteStamp(stamp);
    if (const char* hook = std::getenv("ZELIN_FRESHPORT_HOOK"); hook != nullptr && *hook != '\0')
      ok = RunHook(hook, hive.string()) && ok;
    return ok ? 0 : -1;
  } catch (...) {
    return -1;
  }
}
