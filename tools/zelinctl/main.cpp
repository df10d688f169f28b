// zelinctl: scripting access to the suite's cores.
#include <algorithm>
#include <cstdio>
#include <string>

#include "tools/zelinctl/command.hpp"

namespace zelin::ctl {

namespace {
std::vector<CommandSpec>& Registry() {
  static std::vector<CommandSpec> commands;
  return commands;
}
}  // namespace

Registration::Registration(CommandSpec command) {
  Registry().push_back(command);
}

const std::vector<CommandSpec>& Commands() {
  return Registry();
}

}  // namespace zelin::ctl

namespace {
void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: zelinctl COMMAND [OPTIONS]\n\n"
               "Commands:\n");
  auto commands = zelin::ctl::Commands();
  std::sort(commands.begin(), commands.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  for (const auto& c : commands)
    std::fprintf(out, "  %-14.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                 static_cast<int>(c.summary.size()), c.summary.data());
  std::fprintf(
      out,
      "\nRun 'zelinctl COMMAND --help' for the options of a command.\n"
      "Environment: ZELIN_INTERFACES, ZELIN_BROADCAST, ZELIN_LOOPBACK_ONLY, ZELIN_REGISTRY.\n"
      "\nExit status: 0 done, 1 the server or store refused or failed, 2 bad usage,\n"
      "3 server, file or entry not found, 4 network or store not usable.\n");
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return zelin::ctl::kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    if (argc >= 3 && argv[2][0] != '-') {  // "help COMMAND [SUBCOMMAND]": its own help
      zelin::ctl::Args args;  // the subcommand words, without options
      for (int i = 3; i < argc && argv[i][0] != '-'; ++i) args.push_back(argv[i]);
      args.push_back("--help");
      for (const auto& c : zelin::ctl::Commands())
        if (c.name == argv[2]) return c.run(args);
      std::fprintf(stderr, "zelinctl: unknown command '%s'\n", argv[2]);
      PrintUsage(stderr);
      return zelin::ctl::kExitUsage;
    }
    PrintUsage(stdout);
    return zelin::ctl::kExitOk;
  }
  for (const auto& c : zelin::ctl::Commands()) {
    if (c.name == name) return c.run(zelin::ctl::Args(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "zelinctl: unknown command '%s'\n", name.c_str());
  PrintUsage(stderr);
  return zelin::ctl::kExitUsage;
}
