#include "monitor/gui/main_window.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "monitor/gui/configuration_dialog.hpp"
#include "monitor/gui/port_status_dialog.hpp"
#include "ui/artwork.hpp"

namespace zelin::monitor {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

QIcon MonitorCommandIcon(Command id) {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(40, 60, 110);
  p.setPen(QPen(ink, 1.5));
  switch (id) {
    case Command::kLoadConfiguration:  // an open folder
      p.setBrush(QColor(240, 200, 90));
      p.drawPolygon(QPolygonF({{3, 7}, {9, 7}, {11, 9}, {20, 9}, {20, 19}, {3, 19}}));
      break;
    case Command::kSaveConfiguration:  // a disk
      p.setBrush(QColor(90, 120, 190));
      p.drawRect(4, 4, 16, 16);
      p.setBrush(Qt::white);
      p.drawRect(7, 4, 10, 6);
      break;
    case Command::kConfigure:  // a list with ticks
      p.setBrush(Qt::white);
      p.drawRect(4, 3, 16, 18);
      for (int y = 7; y <= 17; y += 5) p.drawLine(8, y, 17, y);
      break;
    case Command::kRefreshMonitor: {  // a circular arrow
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(QColor(30, 140, 60), 2.5));
      p.drawArc(QRectF(5, 5, 14, 14), 30 * 16, 300 * 16);
      p.drawLine(QPointF(18, 5), QPointF(18.5, 10));
      p.drawLine(QPointF(18.5, 10), QPointF(13.5, 9));
      break;
    }
    case Command::kPortStatus:  // a small meter
      p.setBrush(Qt::black);
      p.drawRect(3, 4, 18, 16);
      p.setPen(QPen(QColor(0, 255, 0), 2));
      for (int y = 16; y >= 8; y -= 4) p.drawLine(8, y, 16, y);
      break;
    case Command::kResetPort:  // a serial connector
      p.setBrush(QColor(200, 200, 210));
      p.drawPolygon(QPolygonF({{3, 7}, {21, 7}, {18, 17}, {6, 17}}));
      p.setBrush(ink);
      for (int x = 7; x <= 16; x += 3) p.drawEllipse(QPointF(x, 11), 1, 1);
      break;
    case Command::kResetServer:
      return ui::ServerIcon();
    case Command::kExit:
    case Command::kHelpTopics:
    case Command::kAbout:  // a question mark
      p.setBrush(QColor(255, 255, 220));
      p.drawEllipse(3, 3, 18, 18);
      p.setFont(QFont(p.font().family(), 11, QFont::Bold));
      p.drawText(QRect(3, 3, 18, 18), Qt::AlignCenter, QStringLiteral("?"));
      break;
  }
  return QIcon(pixmap);
}

MonitorWindow::MonitorWindow(MonitorState& state, MonitorDocument& doc, ServerFinder& finder,
                             Prompter& prompter, RowCommands row_commands, QWidget* parent)
    : QMainWindow(parent),
      state_(state),
      doc_(doc),
      finder_(finder),
      prompter_(prompter),
      row_commands_(std::move(row_commands)) {
  setObjectName(QStringLiteral("MonitorWindow"));
  setWindowIcon(ui::SuiteIcon());
  list_ = new StatusListView([this](int row) {
    const MonitoredServer* server = state_.ServerOfRow(row);
    return server ? LoadState(*server) : kStateAnswered;
  });
  setCentralWidget(list_);

  // Menus and toolbar from the one command table.
  std::map<Menu, QMenu*> menus;
  menus[Menu::kFile] = file_menu_ = menuBar()->addMenu(QStringLiteral("&File"));
  menus[Menu::kMonitor] = menuBar()->addMenu(QStringLiteral("&Monitor"));
  menus[Menu::kHelp] = menuBar()->addMenu(QStringLiteral("&Help"));
  QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
  bar->setObjectName(QStringLiteral("toolbar"));
  bar->setIconSize(QSize(24, 24));
  for (const CommandEntry& entry : CommandTable()) {
    auto* a = new QAction(MonitorCommandIcon(entry.id), Q(entry.text), this);
    a->setStatusTip(Q(entry.status_tip));
    if (!entry.tool_tip.empty()) a->setToolTip(Q(entry.tool_tip));
    if (!entry.shortcut.empty()) a->setShortcut(QKeySequence(Q(entry.shortcut)));
    connect(a, &QAction::triggered, this, [this, id = entry.id] { Run(id); });
    actions_[entry.id] = a;
    if (entry.id == Command::kExit) menus[entry.menu]->addSeparator();
    menus[entry.menu]->addAction(a);
    if (entry.id == Command::kExit) recent_anchor_ = a;
    if (entry.on_toolbar) {
      if (entry.toolbar_gap_before) bar->addSeparator();
      bar->addAction(a);
    }
  }
  for (const auto& [menu_id, menu] : menus)
    connect(menu, &QMenu::aboutToShow, this, &MonitorWindow::UpdateActions);

  connect(list_, &StatusListView::rowActivated, this, [this](int) {
    if (IsEnabled(Command::kPortStatus, state_, list_->SelectedRow())) OnPortStatus();
  });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &MonitorWindow::UpdateActions);
  statusBar()->showMessage(QStringLiteral("Ready"));
  resize(760, 420);
  UpdateDocument();
  UpdateActions();
}

