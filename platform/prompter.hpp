#pragma once
// The one channel through which the cores reach the user: message boxes,
// questions, password entry, the wait cursor and progress windows.
//
// The Qt programs implement it with QMessageBox and friends (ui/), the command-line
// tool writes to the terminal, and tests use a scripted implementation that records
// every text and answers from a queue (tests/support/scripted_prompter.hpp).
// A Prompter is used from the thread that owns it (the GUI thread in the programs).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/notices.hpp"
#include "platform/scoped_bracket.hpp"

namespace zelin {

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry };

// The answer of a box's first button (Ok, Yes or Retry: what Enter chooses).
MsgAnswer FirstAnswer(MsgButtons buttons);
// The answer a box closed with Escape or its window's close button stands for.
MsgAnswer EscapeAnswer(MsgButtons buttons);

// A progress window (firmware download, diagnostic runs, Save Configuration) is the
// progress sink of the work it shows; NullProgress shows nothing.
using ProgressWindow = ProgressSink;

class Prompter {
 public:
  virtual ~Prompter() = default;

  // Shows `text` and returns the button pressed. `caption` empty means the program's title.
  virtual MsgAnswer Message(std::string_view text, MsgButtons buttons = MsgButtons::Ok,
                            MsgIcon icon = MsgIcon::None, std::string_view caption = {}) = 0;

  // Asks with OK and Cancel where Cancel is the default button (Enter answers Cancel),
  // for a question whose OK changes what the user may not have meant to change. By
  // default an ordinary OK/Cancel message.
  virtual MsgAnswer AskDefaultCancel(std::string_view text, MsgIcon icon = MsgIcon::Question) {
    return Message(text, MsgButtons::OkCancel, icon);
  }

  // Asks for a password with hidden input; nullopt when the user cancels.
  virtual std::optional<std::string> AskPassword(std::string_view prompt, size_t max_length) = 0;

  // The wait cursor: Begin/End nest.
  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;

  // A progress window captioned `title` for long work that the user must wait for;
  // hidden until its Show(). The caller owns it and must drop it before the Prompter.
  // By default a window that shows nothing.
  virtual std::unique_ptr<ProgressWindow> OpenProgress(std::string_view title) {
    (void)title;
    return std::make_unique<NullProgress>();
  }
};

// Shows the wait cursor for the life of the object.
using WaitCursor = ScopedBracket<Prompter, &Prompter::BeginWait, &Prompter::EndWait>;

// For tools without a user interface: messages go to standard error, questions are
// answered with the default (Ok, Yes, Cancel for passwords).
class ConsolePrompter final : public Prompter {
 public:
  explicit ConsolePrompter(bool quiet = false) : quiet_(quiet) {}
  MsgAnswer Message(std::string_view text, MsgButtons buttons, MsgIcon icon,
                    std::string_view caption) override;
  std::optional<std::string> AskPassword(std::string_view prompt, size_t max_length) override;
  void BeginWait() override {}
  void EndWait() override {}

 private:
  bool quiet_;
};

}  // namespace zelin
