#include "platform/prompter.hpp"

#include <cstdio>

namespace zelin {
namespace {

struct ButtonAnswers {
  MsgButtons buttons;
  MsgAnswer first;
  MsgAnswer escape;
};

constexpr ButtonAnswers kButtonAnswers[] = {
    {MsgButtons::Ok, MsgAnswer::Ok, MsgAnswer::Ok},
    {MsgButtons::OkCancel, MsgAnswer::Ok, MsgAnswer::Cancel},
    {MsgButtons::YesNo, MsgAnswer::Yes, MsgAnswer::No},
    {MsgButtons::YesNoCancel, MsgAnswer::Yes, MsgAnswer::Cancel},
    {MsgButtons::RetryCancel, MsgAnswer::Retry, MsgAnswer::Cancel},
};

const ButtonAnswers& AnswersOf(MsgButtons buttons) {
  for (const ButtonAnswers& a : kButtonAnswers)
    if (a.buttons == buttons) return a;
  return kButtonAnswers[0];
}

}  // namespace

MsgAnswer FirstAnswer(MsgButtons buttons) {
  return AnswersOf(buttons).first;
}

MsgAnswer EscapeAnswer(MsgButtons buttons) {
  return AnswersOf(buttons).escape;
}

MsgAnswer ConsolePrompter::Message(std::string_view text, MsgButtons buttons, MsgIcon,
                                   std::string_view) {
  if (!quiet_) std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  // The first button, but never Retry: nobody is there to put the fault right.
  return buttons == MsgButtons::RetryCancel ? EscapeAnswer(buttons) : FirstAnswer(buttons);
}

std::optional<std::string> ConsolePrompter::AskPassword(std::string_view, size_t) {
  return std::nullopt;
}

}  // namespace zelin