void MonitorWindow::Run(Command id) {
  UpdateActions();
  if (!actions_.at(id)->isEnabled()) return;
  switch (id) {
    case Command::kLoadConfiguration: OnLoadConfiguration(); break;
    case Command::kSaveConfiguration: OnSaveConfiguration(); break;
    case Command::kExit: close(); break;
    case Command::kConfigure: OnConfigure(); break;
    case Command::kRefreshMonitor: OnRefreshMonitor(); break;
    case Command::kPortStatus: OnPortStatus(); break;
    case Command::kResetPort: OnResetPort(); break;
    case Command::kResetServer: OnResetServer(); break;
    case Command::kHelpTopics: OnHelpTopics(); break;
    case Command::kAbout: OnAbout(); break;
  }
  UpdateActions();
}

void MonitorWindow::UpdateActions() {
  const int row = list_->SelectedRow();
  for (const auto& [id, a] : actions_) a->setEnabled(IsEnabled(id, state_, row));
}

void MonitorWindow::UpdateDocument() {
  setWindowTitle(QString::fromStdString(doc_.Title()));
  BuildRecentFiles();
}

void MonitorWindow::BuildRecentFiles() {
  for (QAction* a : recent_actions_) {
    file_menu_->removeAction(a);
    a->deleteLater();
  }
  recent_actions_.clear();
  int n = 0;
  for (const auto& path : doc_.recent().entries()) {
    auto* a = new QAction(QStringLiteral("&%1 %2").arg(++n).arg(QString::fromStdString(path.string())), this);
    connect(a, &QAction::triggered, this, [this, path] {
      doc_.OpenFile(path);
      UpdateDocument();
    });
    file_menu_->insertAction(recent_anchor_, a);
    recent_actions_.push_back(a);
  }
  if (!recent_actions_.empty()) {
    QAction* separator = file_menu_->insertSeparator(recent_anchor_);
    recent_actions_.push_back(separator);
  }
}

void MonitorWindow::OnLoadConfiguration() {
  doc_.LoadCommand();
  UpdateDocument();
}

void MonitorWindow::OnSaveConfiguration() {
  doc_.SaveConfiguration();
  UpdateDocument();
}

void MonitorWindow::OnConfigure() {
  // The monitoring passed to the sheet is the document's, through the state it shares.
  ConfigurationSheet sheet(state_, doc_.monitoring(), finder_, prompter_);
  ConfigurationDialog dialog(sheet, this);
  dialog.exec();
}

void MonitorWindow::OnRefreshMonitor() { doc_.Refresh(); }

void MonitorWindow::OnPortStatus() {
  const int row = list_->SelectedRow();
  if (!IsEnabled(Command::kPortStatus, state_, row)) return;
  const Row& r = state_.rows[static_cast<size_t>(row)];
  PortStatusModel model(state_.in_use->servers[r.server], r.port, *state_.found, state_.mappings,
                        state_.records_mutex);
  PortStatusDialog dialog(model, state_.in_use->interval, this);
  dialog.exec();
}

RowCommands ResetRowCommands(MonitorState& state, ResetCommands& resets) {
  auto run = [&state, &resets](ResetKind kind, int row) {
    const MonitoredServer* server = state.ServerOfRow(row);
    const size_t port = server != nullptr ? state.rows[static_cast<size_t>(row)].port : 0;
    resets.Run(kind, server, port);
  };
  return {[run](int row) { run(ResetKind::kPort, row); },
          [run](int row) { run(ResetKind::kServer, row); }};
}

void MonitorWindow::OnResetPort() {
  if (row_commands_.reset_port) row_commands_.reset_port(list_->SelectedRow());
}

void MonitorWindow::OnResetServer() {
  if (row_commands_.reset_server) row_commands_.reset_server(list_->SelectedRow());
}

void MonitorWindow::OnHelpTopics() {
  prompter_.Message("No help file is installed.", MsgButtons::Ok, MsgIcon::Information);
}

void MonitorWindow::OnAbout() {
  QDialog about(this);
  about.setWindowTitle(Q(kAboutCaption));
  auto* icon = new QLabel;
  icon->setPixmap(ui::SuiteIcon().pixmap(32, 32));
  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(new QLabel(Q(kAboutText)), 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
  auto* layout = new QVBoxLayout(&about);
  layout->addLayout(row);
  layout->addWidget(buttons);
  about.exec();
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
  if (doc_.CanClose())
    event->accept();
  else
    event->ignore();
}

}  // namespace zelin::monitor
