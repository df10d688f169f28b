#pragma once
// The server status check: which configured servers can be reached and logged in to,
// their refreshed search replies and the open or closed state of their ports; and the
// lines of the Server Status window that shows the result.
//
// StatusCheck owns its worker thread, like TestRun. Open() starts it; the window (the
// SearchProgressWindow, titled "Zelin Server Diagnostics") shows two lines from the
// snapshot and has SKIP (ends the current server) and SKIP ALL (ends the check; once
// the check is over it closes the window). The worker writes the live configuration
// while the window is open; nothing else reads it then. When a server refuses its
// stored password the worker runs the password dialog through the caller's runner,
// which in the Qt program shows it on the user-interface thread and waits.
//
// Thread safety: Open, Skip, SkipAll, Close and Snapshot on the window's thread.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/prompter.hpp"
#include "portcheck/core/com_mapping.hpp"
#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/run_worker.hpp"
#include "portcheck/core/session.hpp"

namespace zelin::portcheck {

struct StatusCheckSnapshot {
  std::string first_line;
  std::string second_line;
  bool close_requested = false;
};

class StatusCheck final : public RunWorker {
 public:
  static constexpr std::string_view kTitle = "Zelin Server Diagnostics";

  StatusCheck(DiagConfig& live, HostInterfaces& interfaces, DiagSession& session,
              Prompter& prompter, PasswordDialogRunner run_dialog);
  ~StatusCheck() override;

  // Clears stop and skip and starts the worker.
  void Open() override;
  // SKIP: ends the current server (status -1) within about a second; it holds until
  // that server ends, so a press during a search that succeeds ends the connect too.
  void Skip();
  // SKIP ALL or closing the window: true when the window closes now (the worker has
  // finished); else the check stops after the current step and then asks to close.
  // A second press while the worker still runs (it may be waiting for the password
  // window) does not close the window either.
  bool SkipAll();
  StatusCheckSnapshot Snapshot() const;
  bool finished() const { return stop_.load() && !running_.load(); }

  // The worker's body.
  void Run();

 private:
  void SetLine(bool first, std::string text);
  // One server; false when the check is to stop.
  bool CheckServer(int k);

  DiagConfig& live_;
  HostInterfaces& interfaces_;
  Prompter& prompter_;
  PasswordDialogRunner run_dialog_;
  std::atomic<bool> skip_{false};
  mutable std::mutex mutex_;
  StatusCheckSnapshot snapshot_;
};

// One line of the Server Status window ("Zelin Server Status").
struct StatusLine {
  enum class Icon { kNone, kFound, kNotFound };
  std::string text;
  Icon icon = Icon::kNone;
};
std::vector<StatusLine> ServerStatusLines(const DiagConfig& config, const ComMappingTable& com);

}  // namespace zelin::portcheck
