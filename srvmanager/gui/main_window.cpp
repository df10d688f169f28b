#include "srvmanager/gui/main_window.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScopedValueRollback>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "srvmanager/core/strings.hpp"
#include "srvmanager/gui/dialogs.hpp"
#include "srvmanager/gui/icons.hpp"
#include "srvmanager/gui/server_commands.hpp"
#include "srvmanager/gui/views.hpp"
#include "ui/artwork.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {

MainWindow::MainWindow(ManagerDocument& doc, const QString& title, WizardRunner wizard,
                       ServerCommands commands, QWidget* parent)
    : QMainWindow(parent), doc_(doc), wizard_(std::move(wizard)), commands_(std::move(commands)) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(title);
  setWindowIcon(ui::SuiteIcon());

  BuildActions();

  splitter_ = new QSplitter(Qt::Horizontal, this);
  tree_ = new ServerTreeView(splitter_);
  list_ = new PortListView(splitter_);
  splitter_->addWidget(tree_);
  splitter_->addWidget(list_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({200, 440});
  tree_->setMinimumHeight(50);
  setCentralWidget(splitter_);

  BuildMenus();
  BuildToolBar();
  statusBar()->showMessage(QStringLiteral("Ready"));
  connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
    if (text.isEmpty()) statusBar()->showMessage(QStringLiteral("Ready"));
  });
  ConnectViews();
  resize(660, 420);
  SetActiveView(ActiveView::PortList);
}

// --- the action table -------------------------------------------------------------------
//
// Every command of the window is one row here; the menus, the toolbar and the tree's
// context menus are lists of rows, so a command's text, tips and enabling live in one place.

namespace {

// How a row's enabled state is decided.
enum class Rule { kMenu, kContext, kAlways };

enum Row : int {
  kRowSave,
  kRowAddWizard,
  kRowDelete,
  kRowProperties,
  kRowReplace,
  kRowUpgrade,
  kRowExit,
  kRowMapPort,
  kRowUnMapPort,
  kRowPortProperties,  // "Port Properties" runs the same command as Map Port
  kRowAbout,
  kRowCtxDelete,
  kRowCtxProperties,
  kRowCtxReplace,
  kRowCtxUpgrade,
  kRowCtxAddWizard,
  kRowCount
};
constexpr int kSeparator = -1;

struct ActionRow {
  int command;  // command id; 0 for the window's own commands
  Rule rule;
  const char* text;
  void (MainWindow::*handler)();
  bool icon;  // shows the command's toolbar picture
};

const ActionRow& TableRow(int row) {
  static const ActionRow kRows[kRowCount] = {
      {kCmdSaveConfiguration, Rule::kMenu, "&Save Configuration", &MainWindow::OnSaveConfiguration, true},
      {kCmdAddServerWizard, Rule::kMenu, "&Add Server Wizard", &MainWindow::OnAddServerWizard, true},
      {kCmdDeleteServer, Rule::kMenu, "&Delete Server", &MainWindow::OnDeleteServer, true},
      {kCmdServerProperties, Rule::kMenu, "Server &Properties", &MainWindow::OnServerProperties, true},
      {kCmdReplaceServer, Rule::kMenu, "&Replace Server...", &MainWindow::OnReplaceServer, true},
      {kCmdUpgradeFirmware, Rule::kMenu, "&Upgrade Firmware", &MainWindow::OnUpgradeFirmware, true},
      {0, Rule::kAlways, "E&xit", &MainWindow::OnExit, false},
      {kCmdMapPort, Rule::kMenu, "&Map Port", &MainWindow::OnMapPort, true},
      {kCmdUnMapPort, Rule::kMenu, "&UnMap Port", &MainWindow::OnUnMapPort, true},
      {kCmdMapPort, Rule::kMenu, "&Port Properties", &MainWindow::OnMapPort, false},
      {0, Rule::kAlways, "&About Zelin Server Pro Manager...", &MainWindow::OnAbout, true},
      {kCmdCtxDeleteServer, Rule::kContext, "&Delete Server", &MainWindow::OnDeleteServer, false},
      {kCmdCtxServerProperties, Rule::kContext, "Server &Properties", &MainWindow::OnServerProperties, false},
      {kCmdCtxReplaceServer, Rule::kContext, "&Replace Server...", &MainWindow::OnReplaceServer, false},
      {kCmdCtxUpgradeFirmware, Rule::kContext, "&Upgrade Firmware", &MainWindow::OnUpgradeFirmware, false},
      {kCmdAddServerWizard, Rule::kAlways, "&Add Server Wizard...", &MainWindow::OnAddServerWizard, false},
  };
  return kRows[row];
}

constexpr int kServerMenu[] = {kRowSave,    kRowAddWizard, kRowDelete, kRowProperties,
                               kRowReplace, kRowUpgrade,   kSeparator, kRowExit};
constexpr int kPortMenu[] = {kRowMapPort, kRowUnMapPort, kRowPortProperties};
constexpr int kHelpMenu[] = {kRowAbout};
constexpr int kToolBar[] = {kRowSave,       kRowAddWizard, kRowDelete, kSeparator,
                            kRowMapPort,    kRowUnMapPort, kSeparator, kRowProperties,
                            kRowUpgrade,    kSeparator,    kRowAbout};
// Menu 133 on a server item, menu 139 on the root or empty space.
constexpr int kServerItemMenu[] = {kRowCtxDelete, kRowCtxProperties, kRowCtxReplace, kSeparator,
                                   kRowCtxUpgrade};
constexpr int kBackgroundMenu[] = {kRowCtxAddWizard};

}  // namespace

