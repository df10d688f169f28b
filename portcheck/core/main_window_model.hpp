#pragma once
// The diagnostic program's main window as a core model: its commands with their menus,
// toolbar places, status bar prompts and enabling rules; the report mode; the server
// list ("To be tested...") with its marks; the caption beside the toolbar; and the
// view's starting text. The Qt window builds its menus and toolbar from Commands() and
// asks IsEnabled for each action.
//
// Thread safety: the user-interface thread only.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "portcheck/core/diag_config.hpp"
#include "portcheck/core/server_marks.hpp"

namespace zelin::portcheck {

inline constexpr std::string_view kMainTitle = "Zelin Server Diagnostics";
inline constexpr std::string_view kApplicationTitle = "Zelin Server Diagnostic";
inline constexpr std::string_view kAboutTitle = "About Zelin Server Diagnostics";
inline constexpr std::string_view kAboutLine = "Zelin Server Diagnostic, Version 1.7";
inline constexpr std::string_view kServerPaneTitle = "To be tested...";
inline constexpr int kErrorCodeHelpTopic = 10000;

enum class Command {
  kSaveReport,
  kPrint,
  kPrintPreview,
  kPrintSetup,
  kExportPdf,
  kExit,
  kConfig,
  kServerStatus,
  kGo,
  kErrorCodeReference,
  kAbout,
};

struct CommandInfo {
  Command command;
  std::string_view menu;       // "File", "Diagnose", "Help"
  std::string_view text;       // the menu item, with its & and \t shortcut
  int toolbar_group;           // 0 not on the toolbar; groups are separated by a gap
  std::string_view prompt;     // the status bar prompt ("" for none)
};
// In menu order; the toolbar shows those with a group, in the order Config, Go, Server
// Status, Save Report, Print.
std::span<const CommandInfo> Commands();
std::vector<Command> ToolbarCommands();

class MainWindowModel {
 public:
  struct ListItem {
    ServerMark mark = ServerMark::kNone;
    std::string first;   // "%s (%s)": model name, server name
    std::string second;  // "SerialNo:%d, %s": serial number, IP address
  };

  explicit MainWindowModel(const DiagConfig& live) : live_(live) {}

  bool IsEnabled(Command c) const;
  bool report_mode() const { return report_mode_; }
  int report_server() const { return report_server_; }
  // The caption beside the toolbar: "Test Report" after a completed run.
  const std::string& caption() const { return caption_; }
  const std::vector<ListItem>& server_list() const { return items_; }
  // The list shows its selection highlighted only in report mode.
  bool highlight_selection() const { return report_mode_; }

  // Rebuilds the list; an item whose mark is not set yet, or every item when
  // `keep_marks` is false, takes its mark from its server's status.
  void RefreshList(bool keep_marks);
  // Config: the caption empties when the sheet opens; OK leaves report mode.
  void ConfigOpened();
  void ConfigAccepted();
  // The question before a run, worded as the menu or the toolbar asks it.
  static std::string_view GoQuestion(bool from_menu);
  // The Test Status window closed: a cancelled run returns to the starting text with
  // marks from the statuses; a completed one enters report mode on server 0 with the
  // run's marks.
  void RunEnded(bool cancelled, std::span<const ServerMark> run_marks);
  // After the status check and the Server Status window.
  void StatusCheckEnded() { RefreshList(report_mode_); }
  // Selecting a list item selects the server whose report is drawn.
  void SelectServer(int index);

 private:
  const DiagConfig& live_;
  bool report_mode_ = false;
  int report_server_ = 0;
  std::string caption_;
  std::array<ServerMark, kMaxDiagServers> marks_{};
  std::vector<ListItem> items_;
};

// The view's starting text: per line, the text before the toolbar picture, the command
// whose picture is drawn, and the text after it; line 2 is empty.
struct StartingLine {
  int line;
  std::string_view before;
  Command picture;
  std::string_view after;
};
std::span<const StartingLine> StartingText();

}  // namespace zelin::portcheck
