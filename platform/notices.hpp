#pragma once
// The narrow channel through which the shared layers (protocol/, store/) tell the
// program something while they work: a notice that does not end the operation (a
// socket error text, a refused address, a reply the device should not have sent) and
// the busy bracket around a wait. The operation's outcome itself is its Status.
//
// The program supplies the sink: the Qt programs and the cores' tests forward it to
// their Prompter (PrompterNotices: a message box with the level's icon, the wait
// cursor), zelinctl writes each notice as a line on standard error (ConsoleNotices).
//
// A sink is used from the thread that owns it, like the Prompter behind it.

#include <string_view>

#include "platform/scoped_bracket.hpp"

namespace zelin {

class Prompter;

enum class NoticeLevel { kWarning, kError };

class NoticeSink {
 public:
  virtual ~NoticeSink() = default;
  // Shows `text` and returns once the user has seen it (a message box waits for OK).
  virtual void Notice(NoticeLevel level, std::string_view text) = 0;
  // A wait that the user should see as busy (the wait cursor). Begin/End nest.
  virtual void BusyBegin() = 0;
  virtual void BusyEnd() = 0;
};

// How long-running work (a firmware download, a diagnostic run, Save Configuration) shows its
// progress: shown with a text, stepped, retitled and closed. The programs pass their
// progress window; Step() lets it repaint.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void Show(std::string_view text) = 0;
  virtual void SetText(std::string_view text) = 0;
  virtual void Step() = 0;
  virtual void Close() = 0;
};

// Progress that shows nothing.
class NullProgress final : public ProgressSink {
 public:
  void Show(std::string_view) override {}
  void SetText(std::string_view) override {}
  void Step() override {}
  void Close() override {}
};

// Busy for the life of the object.
using BusyScope = ScopedBracket<NoticeSink, &NoticeSink::BusyBegin, &NoticeSink::BusyEnd>;

// Notices as Prompter messages with OK and the level's icon (Warning, Error); busy as
// the wait cursor. Borrows the prompter, which must outlive it.
class PrompterNotices final : public NoticeSink {
 public:
  explicit PrompterNotices(Prompter& prompter) : prompter_(prompter) {}
  void Notice(NoticeLevel level, std::string_view text) override;
  void BusyBegin() override;
  void BusyEnd() override;

 private:
  Prompter& prompter_;
};

// Notices as lines on standard error (none when quiet); busy shows nothing.
class ConsoleNotices final : public NoticeSink {
 public:
  explicit ConsoleNotices(bool quiet = false) : quiet_(quiet) {}
  void Notice(NoticeLevel level, std::string_view text) override;
  void BusyBegin() override {}
  void BusyEnd() override {}

 private:
  bool quiet_;
};

}  // namespace zelin
