#include "srvmanager/core/configuration_writer.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "protocol/address.hpp"
#include "platform/clock.hpp"
#include "protocol/exchange.hpp"
#include "srvmanager/core/commands.hpp"
#include "srvmanager/core/strings.hpp"

namespace zelin::manager {
namespace {

constexpr int kCommandTimeoutSeconds = 1;
constexpr int kRestartTimeoutSeconds = 10;
constexpr int64_t kAfterRestartMs = 5000;

// The progress window's step that fails with each code (the access control table's
// write is not checked: it has none).
constexpr std::pair<WriteStep, WriteStepName> kFailingSteps[] = {
    {kWriteStepPassword, WriteStepName::kLogin},
    {kWriteStepName, WriteStepName::kName},
    {kWriteStepNewPassword, WriteStepName::kNewPassword},
    {kWriteStepAddress, WriteStepName::kAddress},
    {kWriteStepRoutes, WriteStepName::kRoutes},
    {kWriteStepPortKinds, WriteStepName::kPortKinds},
    {kWriteStepDhcp, WriteStepName::kDhcp},
    {kWriteStepRestart, WriteStepName::kRestart},
};

std::optional<WriteStepName> StepOf(WriteStep code) {
  for (const auto& [failing, step] : kFailingSteps)
    if (failing == code) return step;
  return std::nullopt;
}

// The step's failure, with the exchange's account of it: "server name: ...".
Status StepFailed(WriteStep step, const Status& why) {
  const std::string reason = why.ok() ? std::string() : ": " + why.message();
  return Status(step, std::string(StatusCode<WriteStep>::Describe(step)) + reason);
}

}  // namespace

}  // namespace zelin::manager

namespace zelin {

std::string_view StatusCode<WriteStep>::Describe(WriteStep code) {
  const auto step = manager::StepOf(code);
  return step ? manager::SaveProgress::StepText(*step) : std::string_view();
}

}  // namespace zelin

