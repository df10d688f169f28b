#pragma once
// The commands of the monitor's main window: one table from which the window builds
// its menus and its toolbar, and the rule that enables each command.

#include <span>
#include <string_view>

#include "monitor/core/monitor_state.hpp"

namespace zelin::monitor {

enum class Command {
  kLoadConfiguration,
  kSaveConfiguration,
  kExit,
  kConfigure,
  kRefreshMonitor,
  kPortStatus,
  kResetPort,
  kResetServer,
  kHelpTopics,
  kAbout,
};

enum class Menu { kFile, kMonitor, kHelp };

struct CommandEntry {
  Command id;
  Menu menu;
  std::string_view text;        // menu text with its "&" mnemonic
  std::string_view status_tip;  // status-bar prompt
  std::string_view tool_tip;    // empty: none
  std::string_view shortcut;    // key sequence text, empty: none
  bool on_toolbar;
  bool toolbar_gap_before;      // a gap on the toolbar before this button
};

// Every command in menu order; the toolbar takes the marked ones in the same order.
// The recent files follow "&Save Configuration" in the File menu.
std::span<const CommandEntry> CommandTable();
const CommandEntry& EntryOf(Command id);

// "Refresh Monitor" while a server is watched; "Port Status", "Reset Port" and
// "Reset Server" while list row `selected_row` (-1 for none) belongs to an answering
// server; the others always.
bool IsEnabled(Command id, const MonitorState& state, int selected_row);

// About box and help.
inline constexpr std::string_view kAboutCaption = "About Zelin Server Monitor";
inline constexpr std::string_view kAboutText = "Zelin Server Monitor Version 1.7";
inline constexpr int kHelpTopicsContext = 32787;

}  // namespace zelin::monitor
