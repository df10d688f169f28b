#include "monitor/core/reset_session.hpp"

#include <cstdio>

#include "protocol/address.hpp"
#include "protocol/frames.hpp"
#include "protocol/tcp_session.hpp"

namespace zelin::monitor {

int ResetServerSession(const ServerRecord& record, uint8_t target, int timeout_seconds,
                       Clock& clock, NoticeSink& notices, const TransportOptions& options) {
  if (record.password.size() > wire::kMaxPasswordLength) return kResetPasswordTooLong;
  TcpSession session(clock, notices, options);
  if (Status s = session.Connect(record.ip_address(), wire::kServerTcpPort, timeout_seconds); !s)
    return s == TcpSessionError::kSocketFailed ? kResetNoSocket : kResetConnectFailed;
  if (Status s = session.Login(record.password, timeout_seconds); !s)
    return s == TcpSessionError::kLoginRefused ? kResetLoginRefused : kResetNoChallenge;
  const std::array<uint8_t, wire::kTcpResetRequestSize> command{wire::kTcpReset, target};
  if (!session.SendAll(command)) return kResetNotSent;
  std::array<uint8_t, wire::kTcpReceiveBufferSize> reply{};
  const bool acknowledged = frames::IsTcpPair(session.ReceiveBytes(reply, timeout_seconds),
                                              wire::kTcpReset, wire::kTcpResetDone);
  return acknowledged ? kResetAcknowledged : kResetSent;
}

ResetDialogText ResetDialogFor(ResetKind kind, const MonitoredServer& server, size_t port) {
  const std::string name = server.name();
  const std::string address = AddressToText(server.ip_address);
  char text[256];
  if (kind == ResetKind::kServer) {
    std::snprintf(text, sizeof text, "Restart the Zelin Server %s ( %s )", name.c_str(),
                  address.c_str());
    return {"Reset Server",
            std::string(text) +
                "\n\nThis function will restart the Zelin Server and clear all data remains."};
  }
  std::snprintf(text, sizeof text, "Reset the port %d of Zelin Server %s ( %s )",
                static_cast<int>(port + 1), name.c_str(), address.c_str());
  return {"Reset Port",
          std::string(text) + "\n\nThe function may cause temporary data loss on this port."};
}

std::optional<int> ResetCommands::Run(ResetKind kind, const MonitoredServer* server,
                                      size_t port) {
  if (server == nullptr) {
    prompter_.Message("Please select a item!");
    return std::nullopt;
  }
  const ResetDialogText dialog = ResetDialogFor(kind, *server, port);
  const std::optional<std::string> password =
      prompter_.AskPassword(dialog.message, wire::kMaxPasswordLength);
  if (!password) return std::nullopt;
  ServerRecord* record = nullptr;
  for (int i = 0; i < servers_.count && i < static_cast<int>(kMaxServers); ++i) {
    ServerRecord& r = servers_.records[static_cast<size_t>(i)];
    if (r.serial_number() == server->serial_number && r.ip_address() == server->ip_address) {
      record = &r;
      break;
    }
  }
  if (record == nullptr) return std::nullopt;
  record->password = *password;
  const bool whole = kind == ResetKind::kServer;
  int result;
  {
    WaitCursor wait(prompter_);
    result = ResetServerSession(*record, whole ? uint8_t{0} : static_cast<uint8_t>(port + 1),
                                whole ? 1 : 2, clock_, notices_, options_);
  }
  switch (result) {
    case kResetPasswordTooLong:
    case kResetLoginRefused:
      prompter_.Message("Password check fail!");
      break;
    case kResetConnectFailed:
      prompter_.Message("Fail to connect Zelin Server!");
      break;
    case kResetNoSocket:
    case kResetNoChallenge:
    case kResetNotSent:
      prompter_.Message("Fail to reset serial ports of Zelin Server!");
      break;
    default:
      prompter_.Message(whole ? "Reset Zelin Server complete"
                              : "Reset serial ports of Zelin Server complete!");
  }
  return result;
}

}  // namespace zelin::monitor
