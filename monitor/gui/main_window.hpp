#pragma once
// MonitorWindow: the monitor's main window, "Zelin Server Monitor". Its menus and
// toolbar come from the core's command table (one QAction per command, enabled by the
// core's IsEnabled for the selected row); the status list is the central widget. The
// handlers forward to the document, the configuration sheet and the port status window.
//
// The window borrows the state, the document and the finder; they must outlive it.
// "Reset Port" and "Reset Server" run what the program hands in (RowCommands). GUI
// thread only.

#include <QMainWindow>

#include <functional>
#include <map>

#include "monitor/core/commands.hpp"
#include "monitor/core/configuration_sheet.hpp"
#include "monitor/core/monitor_document.hpp"
#include "monitor/core/reset_session.hpp"
#include "monitor/gui/status_list.hpp"

class QAction;
class QMenu;

namespace zelin::monitor {

// Commands on a list row that the program supplies (the reset commands).
struct RowCommands {
  std::function<void(int row)> reset_port;
  std::function<void(int row)> reset_server;
};

// Reset Port and Reset Server on a row of the configuration in use, through `resets`.
// Both borrowed; they must outlive the commands.
RowCommands ResetRowCommands(MonitorState& state, ResetCommands& resets);

class MonitorWindow final : public QMainWindow {
 public:
  MonitorWindow(MonitorState& state, MonitorDocument& doc, ServerFinder& finder,
                Prompter& prompter, RowCommands row_commands = {}, QWidget* parent = nullptr);

  StatusListView* list() const { return list_; }
  QAction* action(Command id) const { return actions_.at(id); }
  // The enabled state of every command from the core.
  void UpdateActions();
  // The title from the document, the recent files in the File menu.
  void UpdateDocument();

  // Command handlers (public so that tests drive them like the menus).
  void OnLoadConfiguration();
  void OnSaveConfiguration();
  void OnConfigure();
  void OnRefreshMonitor();
  void OnPortStatus();
  void OnResetPort();
  void OnResetServer();
  void OnHelpTopics();
  void OnAbout();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Run(Command id);
  void BuildRecentFiles();

  MonitorState& state_;
  MonitorDocument& doc_;
  ServerFinder& finder_;
  Prompter& prompter_;
  RowCommands row_commands_;
  StatusListView* list_ = nullptr;
  std::map<Command, QAction*> actions_;
  QMenu* file_menu_ = nullptr;
  QAction* recent_anchor_ = nullptr;  // the recent files go before it
  std::vector<QAction*> recent_actions_;
};

// The program's icon for a command's toolbar button, drawn at run time.
QIcon MonitorCommandIcon(Command id);

}  // namespace zelin::monitor
