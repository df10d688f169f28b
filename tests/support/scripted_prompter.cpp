#include "tests/support/scripted_prompter.hpp"

namespace zelin::testing {

MsgAnswer ScriptedPrompter::Message(std::string_view text, MsgButtons buttons, MsgIcon icon,
                                    std::string_view) {
  shown_.push_back({std::string(text), buttons, icon});
  if (!answers_.empty()) {
    const MsgAnswer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  switch (buttons) {
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
      return MsgAnswer::Yes;
    case MsgButtons::RetryCancel:
      return MsgAnswer::Retry;
    default:
      return MsgAnswer::Ok;
  }
}

std::optional<std::string> ScriptedPrompter::AskPassword(std::string_view prompt, size_t) {
  password_prompts_.emplace_back(prompt);
  if (passwords_.empty()) return std::nullopt;
  auto p = std::move(passwords_.front());
  passwords_.pop_front();
  return p;
}

namespace {
class LoggedProgress final : public ProgressWindow {
 public:
  explicit LoggedProgress(std::vector<std::string>& log) : log_(log) {}
  void Show(std::string_view text) override { log_.emplace_back(text); }
  void SetText(std::string_view text) override { log_.emplace_back(text); }
  void Step() override {}
  void Close() override { log_.emplace_back("[closed]"); }

 private:
  std::vector<std::string>& log_;
};
}  // namespace

std::unique_ptr<ProgressWindow> ScriptedPrompter::OpenProgress(std::string_view title) {
  progress_.push_back("[" + std::string(title) + "]");
  return std::make_unique<LoggedProgress>(progress_);
}

std::vector<std::string> ScriptedPrompter::texts() const {
  std::vector<std::string> out;
  for (const auto& s : shown_) out.push_back(s.text);
  return out;
}

}  // namespace zelin::testing
