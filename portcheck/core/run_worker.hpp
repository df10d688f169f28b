#pragma once
// The worker thread behind a run window (TestRun behind Test Status, StatusCheck behind
// the status check). The window opens the run, is told of every change through the
// callback (on the worker's thread) and reads snapshots; Cancel, SKIP ALL and closing
// stop the worker through the stop flag and the session's abort.

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "portcheck/core/session.hpp"

namespace zelin::portcheck {

// Neither copied nor moved: its thread and flags are not.
class RunWorker {
 public:
  virtual ~RunWorker() = default;
  void set_changed(std::function<void()> changed) { changed_ = std::move(changed); }

  // Clears the stop flag and starts the worker.
  virtual void Open() = 0;
  // Stops (the stop flag and the session's abort) and joins the worker.
  void Close() {
    if (!worker_.joinable()) return;
    if (running_.load()) RaiseStop();
    worker_.join();
  }
  // Joins the worker without stopping it (the run ends on its own).
  void Wait() {
    if (worker_.joinable()) worker_.join();
  }

 protected:
  explicit RunWorker(DiagSession& session) : session_(session) {}

  void RaiseStop() {
    stop_ = true;
    session_.RaiseAbort();
  }
  void Changed() {
    if (changed_) changed_();
  }

  DiagSession& session_;
  std::function<void()> changed_;
  std::atomic<bool> stop_{false};  // Cancel or SKIP ALL: the worker stops after its step
  std::atomic<bool> running_{false};
  std::thread worker_;
};

}  // namespace zelin::portcheck
