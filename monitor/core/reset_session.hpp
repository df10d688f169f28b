#pragma once
// Reset Server and Reset Port: the password dialog's texts, the TCP session that logs
// in on the server's command port and sends one ResetCommand, and the command flow with
// its messages.
//
// The session runs on the caller's thread (the user-interface thread), opens and closes
// its own connection, and waits at most the time-out per step plus the connect. The
// polling goes on meanwhile on the UDP sockets.

#include <cstdint>
#include <string>

#include "monitor/core/records.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "platform/prompter.hpp"
#include "protocol/transport.hpp"
#include "protocol/types.hpp"

namespace zelin::monitor {

// Results of ResetServerSession.
enum ResetResult : int {
  kResetAcknowledged = 1,
  kResetSent = 0,                // sent; no acknowledgement within the time-out
  kResetPasswordTooLong = -1,
  kResetNoSocket = -2,
  kResetConnectFailed = -3,
  kResetLoginRefused = -4,
  kResetNoChallenge = -6,
  kResetNotSent = -7,            // logged in, but the command could not be sent
};

// Logs in to the record's server (its IP address, port 4000) with the record's current
// password and sends 0x02 `target` (0 restarts the server, n resets port n from 1).
// Every wait lasts at most `timeout_seconds` of the clock.
int ResetServerSession(const ServerRecord& record, uint8_t target, int timeout_seconds,
                       Clock& clock, NoticeSink& notices, const TransportOptions& options);

enum class ResetKind { kServer, kPort };

// The "Reset Server" dialog of a command: its title and message.
struct ResetDialogText {
  std::string title;
  std::string message;
};
ResetDialogText ResetDialogFor(ResetKind kind, const MonitoredServer& server, size_t port);

// The two commands on the selected row. Borrows everything; all must outlive it.
class ResetCommands {
 public:
  ResetCommands(ServerList& servers, Prompter& prompter, Clock& clock, NoticeSink& notices,
                TransportOptions options)
      : servers_(servers),
        prompter_(prompter),
        clock_(clock),
        notices_(notices),
        options_(std::move(options)) {}

  // Runs the command for port `port` of `server` (nullptr: no row is selected): asks for
  // the password, finds the server's record by serial number and IP address (none: ends
  // silently), keeps the password in it, runs the session and says how it went.
  // Returns the session's result, or nothing when no session ran.
  std::optional<int> Run(ResetKind kind, const MonitoredServer* server, size_t port);

 private:
  ServerList& servers_;
  Prompter& prompter_;
  Clock& clock_;
  NoticeSink& notices_;
  TransportOptions options_;
};

}  // namespace zelin::monitor
