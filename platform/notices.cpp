#include "platform/notices.hpp"

#include <cstdio>

#include "platform/prompter.hpp"

namespace zelin {

void PrompterNotices::Notice(NoticeLevel level, std::string_view text) {
  prompter_.Message(text, MsgButtons::Ok,
                    level == NoticeLevel::kWarning ? MsgIcon::Warning : MsgIcon::Error);
}

void PrompterNotices::BusyBegin() {
  prompter_.BeginWait();
}
void PrompterNotices::BusyEnd() {
  prompter_.EndWait();
}

void ConsoleNotices::Notice(NoticeLevel, std::string_view text) {
  if (!quiet_) std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

}  // namespace zelin
