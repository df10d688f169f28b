#pragma once
// A Prompter for tests: records every text shown and answers from a queue.

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/prompter.hpp"

namespace zelin::testing {

class ScriptedPrompter final : public Prompter {
 public:
  struct Shown {
    std::string text;
    MsgButtons buttons;
    MsgIcon icon;
  };

  // Answers for the next Message calls, in order. When the queue is empty a
  // message is answered with its default (Ok, Yes for questions).
  void QueueAnswer(MsgAnswer a) { answers_.push_back(a); }
  // Passwords for the next AskPassword calls; nullopt stands for Cancel.
  void QueuePassword(std::optional<std::string> p) { passwords_.push_back(std::move(p)); }

  MsgAnswer Message(std::string_view text, MsgButtons buttons, MsgIcon icon,
                    std::string_view caption) override;
  std::optional<std::string> AskPassword(std::string_view prompt, size_t max_length) override;
  void BeginWait() override { ++wait_depth_; ++wait_begins_; }
  void EndWait() override { --wait_depth_; }
  // Progress windows write into progress(): "[title]" when opened, each text shown,
  // and "[closed]".
  std::unique_ptr<ProgressWindow> OpenProgress(std::string_view title) override;
  const std::vector<std::string>& progress() const { return progress_; }

  const std::vector<Shown>& shown() const { return shown_; }
  std::vector<std::string> texts() const;
  const std::vector<std::string>& password_prompts() const { return password_prompts_; }
  int wait_depth() const { return wait_depth_; }
  int wait_begins() const { return wait_begins_; }
  void Clear() {
    shown_.clear();
    password_prompts_.clear();
    progress_.clear();
  }

 private:
  std::deque<MsgAnswer> answers_;
  std::deque<std::optional<std::string>> passwords_;
  std::vector<Shown> shown_;
  std::vector<std::string> password_prompts_;
  std::vector<std::string> progress_;
  int wait_depth_ = 0;
  int wait_begins_ = 0;
};

// A progress window that records what it was told.
class RecordingProgress final : public ProgressWindow {
 public:
  void Show(std::string_view text) override { ++shows; texts.emplace_back(text); }
  void SetText(std::string_view text) override { texts.emplace_back(text); }
  void Step() override { ++steps; }
  void Close() override { ++closes; }
  int shows = 0, steps = 0, closes = 0;
  std::vector<std::string> texts;
};

}  // namespace zelin::testing
