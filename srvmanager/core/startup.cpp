#include "srvmanager/core/startup.hpp"

#include <cctype>

#include "srvmanager/core/strings.hpp"
#include "store/installation_type.hpp"

namespace zelin::manager {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

StartMode ParseCommandLine(std::string_view command_line) {
  if (EqualsNoCase(command_line, "Release")) return StartMode::Release;
  if (EqualsNoCase(command_line, "AddServer")) return StartMode::AddServer;
  return StartMode::Normal;
}

std::string JoinArguments(int argc, char** argv) {
  std::string out;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) out += ' ';
    out += argv[i];
  }
  return out;
}

std::string MainTitle(int installation_type) {
  std::string title(kTitleBase);
  switch (installation_type) {
    case kSingleHost:
      title += " - Single-Host";
      break;
    case kMultiHost:
      title += " - Multi-Host";
      break;
    case kCustom:
      title += " - Custom";
      break;
    default:
      break;
  }
  return title;
}

bool OpenTransportOrReport(Transport& transport, Prompter& prompter) {
  if (transport.OpenTransport()) return true;
  prompter.Message(ManagerString(kStrTransportOpenError), MsgButtons::Ok, MsgIcon::Error);
  return false;
}

bool ReleaseCloses(std::string_view title) {
  title = title.substr(0, 79);
  return title.find("Zelin Server") != std::string_view::npos &&
         title.find("Uninstall") == std::string_view::npos;
}

void CloseSuiteWindows(SuiteWindows& windows, Clock& clock, int max_requests) {
  for (const std::string& title : windows.Titles()) {
    if (!ReleaseCloses(title)) continue;
    for (int n = 0; n < max_requests && windows.Exists(title); ++n) {
      windows.RequestClose(title);
      clock.SleepMs(1000);
    }
  }
}

void RunRelease(ManagerStore& store, const std::function<void()>& fresh_port, SuiteWindows& windows,
                Clock& clock) {
  store.RemoveAllServers();
  if (fresh_port) fresh_port();
  CloseSuiteWindows(windows, clock);
}

}  // namespace zelin::manager
