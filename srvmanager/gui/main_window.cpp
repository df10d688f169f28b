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

  AddCommand(kCmdSaveConfiguration, QStringLiteral("&Save Configuration"),
             &MainWindow::OnSaveConfiguration);
  AddCommand(kCmdAddServerWizard, QStringLiteral("&Add Server Wizard"),
             &MainWindow::OnAddServerWizard);
  AddCommand(kCmdDeleteServer, QStringLiteral("&Delete Server"), &MainWindow::OnDeleteServer);
  AddCommand(kCmdServerProperties, QStringLiteral("Server &Properties"),
             &MainWindow::OnServerProperties);
  AddCommand(kCmdReplaceServer, QStringLiteral("&Replace Server..."), &MainWindow::OnReplaceServer);
  AddCommand(kCmdUpgradeFirmware, QStringLiteral("&Upgrade Firmware"),
             &MainWindow::OnUpgradeFirmware);
  AddCommand(kCmdMapPort, QStringLiteral("&Map Port"), &MainWindow::OnMapPort);
  AddCommand(kCmdUnMapPort, QStringLiteral("&UnMap Port"), &MainWindow::OnUnMapPort);
  about_ = new QAction(CommandIcon(0), QStringLiteral("&About Zelin Server Pro Manager..."), this);
  about_->setToolTip(QStringLiteral("About"));
  about_->setStatusTip(QStringLiteral("Display program information, version number and copyright"));
  connect(about_, &QAction::triggered, this, &MainWindow::OnAbout);

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

QAction* MainWindow::AddCommand(int id, const QString& text, void (MainWindow::*handler)()) {
  auto* a = new QAction(CommandIcon(id), text, this);
  a->setStatusTip(ui::ToQString(CommandStatusText(id)));
  const QString tip = ui::ToQString(CommandToolTip(id));
  if (!tip.isEmpty()) a->setToolTip(tip);
  a->setData(id);
  connect(a, &QAction::triggered, this, handler);
  actions_.insert(id, a);
  return a;
}

void MainWindow::BuildMenus() {
  QMenu* server = menuBar()->addMenu(QStringLiteral("&Server"));
  server->addAction(action(kCmdSaveConfiguration));
  server->addAction(action(kCmdAddServerWizard));
  server->addAction(action(kCmdDeleteServer));
  server->addAction(action(kCmdServerProperties));
  server->addAction(action(kCmdReplaceServer));
  server->addAction(action(kCmdUpgradeFirmware));
  server->addSeparator();
  QAction* exit = server->addAction(QStringLiteral("E&xit"));
  exit->setStatusTip(QStringLiteral("Quit the application; prompts to save documents"));
  connect(exit, &QAction::triggered, this, &QWidget::close);

  port_menu_ = menuBar()->addMenu(QStringLiteral("&Port"));
  port_menu_->addAction(action(kCmdMapPort));
  port_menu_->addAction(action(kCmdUnMapPort));
  // "Port Properties" runs the same command as Map Port.
  QAction* port_properties = port_menu_->addAction(QStringLiteral("&Port Properties"));
  port_properties->setData(kCmdMapPort);
  port_properties->setStatusTip(action(kCmdMapPort)->statusTip());
  connect(port_properties, &QAction::triggered, this, &MainWindow::OnMapPort);
  connect(action(kCmdMapPort), &QAction::changed, port_properties, [this, port_properties] {
    port_properties->setEnabled(action(kCmdMapPort)->isEnabled());
  });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(about_);
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
  bar->addAction(action(kCmdSaveConfiguration));
  bar->addAction(action(kCmdAddServerWizard));
  bar->addAction(action(kCmdDeleteServer));
  bar->addSeparator();
  bar->addAction(action(kCmdMapPort));
  bar->addAction(action(kCmdUnMapPort));
  bar->addSeparator();
  bar->addAction(action(kCmdServerProperties));
  bar->addAction(action(kCmdUpgradeFirmware));
  bar->addSeparator();
  bar->addAction(about_);
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
  for (auto it = actions_.cbegin(); it != actions_.cend(); ++it)
    it.value()->setEnabled(doc_.rules().IsEnabled(it.key(), active_));
}

void MainWindow::LoadDocument() {
  if (busy_) return;
  const QScopedValueRollback<bool> running(busy_, true);
  statusBar()->showMessage(QStringLiteral("Searching for servers..."));
  doc_.Load();
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
  if (on_server) {
    menu.setTitle(QStringLiteral("&Server"));
    // The item under the mouse becomes the current server, without moving the
    // tree's own selection.
    doc_.server_tree().SelectTreeItem(item);
    list_->Refill(doc_);
    struct Entry {
      int id;
      const char* text;
      void (MainWindow::*handler)();
    };
    const Entry entries[] = {
        {kCmdCtxDeleteServer, "&Delete Server", &MainWindow::OnDeleteServer},
        {kCmdCtxServerProperties, "Server &Properties", &MainWindow::OnServerProperties},
        {kCmdCtxReplaceServer, "&Replace Server...", &MainWindow::OnReplaceServer},
        {kCmdCtxUpgradeFirmware, "&Upgrade Firmware", &MainWindow::OnUpgradeFirmware},
    };
    for (const Entry& e : entries) {
      if (e.id == kCmdCtxUpgradeFirmware) menu.addSeparator();
      QAction* a = menu.addAction(QString::fromLatin1(e.text));
      a->setData(e.id);
      a->setEnabled(doc_.rules().IsContextEnabled(e.id));
      connect(a, &QAction::triggered, this, e.handler);
    }
  } else {
    menu.setTitle(QStringLiteral("Add Server"));
    QAction* a = menu.addAction(QStringLiteral("&Add Server Wizard..."));
    a->setData(kCmdAddServerWizard);
    connect(a, &QAction::triggered, this, &MainWindow::OnAddServerWizard);
  }
  menu.exec(global);
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
