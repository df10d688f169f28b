#pragma once
// A test run over every configured server, and the Test Status window that shows it.
//
// TestRun owns the worker thread. Open() starts it on RunTests(); the worker tests the
// servers in order (TestServer), writing the results into the run's ResultStores, the
// statuses into the configuration and what the window shows into a snapshot. Every
// change of the snapshot calls the `changed` callback on the worker thread; the window
// takes a Snapshot() on its own thread (the Qt window queues the call). The window
// never touches the configuration or the stores while the run is open.
//
// Cancel: the first press sets the cancel flag and raises the session's AbortFlag (a
// waiting connect, login or read gives up within a second); the cancel flag holds the
// session's abort for the rest of the run, so a press that lands during a search that
// succeeds still ends the connect that follows. The worker then posts a close request.
// A press with cancel already set, or after the run finished, closes the window.
// Close() always stops and joins the worker, so no test goes on once the window is
// gone. Whether the run completed is the worker's outcome (completed()), not whether
// Cancel was pressed: a press as the last server sends its end report keeps the run.
//
// A server's test that ends early (the connection closed, no report within the silence
// limit, a cancel) keeps the results it gathered and says why in its ResultStore's
// `end`, so the reports show it.
//
// Thread safety: Open, PressCancel, Close and Snapshot on the window's thread; the
// flags are atomics and the snapshot is guarded.

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.hpp"
#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/server_marks.hpp"
#include "portcheck/core/run_worker.hpp"
#include "portcheck/core/session.hpp"
#include "portcheck/core/test_results.hpp"

namespace zelin::portcheck {

inline constexpr int kProgressPerServer = 110;
inline constexpr int kProgressFirstStep = 10;
// The Error Log keeps its last lines only: a stream of failing reports cannot make it
// grow without bound.
inline constexpr size_t kMaxLogLines = 1000;

using ResultStores = std::array<ResultStore, kMaxDiagServers>;

// What the Test Status window shows.
struct TestStatusSnapshot {
  std::string object;   // "Test Object :"
  std::string item;     // "Test Item :"
  std::string subitem;  // "Test Subitem :"
  std::string status = "Test Done";
  std::vector<std::string> log;  // "Error Log : ", its last lines (the run's log capacity)
  uint64_t log_total = 0;        // lines ever added to the log
  int progress_max = 0;
  int progress = 0;
  bool progress_visible = true;
  bool done_line_visible = false;  // "Test Done. Please press [View Report] to see report"
  std::string button = "Cancel";   // "View Report" once the run is done
  bool close_requested = false;    // the worker asks the window to close
  std::array<ServerMark, kMaxDiagServers> marks{};
};

class TestRun final : public RunWorker {
 public:
  static constexpr std::string_view kTitle = "Test Status";
  static constexpr std::string_view kDoneLine =
      "Test Done. Please press [View Report] to see report";

  TestRun(DiagConfig& config, ResultStores& stores, HostInterfaces& interfaces,
          DiagSession& session, Clock& clock);
  ~TestRun() override;

  // Clears cancel, sets the progress range (110 per server), takes the first step and
  // starts the worker.
  void Open() override;
  // The Cancel (or View Report) button; true when the window should close now.
  bool PressCancel();

  // The longest wait for a server's next progress report before its test ends as
  // failed (TestEnd::kSilent); 0, the default, waits until Cancel. Before Open.
  void set_silence_limit_ms(int64_t ms) { silence_limit_ms_ = ms; }

  // The log's bound (kMaxLogLines unless a test makes it smaller). Before Open.
  void set_log_capacity(size_t lines) { log_capacity_ = lines; }
  size_t log_capacity() const { return log_capacity_; }

  // Without `with_log` the log is left out (the window takes its lines by LogSince).
  TestStatusSnapshot Snapshot(bool with_log = true) const;
  // The lines added after the first `seen` lines ever added (those still kept) into
  // `lines`; returns the number of lines ever added, the next call's `seen`.
  uint64_t LogSince(uint64_t seen, std::vector<std::string>& lines) const;
  bool cancelled() const { return stop_.load(); }
  // The worker tested every server to its end (true also when Cancel came after the
  // last server's end report); false while running and after a cancelled run.
  bool completed() const { return completed_.load(); }
  bool running() const { return running_.load(); }
  // "(Test Time : MM/DD/YY HH:MM:SS)------------------------", set when the run starts.
  std::string test_time_line() const;

  // The worker's body and its step for one server (public for tests that run a server
  // on their own thread).
  void RunTests();
  bool TestServer(int index);

 private:
  // Adds an Error Log line (inside Update: the lock is held).
  void AddLog(std::string line);
  // Records failure `marker` with its log line and the status.
  void Fail(int index, uint8_t marker, const char* pattern, int32_t status);
  // Ends server `index`'s test early: `kept` results stay, `end` says why.
  bool EndEarly(int index, uint32_t kept, TestEnd end);
  // The cancelled end: marks from the statuses, untested servers interrupted.
  void EndCancelled(int from);
  template <class F>
  void Update(F&& change) {
    {
      std::lock_guard lock(mutex_);
      change(snapshot_);
    }
    Changed();
  }

  DiagConfig& config_;
  ResultStores& stores_;
  HostInterfaces& interfaces_;
  Clock& clock_;
  std::atomic<bool> completed_{false};
  int64_t silence_limit_ms_ = 0;
  size_t log_capacity_ = kMaxLogLines;
  std::vector<std::string> log_;  // the snapshot's log, kept apart so that it is not copied
  uint64_t log_total_ = 0;
  mutable std::mutex mutex_;
  TestStatusSnapshot snapshot_;
  std::string time_line_;
};

}  // namespace zelin::portcheck
