#pragma once
// What every zelinctl command that talks to device servers shares: option parsing,
// the network options, opening the transport, finding a server by serial number,
// logging in with --password, save-and-restart, and the dispatch of command families
// ("zelinctl access add ...") to their subcommands.
//
// Messages go to standard error (an error as its Status's ToString(), the transport's
// notices as they come), results to standard output. Every function that can end a
// command returns (or sets) one of the exit statuses of command.hpp.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "protocol/bytes.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"
#include "tools/zelinctl/command.hpp"

namespace zelin::ctl {

extern const char* const kNetworkHelp;
// The login option of every command that changes or reads a server's settings.
extern const char* const kPasswordHelp;
// The exit statuses, for the help of the command families.
extern const char* const kExitHelp;

struct Parsed {
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> positional;
  std::string error;
  bool help = false;

  bool has(const std::string& flag) const { return flags.count(flag) != 0; }
  const std::string* value(const std::string& option) const;
};

// Options are "--name value" or "--name=value" for `valued`, "--name" for `flags`, and
// --help or -h; other words are positional. Stops at the first error (in `error`).
// The one option parser of every zelinctl command.
Parsed ParseOptions(const Args& args, const std::set<std::string>& valued,
                    const std::set<std::string>& flags);
// ParseOptions for the commands that reach servers: the network options are known too.
Parsed Parse(const Args& args, std::set<std::string> valued, std::set<std::string> flags);

// An IPv4 address typed on the command line: exactly four decimal parts.
std::optional<Ipv4> ParseAddress(const std::string& text);
// ParseAddress of an argument; when it is not one, nullopt with
// "zelinctl: [OPTION: ]'TEXT' is not an IPv4 address" on standard error.
std::optional<Ipv4> AddressArgument(const std::string& text, const char* option = nullptr);
// Serial number argument: decimal, 0..65535; -1 when it is not one.
int ParseSerial(const std::string& text);
// The serial number of a command on one server: the first of exactly `positional`
// arguments. -1 when the command line asks for help, has an error or does not fit
// (the command then prints its usage).
int CommandSerial(const Parsed& p, size_t positional);
// "2.20.0100" from the 32-bit firmware value of a search reply.
std::string FirmwareText(uint32_t version);

// Prints `usage` and the network options: to standard output with status 0 for --help,
// else to standard error with the parse error and status 2.
int Usage(const Parsed& p, const char* usage);
// A name or password the server could not read as typed: refused before any exchange.
int RefuseDeviceText(const char* option);
// Checks a password option (at most 16 printable ASCII characters); kExitOk or kExitUsage
// with the message printed.
int CheckPasswordOption(const Parsed& p, const char* option);

// Everything one command needs to reach the servers.
struct Session {
  RealClock clock;
  ConsoleNotices notices;
  std::unique_ptr<Transport> transport;
  ServerList list;
};

// Opens the transport for `who` from local port `first_local_port` (the monitor's
// sockets start at 5124, so that it runs beside the manager).
int OpenSession(const Parsed& p, Session& s, Deliverable who = Deliverable::Manager,
                uint16_t first_local_port = wire::kManagerFirstLocalPort);
// The transport options of the environment and the network options, or what is wrong
// with them.
Result<TransportOptions> NetworkOptions(const Parsed& p);
// A search needs a broadcast address the options allow; false (message printed) if not.
bool MayBroadcast(const Session& s);
// Searches and returns the record of `serial`, or nullptr (message printed, *rc set).
ServerRecord* FindServer(Session& s, uint16_t serial, int* rc);
// OpenSession, FindServer, then Login with --password (empty when not given). Returns the
// logged-in record, or nullptr with the message printed and *rc set.
ServerRecord* LogIn(const Parsed& p, Session& s, uint16_t serial, int* rc);
// Sends one command with the 1-second time-out; false (message naming `what`) on failure.
bool Step(Session& s, ServerRecord& r, uint8_t code, const char* what);
// SaveAndRestart (10-second time-out, then the 6-second restart wait), and the line
// "Server N saved and restarted at A". kExitOk or kExitFailed.
int SaveAndRestart(Session& s, ServerRecord& r);

// One subcommand of a family ("access show", "route add").
struct Subcommand {
  const char* name;
  const char* help;  // starts with "usage: zelinctl FAMILY NAME"
  std::set<std::string> valued;
  std::set<std::string> flags;
  size_t min_args, max_args;  // positional arguments after SERIAL
  int (*run)(const Parsed& p, uint16_t serial);
};

// Dispatches "FAMILY SUBCOMMAND SERIAL [ARGS] [OPTIONS]": the family's usage for no
// arguments (status 2) and for --help/help (status 0), the subcommand's help for its
// --help, status 2 for an unknown subcommand, a bad serial number, a wrong number of
// arguments or a bad --password. Every subcommand takes --password and the network
// options; `p.positional` holds the arguments after SERIAL.
int RunFamily(const Args& args, const char* family, const char* usage,
              std::span<const Subcommand> subcommands);

}  // namespace zelin::ctl
