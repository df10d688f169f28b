#pragma once
// Start-up decisions of the manager that need no window: the command-line word,
// the window title by installation type, and the Release course, which empties
// the store and closes the other suite programs' windows.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"
#include "platform/prompter.hpp"
#include "protocol/transport.hpp"
#include "srvmanager/core/manager_store.hpp"

namespace zelin::manager {

enum class StartMode { Normal, Release, AddServer };

// The whole command line, compared without regard to letter case.
StartMode ParseCommandLine(std::string_view command_line);
// Joins argv[1..] with single spaces, as the host passes the command line.
std::string JoinArguments(int argc, char** argv);

// "Zelin Server Manager" with " - Single-Host", " - Multi-Host", " - Custom" or nothing.
std::string MainTitle(int installation_type);

// Opens the transport's sockets; when that fails shows string 105 through `prompter`
// and returns false (the program then ends).
bool OpenTransportOrReport(Transport& transport, Prompter& prompter);

// The top-level windows of the other running suite programs.
class SuiteWindows {
 public:
  virtual ~SuiteWindows() = default;
  virtual std::vector<std::string> Titles() = 0;
  virtual bool Exists(const std::string& title) = 0;
  // Posts a close request to the window; does not wait.
  virtual void RequestClose(const std::string& title) = 0;
};

// Whether Release closes a window with this title (first 79 characters: contains
// "Zelin Server" and not "Uninstall").
bool ReleaseCloses(std::string_view title);

// Closes every window that ReleaseCloses, repeating the request once a second while
// the window exists, at most `max_requests` times per window.
void CloseSuiteWindows(SuiteWindows& windows, Clock& clock, int max_requests = 10);

// The Release course: removes every server and the store keys, calls FreshPort and
// closes the suite's windows. Shows nothing.
void RunRelease(ManagerStore& store, const std::function<void()>& fresh_port, SuiteWindows& windows,
                Clock& clock);

}  // namespace zelin::manager
