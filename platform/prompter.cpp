#include "platform/prompter.hpp"

#include <cstdio>

namespace zelin {

MsgAnswer ConsolePrompter::Message(std::string_view text, MsgButtons buttons, MsgIcon,
                                   std::string_view) {
  if (!quiet_) std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  switch (buttons) {
    case MsgButtons::YesNo:
    case MsgButtons::YesNoCancel:
      return MsgAnswer::Yes;
    case MsgButtons::RetryCancel:
      return MsgAnswer::Cancel;
    default:
      return MsgAnswer::Ok;
  }
}

std::optional<std::string> ConsolePrompter::AskPassword(std::string_view, size_t) {
  return std::nullopt;
}

}  // namespace zelin