void MainWindow::BuildActions() {
  actions_.resize(kRowCount);
  for (int row = 0; row < kRowCount; ++row) {
    const ActionRow& r = TableRow(row);
    auto* a = new QAction(QString::fromLatin1(r.text), this);
    if (r.icon) a->setIcon(CommandIcon(r.command));
    a->setData(r.command);
    if (r.rule != Rule::kContext) {
      a->setStatusTip(ui::ToQString(CommandStatusText(r.command)));
      const QString tip = ui::ToQString(CommandToolTip(r.command));
      if (!tip.isEmpty()) a->setToolTip(tip);
    }
    connect(a, &QAction::triggered, this, r.handler);
    actions_[row] = a;
  }
  actions_[kRowExit]->setStatusTip(QStringLiteral("Quit the application; prompts to save documents"));
  actions_[kRowAbout]->setToolTip(QStringLiteral("About"));
  actions_[kRowAbout]->setStatusTip(
      QStringLiteral("Display program information, version number and copyright"));
}

template <class Target, std::size_t N>
void MainWindow::AddRows(Target* target, const int (&rows)[N]) const {
  for (int row : rows) {
    if (row == kSeparator)
      target->addSeparator();
    else
      target->addAction(actions_[row]);
  }
}

QAction* MainWindow::action(int command_id) const {
  for (int row = 0; row < kRowCount; ++row)
    if (TableRow(row).command == command_id) return actions_.value(row);
  return nullptr;
}

void MainWindow::BuildMenus() {
  QMenu* server = menuBar()->addMenu(QStringLiteral("&Server"));
  AddRows(server, kServerMenu);
  port_menu_ = menuBar()->addMenu(QStringLiteral("&Port"));
  AddRows(port_menu_, kPortMenu);
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  AddRows(help, kHelpMenu);
  // Enabled states are computed when a menu opens, as when a command is displayed.
  for (QMenu* m : {server, port_menu_, help})
    connect(m, &QMenu::aboutToShow, this, &MainWindow::UpdateActions);
}

void MainWindow::BuildToolBar() {
  QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
  bar->setObjectName(QStringLiteral("toolbar"));
  bar->setIconSize(QSize(24, 24));
  bar->setMovable(true);
  bar->setAllowedAreas(Qt::AllToolBarAreas);
  AddRows(bar, kToolBar);
}

