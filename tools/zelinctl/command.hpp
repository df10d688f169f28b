#pragma once
// zelinctl subcommands register themselves here; main() dispatches on the first word.
// Each subcommand prints its own --help and returns the process exit status:
//   0 success, 1 the operation failed (device or store said no), 2 bad usage,
//   3 a server or file was not found, 4 environment problem (no transport, bad store).

#include <string>
#include <string_view>
#include <vector>

namespace zelin::ctl {

enum ExitStatus : int { kExitOk, kExitFailed, kExitUsage, kExitNotFound, kExitEnvironment };
static_assert(kExitEnvironment == 4, "the statuses are documented by number above");

using Args = std::vector<std::string>;
using CommandFn = int (*)(const Args& args);  // args after the subcommand's name

struct CommandSpec {
  std::string_view name;
  std::string_view summary;
  CommandFn run;
};

// Registers a subcommand at static-initialisation time.
struct Registration {
  explicit Registration(CommandSpec command);
};

const std::vector<CommandSpec>& Commands();

}  // namespace zelin::ctl
