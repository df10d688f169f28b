#pragma once
// Child programs of the tests and benchmarks (peers such as ser2net and socat, or the
// programs under test), started without a shell.

#include <sys/types.h>

#include <string>
#include <vector>

namespace zelin::testing {

// Starts `argv` (argv[0] is the program's path) with standard output and error appended
// to `log` and standard input from /dev/null. `env` is its environment (nullptr: this
// process's). The child starts in the calling thread's network namespace. -1 on failure.
pid_t SpawnLogged(const std::vector<std::string>& argv, const std::string& log,
                  const std::vector<std::string>* env = nullptr);

// SIGTERM, then waits for the child to end. Does nothing for pid <= 0.
void StopChild(pid_t pid);

}  // namespace zelin::testing