namespace zelin::manager {

Status ConfigurationWriter::WriteServer(int server_index, int found_index) {
  ServerTables& tables = p_.tables;
  Transport& transport = p_.transport;
  if (server_index < 0 || server_index >= tables.count() || !ValidFound(tables.found(), found_index))
    return kWriteStepPassword;
  ServerConfig& entry = tables.server(server_index);
  ServerRecord& rec = tables.found().records[static_cast<size_t>(found_index)];
  const int saved = tables.FindSavedServer(entry.serial_number);
  SaveProgress::Scope shown(progress_);
  const std::string name = entry.name();
  // One command of the sequence: success, or the step's failure with the exchange's reason.
  const auto send = [&](uint8_t code, WriteStep step, int timeout = kCommandTimeoutSeconds) {
    const Status sent = Command(transport, rec, code, timeout);
    return sent ? Status() : StepFailed(step, sent);
  };

  progress_.Writing(name, WriteStepName::kLogin);
  if (!p_.passwords.RequestServerPassword(rec, p_.passwords.PasswordFlags(server_index), entry))
    return kWriteStepPassword;

  progress_.Writing(name, WriteStepName::kName);
  rec.set_name(entry.name());
  if (Status st = send(wire::kSetName, kWriteStepName); !st) return st;

  // The server applies nothing before its restart: the new password becomes the
  // entry's (and the one remembered as accepted) only once the restart was taken, so a
  // write that fails on the way leaves the entry with the password the server still has.
  const bool password_pending = rec.password_change_pending;
  if (password_pending) {
    progress_.Writing(name, WriteStepName::kNewPassword);
    if (Status st = send(wire::kSetPassword, kWriteStepNewPassword); !st) return st;
  }

  progress_.Writing(name, WriteStepName::kAddress);
  // A server reached by a directed request answers at the address it was found at until
  // the restart applies the new one (the exchange follows it then); the record's address
  // may already be the new one the user typed.
  if (!rec.unicast) rec.unicast_address = rec.ip_address();
  rec.set_ip_address(entry.ip_address);
  rec.set_netmask(entry.netmask);
  if (Status st = send(wire::kSetAddress, kWriteStepAddress); !st) return st;

  if (entry.tables_changed != 0) {
    progress_.Writing(name, WriteStepName::kRoutes);
    // Removals (metric 0xFFFF) go first, then the routes to keep, each in table order:
    // a route the page removed or modified and then listed again is dropped and added
    // back, never added and then dropped. The removals also make room on the server.
    const int routes = std::min<int>(rec.route_total, static_cast<int>(wire::kTableCapacity));
    for (const bool removals : {true, false}) {
      for (int i = 0; i < routes; ++i) {
        const RouteEntry& route = rec.route_table[static_cast<size_t>(i)];
        if ((route.metric == wire::kRouteEmptyMetric) != removals) continue;
        rec.route_to_send = route;
        if (Status st = send(wire::kAddRoute, kWriteStepRoutes); !st) return st;
      }
    }
  }

  if (installation_type_ == kSingleHost ||
      (entry.write_state != kWriteNever && entry.tables_changed != 0)) {
    progress_.Writing(name, WriteStepName::kAccessList);
    const int entries = std::min<int>(rec.access_total, static_cast<int>(wire::kTableCapacity));
    (void)WriteAccessTable(transport, rec, entries, kCommandTimeoutSeconds);
  }

  progress_.Writing(name, WriteStepName::kPortKinds);
  if (Status st = send(wire::kSetPortKinds, kWriteStepPortKinds); !st) return st;

  if (HasDhcpSetting(rec.device_type(), rec.firmware_version())) {
    progress_.Writing(name, WriteStepName::kDhcp);
    if (Status st = send(wire::kDhcp, kWriteStepDhcp); !st) return st;
  }

  // The restart waits (the exchange's own, then this one) count down as one.
  progress_.Writing(name, WriteStepName::kRestart);
  transport.set_restart_wait_observer(
      [&](int64_t left) { progress_.Restarting(name, left + kAfterRestartMs); });
  const Status restarted = send(wire::kSaveAndRestart, kWriteStepRestart, kRestartTimeoutSeconds);
  transport.set_restart_wait_observer(nullptr);
  if (!restarted) return restarted;
  // Only a server that took the restart is done with its write state and tables; one
  // that failed on the way is written in full again at the next save.
  entry.write_state = kWriteWhenChanged;
  entry.tables_changed = 0;
  if (password_pending) {
    entry.set_password(rec.new_password);
    if (saved >= 0) tables.saved_server(saved).set_password(rec.new_password);
    p_.passwords.Remember(entry.serial_number, rec.new_password);
    const uint8_t f = rec.flags();
    rec.set_flags(static_cast<uint8_t>(rec.new_password.empty() ? (f & ~wire::kFlagPassword)
                                                                : (f | wire::kFlagPassword)));
  }
  {
    WaitCursor wait(p_.prompter);
    SleepCountingDown(transport.clock(), kAfterRestartMs,
                      [&](int64_t left) { progress_.Restarting(name, left); });
  }
  if (password_pending) {
    rec.password = rec.new_password;
    rec.password_change_pending = false;
  }
  return {};
}

ConfigurationWriter::SaveOutcome ConfigurationWriter::SaveConfigurationOutcome() {
  ServerTables& tables = p_.tables;
  Prompter& prompter = p_.prompter;
  if (auto conflict = p_.ports.FindComConflict()) {
    prompter.Message(*conflict);
    return SaveOutcome::kConflict;
  }
  if (prompter.Message(ManagerString(kStrRestartWarning), MsgButtons::YesNo, MsgIcon::Warning) !=
      MsgAnswer::Yes)
    return SaveOutcome::kDeclined;

  ServerList& found = tables.found();
  ServerList& saved_found = tables.saved_found();
  // One progress window for all the servers written, closed before the store is.
  std::optional<SaveProgress::Scope> writing(std::in_place, progress_);
  std::vector<uint16_t> kept_old;  // servers whose write failed
  for (int i = 0; i < tables.count(); ++i) {
    ServerConfig& entry = tables.server(i);
    const int fi = found.FindSerial(entry.serial_number);
    if (fi < 0 || !p_.tree.in_tree(fi)) continue;
    if (entry.write_state == kWriteNever) continue;
    if (!tables.ServerChanged(i) && entry.write_state != kWriteAlways) continue;
    const Status written = WriteServer(i, fi);
    if (written) {
      const uint16_t serial = found.records[static_cast<size_t>(fi)].serial_number();
      const int si = saved_found.FindSerial(serial);
      if (si >= 0) {
        saved_found.records[static_cast<size_t>(si)] = found.records[static_cast<size_t>(fi)];
      } else {
        tables.CopyToSavedFound(fi);
      }
    } else {
      // The server kept its old settings: the store records those for it (its mapping
      // is stored as usual) and the entry keeps the changes for the next save.
      kept_old.push_back(entry.serial_number);
      const ServerRecord& rec = found.records[static_cast<size_t>(fi)];
      const Ipv4 address = tables.AsTheServerHasIt(entry).ip_address;
      prompter.Message(ServerWriteFailed(rec.name(), AddressToText(address), written.code()),
                       MsgButtons::Ok, MsgIcon::Error);
    }
  }

  writing.reset();

  if (const Status saved = tables.Save(p_.store, kept_old); !saved) {
    // The store is unchanged: the saved copy and the modified mark stay, so that the
    // next save writes the same difference again.
    prompter.Message(WithStoreDetail(kStoreSaveFailed, saved), MsgButtons::Ok, MsgIcon::Error);
    return SaveOutcome::kStoreFailed;
  }
  if (fresh_port_) fresh_port_();
  return kept_old.empty() ? SaveOutcome::kSaved : SaveOutcome::kServersKeptOld;
}

}  // namespace zelin::manager
