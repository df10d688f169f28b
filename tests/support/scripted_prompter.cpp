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

std::vector<std::string> ScriptedPrompter::texts() const {
  std::vector<std::string> out;
  for (const auto& s : shown_) out.push_back(s.text);
  return out;
}

}  // namespace zelin::testing