void MainWindow::ConnectViews() {
  connect(tree_, &ServerTreeView::activated, this, [this] { SetActiveView(ActiveView::Tree); });
  connect(list_, &PortListView::activated, this, [this] { SetActiveView(ActiveView::PortList); });
  connect(tree_, &ServerTreeView::itemSelected, this, [this](int item) {
    doc_.server_tree().SelectTreeItem(item);
    list_->Refill(doc_);
    UpdateActions();
  });
  connect(tree_, &ServerTreeView::actingOnSelection, this, [this] {
    QTreeWidgetItem* current = tree_->currentItem();
    const int item = ServerTreeView::ItemIndex(current);
    if (busy_ || current == nullptr || doc_.server_tree().selected_item() == item) return;
    doc_.server_tree().SelectTreeItem(item);
    list_->Refill(doc_);
    UpdateActions();
  });
  connect(tree_, &ServerTreeView::itemDoubleClicked, this, [this](int item) {
    if (busy_) return;
    bool online;
    {
      const QScopedValueRollback<bool> running(busy_, true);  // probes an offline server
      online = doc_.server_tree().ActivateTreeItem(item);
    }
    tree_->UpdateItem(doc_, item);
    if (online) {
      OnServerProperties();
    } else {
      list_->Refill(doc_);
      UpdateActions();
    }
  });
  connect(tree_, &ServerTreeView::deletePressed, this, &MainWindow::OnDeleteServer);
  connect(tree_, &ServerTreeView::contextMenuAt, this, &MainWindow::ShowTreeContextMenu);
  connect(list_, &PortListView::rowSelected, this, [this](int row) {
    doc_.server_tree().SelectPortRow(row);
    UpdateActions();
  });
  connect(list_, &PortListView::rowDoubleClicked, this, [this](int row) {
    doc_.server_tree().SelectPortRow(row);
    if (doc_.ports().PortRowOpensMapPort(row)) OnMapPort();
  });
  connect(list_, &PortListView::contextMenuAt, this, [this](QPoint global) {
    if (busy_) return;
    SetActiveView(ActiveView::PortList);
    port_menu_->exec(global);
  });
}

void MainWindow::SetActiveView(ActiveView v) {
  active_ = v;
  UpdateActions();
}

void MainWindow::UpdateActions() {
  for (int row = 0; row < kRowCount; ++row) {
    const ActionRow& r = TableRow(row);
    if (loading_ && r.command != 0) {
      actions_[row]->setEnabled(false);
      continue;
    }
    switch (r.rule) {
      case Rule::kMenu:
        actions_[row]->setEnabled(doc_.rules().IsEnabled(r.command, active_));
        break;
      case Rule::kContext:
        actions_[row]->setEnabled(doc_.rules().IsContextEnabled(r.command));
        break;
      case Rule::kAlways:
        actions_[row]->setEnabled(true);
        break;
    }
  }
}

void MainWindow::LoadDocument() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  // No command is offered until the tree shows what the load found.
  const QScopedValueRollback<bool> loading(loading_, true);
  UpdateActions();
  statusBar()->showMessage(QStringLiteral("Searching for servers..."));
  doc_.server_tree().SetProbeProgress([this](int silent) {
    statusBar()->showMessage(
        silent == 1 ? QStringLiteral("Looking for 1 server that did not answer...")
                    : QStringLiteral("Looking for %1 servers that did not answer...").arg(silent));
  });
  doc_.Load();
  doc_.server_tree().SetProbeProgress({});
  statusBar()->clearMessage();  // back to "Ready"
}

void MainWindow::InitialUpdate(bool open_wizard) {
  RebuildViews();
  list_->setFocus();
  SetActiveView(ActiveView::PortList);
  if (open_wizard) {
    // Posted, so that the wizard opens from the event loop once the window shows.
    QTimer::singleShot(0, this, [this] { OnAddServerWizard(); });
  }
}

