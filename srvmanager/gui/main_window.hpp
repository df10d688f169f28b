#pragma once
// MainWindow: the manager's main window. Menus, toolbar (with tool tips and status
// texts), status bar, the splitter with the server tree (left) and the port list
// (right, active at start), the context menus and the About box. Every command is one
// row of the window's action table, and the menus, the toolbar and the tree's context
// menus are lists of those rows; an action's enabled state comes from the document's
// CommandRules; the handlers forward to the document and refresh the views.
//
// Commands run one at a time: while one runs (its network waits keep the window
// painting, see ui/live_clock.hpp) no other command starts and the window does not
// close, whatever asks for it (a timer, the instance channel).
//
// The window borrows the document; the document must outlive it. GUI thread only.

#include <QMainWindow>
#include <QVector>

#include <functional>

#include "mapwizard/mapwizard.h"
#include "srvmanager/core/manager_document.hpp"
#include "srvmanager/gui/server_commands.hpp"

class QSplitter;

namespace zelin::manager {

class ServerTreeView;
class PortListView;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Runs the Add Server Wizard over the block; returns its result.
  using WizardRunner = std::function<int(WizardArguments*)>;

  // `commands` opens Server Properties, Replace Server and Upgrade Firmware.
  MainWindow(ManagerDocument& doc, const QString& title, WizardRunner wizard,
             ServerCommands commands = {}, QWidget* parent = nullptr);

  // Loads the document (search, store, probes) with the window already showing,
  // "Searching for servers..." in the status bar, as a command.
  void LoadDocument();
  // Fills the views from the loaded document; with `open_wizard` the Add Server Wizard
  // is requested once the tree has been filled (posted, so it runs from the event loop).
  void InitialUpdate(bool open_wizard);
  // Rebuilds both views from the model.
  void RebuildViews();

  // The menu action of a command (the first row of the action table that runs it).
  QAction* action(int command_id) const;
  ServerTreeView* tree() const { return tree_; }
  PortListView* list() const { return list_; }
  ActiveView active_view() const { return active_; }
  void SetActiveView(ActiveView v);
  // Enabled state of every action from the document.
  void UpdateActions();

  // Command handlers (public so that tests can drive them like the menus).
  void OnSaveConfiguration();
  void OnAddServerWizard();
  void OnDeleteServer();
  void OnServerProperties();
  void OnReplaceServer();
  void OnUpgradeFirmware();
  void OnMapPort();
  void OnUnMapPort();
  void OnAbout();
  void OnExit();

  // The tree's context menu for server item `item` (menu 133) or, when `on_server` is
  // false, for the root or empty space (menu 139). Modal until the menu closes; then
  // the server the tree highlights is the current one again.
  void ShowTreeContextMenu(int item, bool on_server, QPoint global);

  // Selects the first server item of the tree, as a click on it does.
  void SelectFirstServer();

  // Number of times the wizard ran (for tests of the AddServer start).
  int wizard_runs() const { return wizard_runs_; }
  // True while a command runs.
  bool busy() const { return busy_; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildActions();
  // Adds the table's rows (or a separator for -1) to a menu or toolbar.
  template <class Target, std::size_t N>
  void AddRows(Target* target, const int (&rows)[N]) const;
  void BuildMenus();
  void BuildToolBar();
  void ConnectViews();

  ManagerDocument& doc_;
  WizardRunner wizard_;
  ServerCommands commands_;
  QVector<QAction*> actions_;  // one per row of the action table
  QMenu* port_menu_ = nullptr;
  QSplitter* splitter_ = nullptr;
  ServerTreeView* tree_ = nullptr;
  PortListView* list_ = nullptr;
  ActiveView active_ = ActiveView::PortList;
  int wizard_runs_ = 0;
  bool busy_ = false;
  bool loading_ = false;  // the document loads: every command is disabled
};

}  // namespace zelin::manager
