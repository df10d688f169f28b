#include "monitor/core/commands.hpp"

#include <array>

namespace zelin::monitor {

namespace {

constexpr std::array<CommandEntry, 10> kCommands = {{
    {Command::kLoadConfiguration, Menu::kFile, "&Load Configuration",
     "Load a monitor configuration", "Load Configuration", "Ctrl+O", true, false},
    {Command::kSaveConfiguration, Menu::kFile, "&Save Configuration",
     "Save the monitor configuration", "Save Configuration", "", true, false},
    {Command::kExit, Menu::kFile, "E&xit", "Quit the application; prompts to save the configuration",
     "", "", false, false},
    {Command::kConfigure, Menu::kMonitor, "&Configure", "Configure", "Configure", "", true, true},
    {Command::kRefreshMonitor, Menu::kMonitor, "&Refresh Monitor", "Refresh Monitor",
     "Refresh Monitor", "", true, false},
    {Command::kPortStatus, Menu::kMonitor, "P&ort Status", "View port status", "Port Status", "",
     true, false},
    {Command::kResetPort, Menu::kMonitor, "Reset &Port", "Reset one port", "Reset Port", "", true,
     false},
    {Command::kResetServer, Menu::kMonitor, "Reset &Server", "Reset Zelin Server", "Reset Server",
     "", true, false},
    {Command::kHelpTopics, Menu::kHelp, "&Help Topics", "List Help topics", "", "", false, false},
    {Command::kAbout, Menu::kHelp, "&About Zelin Server Monitor...",
     "Display program information and version number", "About", "", true, true},
}};

}  // namespace

std::span<const CommandEntry> CommandTable() { return kCommands; }

const CommandEntry& EntryOf(Command id) {
  for (const CommandEntry& e : kCommands)
    if (e.id == id) return e;
  return kCommands.front();
}

bool IsEnabled(Command id, const MonitorState& state, int selected_row) {
  switch (id) {
    case Command::kRefreshMonitor:
      return state.in_use->server_count > 0;
    case Command::kPortStatus:
    case Command::kResetPort:
    case Command::kResetServer: {
      const MonitoredServer* server = state.ServerOfRow(selected_row);
      return server != nullptr && LoadState(*server) == kStateAnswered;
    }
    default:
      return true;
  }
}

}  // namespace zelin::monitor