void MainWindow::RebuildViews() {
  tree_->Rebuild(doc_);
  list_->Refill(doc_);
  UpdateActions();
}

void MainWindow::SelectFirstServer() {
  QTreeWidgetItem* root = tree_->topLevelItem(0);
  if (root != nullptr && root->childCount() > 0) tree_->setCurrentItem(root->child(0));
}

void MainWindow::ShowTreeContextMenu(int item, bool on_server, QPoint global) {
  if (busy_) return;
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("TreeContextMenu"));
  if (!on_server) {
    menu.setTitle(QStringLiteral("Add Server"));
    AddRows(&menu, kBackgroundMenu);
    menu.exec(global);
    return;
  }
  menu.setTitle(QStringLiteral("&Server"));
  // The item under the mouse is the current server while the menu is open, without
  // moving the tree's own selection; the chosen command runs before exec() returns.
  doc_.server_tree().ContextMenuOpened(item);
  list_->Refill(doc_);
  UpdateActions();
  AddRows(&menu, kServerItemMenu);
  menu.exec(global);
  // Then the highlighted server is the current one again, for the toolbar and menus.
  doc_.server_tree().ContextMenuClosed(ServerTreeView::ItemIndex(tree_->currentItem()));
  list_->Refill(doc_);
  UpdateActions();
}

// --- commands ---------------------------------------------------------------------------

void MainWindow::OnSaveConfiguration() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  doc_.writer().SaveConfiguration();
  UpdateActions();
}

void MainWindow::OnAddServerWizard() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  ++wizard_runs_;
  int result = 0;
  if (wizard_) {
    result = wizard_(&doc_.wizard().Arguments());
  }
  doc_.wizard().WizardReturned(result);
  RebuildViews();
}

void MainWindow::OnDeleteServer() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  doc_.DeleteServer();
  RebuildViews();
}

void MainWindow::OnServerProperties() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  auto& hook = commands_.server_properties;
  if (hook && hook(doc_, this)) {
    tree_->UpdateItem(doc_, doc_.server_tree().selected_item());
    list_->Refill(doc_);
  }
  UpdateActions();
}

void MainWindow::OnReplaceServer() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  auto& hook = commands_.replace_server;
  if (hook && hook(doc_, this)) RebuildViews();
  UpdateActions();
}

void MainWindow::OnUpgradeFirmware() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  auto& hook = commands_.upgrade_firmware;
  if (hook) hook(doc_, this);
  UpdateActions();
}

void MainWindow::OnMapPort() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  std::optional<MapPortChoice> initial = doc_.ports().BeginMapPort();
  if (!initial) return;
  MapPortDialog dialog(*initial, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const int row = doc_.server_tree().selected_port();
  doc_.ports().FinishMapPort(dialog.choice());
  doc_.server_tree().SelectPortRow(row);
  list_->Refill(doc_);
  UpdateActions();
}

void MainWindow::OnUnMapPort() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  const int row = doc_.server_tree().selected_port();
  doc_.ports().UnMapPort();
  doc_.server_tree().SelectPortRow(row);
  list_->Refill(doc_);
  UpdateActions();
}

void MainWindow::OnExit() { close(); }

void MainWindow::OnAbout() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  QDialog box(this);
  box.setObjectName(QStringLiteral("AboutDialog"));
  box.setWindowTitle(ui::ToQString(kAboutTitle));
  auto* layout = new QHBoxLayout(&box);
  auto* icon = new QLabel;
  icon->setPixmap(ui::SuiteIcon().pixmap(32, 32));
  layout->addWidget(icon, 0, Qt::AlignTop);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel(ui::ToQString(kAboutVersion)));
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(ok, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  right->addWidget(ok);
  layout->addLayout(right);
  box.exec();
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (busy_) {  // a command is running: it is not left half done
    e->ignore();
    return;
  }
  const QScopedValueRollback<bool> running(busy_, true);
  if (doc_.CanClose()) {
    e->accept();
  } else {
    e->ignore();
  }
}

}  // namespace zelin::manager
