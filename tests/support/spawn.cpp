#include "tests/support/spawn.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

namespace zelin::testing {
namespace {

// posix_spawn of `argv` with `actions` (nullptr: none) and `env` (nullptr: this
// process's environment). -1 on failure.
pid_t SpawnWith(const std::vector<std::string>& argv, const posix_spawn_file_actions_t* actions,
                const std::vector<std::string>* env = nullptr) {
  if (argv.empty()) return -1;
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  if (env != nullptr) {
    for (const std::string& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0].c_str(), actions, nullptr, args.data(),
                  env != nullptr ? envp.data() : environ) != 0)
    pid = -1;
  return pid;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& argv) { return SpawnWith(argv, nullptr); }

pid_t SpawnLogged(const std::vector<std::string>& argv, const std::string& log,
                  const std::vector<std::string>* env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const pid_t pid = SpawnWith(argv, &actions, env);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

pid_t SpawnUntilReady(const std::vector<std::string>& argv, const std::string& ready,
                      std::string* output) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const pid_t pid = SpawnWith(argv, &actions);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (pid < 0) {
    ::close(out[0]);
    return -1;
  }
  // Byte by byte, so that nothing after the ready line is taken from the pipe.
  std::string line;
  for (char c; ::read(out[0], &c, 1) == 1;) {
    line += c;
    if (c != '\n') continue;
    if (output != nullptr) *output += line;
    if (line.rfind(ready, 0) == 0) return pid;
    line.clear();
  }
  if (output != nullptr) *output += line;
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

CommandResult RunShellCommand(const std::string& command) {
  CommandResult r;
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

int StopChild(pid_t pid) {
  if (pid <= 0) return -1;
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

}  // namespace zelin::testing
