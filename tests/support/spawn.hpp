#pragma once
// Child programs of the tests and benchmarks (peers such as ser2net and socat, or the
// programs under test), started without a shell.

#include <sys/types.h>

#include <string>
#include <vector>

namespace zelin::testing {

// Starts `argv` (argv[0] is the program's path) as it is: standard input, output and
// error are this process's. -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv);

// Starts `argv` with standard output and error appended
// to `log` and standard input from /dev/null. `env` is its environment (nullptr: this
// process's). The child starts in the calling thread's network namespace. -1 on failure.
pid_t SpawnLogged(const std::vector<std::string>& argv, const std::string& log,
                  const std::vector<std::string>* env = nullptr);

// Starts `argv` with its standard output on a pipe and reads that until a line that starts
// with `ready` (a program's ready line, such as devsim's "ready broadcast=..."); what it
// printed up to and including that line is appended to `*output` when given. Returns the
// pid, or -1 when it could not be started or ended before that line (its output then says
// why). The pipe stays open for whatever the child prints later.
pid_t SpawnUntilReady(const std::vector<std::string>& argv, const std::string& ready,
                      std::string* output = nullptr);

// What a shell command printed on its standard output, and its exit code (-1 when it did
// not exit normally).
struct CommandResult {
  int exit_code = -1;
  std::string out;
};
CommandResult RunShellCommand(const std::string& command);

// SIGTERM, then waits for the child to end. Returns its wait status; does nothing (and
// returns -1) for pid <= 0.
int StopChild(pid_t pid);

}  // namespace zelin::testing
