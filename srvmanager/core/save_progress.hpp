#pragma once
// What the manager shows while Save Configuration writes to the servers: one progress
// window, opened through the Prompter when the first server is written and closed when
// the writing is done, that names the server and the step being written and counts
// down the wait while a server restarts:
//
//   "Writing Dock North: IP address"      "Restarting Dock North: 9 s left"
//
// Scopes nest; the window and the wait cursor last until the outermost Scope ends,
// which drops the window.
// Not thread safe (the manager's user-interface thread only).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/prompter.hpp"

namespace zelin::manager {

// The steps of the server write sequence as the progress window names them.
enum class WriteStepName {
  kLogin,
  kName,
  kNewPassword,
  kAddress,
  kRoutes,
  kAccessList,
  kPortKinds,
  kDhcp,
  kRestart,
};

class SaveProgress {
 public:
  explicit SaveProgress(Prompter& prompter) : prompter_(prompter) {}
  ~SaveProgress();
  SaveProgress(const SaveProgress&) = delete;
  SaveProgress& operator=(const SaveProgress&) = delete;

  // Keeps the window (once something was shown) and the wait cursor while it lives.
  class Scope {
   public:
    explicit Scope(SaveProgress& p);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    SaveProgress& p_;
  };

  // "Writing <server>: <step>".
  void Writing(std::string_view server, WriteStepName step);
  // "Restarting <server>: N s left", N the whole seconds of `ms_left`, rounded up.
  void Restarting(std::string_view server, int64_t ms_left);

  static std::string WritingText(std::string_view server, WriteStepName step);
  // The step's name: "server name", "IP address", ...
  static std::string_view StepText(WriteStepName step);
  static std::string RestartingText(std::string_view server, int64_t ms_left);

 private:
  void Say(const std::string& text);
  void Close();

  Prompter& prompter_;
  std::unique_ptr<ProgressWindow> window_;
  bool shown_ = false;
  int depth_ = 0;
};

}  // namespace zelin::manager
