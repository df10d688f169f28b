#include "portcheck/gui/main_window.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <fstream>

#include "platform/text_format.hpp"
#include "portcheck/gui/config_sheet.hpp"
#include "portcheck/gui/password_window.hpp"
#include "portcheck/gui/report_view.hpp"
#include "portcheck/gui/run_windows.hpp"
#include "portcheck/gui/server_pane.hpp"
#include "ui/artwork.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::portcheck {
namespace {

using ui::ToQString;

// A small picture with a short sign, for the toolbar and the starting text.
QIcon CommandIcon(Command c) {
  const char* sign = "";
  switch (c) {
    case Command::kConfig: sign = "C"; break;
    case Command::kGo: sign = "Go"; break;
    case Command::kServerStatus: sign = "S"; break;
    case Command::kSaveReport: sign = "R"; break;
    case Command::kPrint: sign = "P"; break;
    default: return {};
  }
  QPixmap pm(24, 24);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(40, 90, 160));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(1, 1, 22, 22), 4, 4);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(11);
  p.setFont(f);
  p.drawText(pm.rect(), Qt::AlignCenter, QString::fromUtf8(sign));
  return QIcon(pm);
}

// The file the user names in a Save dialog; empty when the dialog is cancelled.
QString AskSaveFile(QWidget* parent, const QString& caption, const QString& filter,
                    const QString& suffix) {
  QFileDialog dialog(parent, caption, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace

MainWindow::MainWindow(DiagnosticDocument& doc, HostInterfaces& interfaces, DiagSession& session,
                       Prompter& prompter, Clock& clock, QWidget* parent)
    : QMainWindow(parent),
      doc_(doc),
      interfaces_(interfaces),
      session_(session),
      prompter_(prompter),
      clock_(clock),
      printer_(std::make_unique<QPrinter>()) {
  setObjectName(QStringLiteral("PortcheckWindow"));
  setWindowTitle(ToQString(kMainTitle));
  setWindowIcon(ui::SuiteIcon());

  // The action table: every command once, with its menu, toolbar place and prompt.
  std::map<std::string_view, QMenu*> menus;
  for (const CommandInfo& info : Commands()) {
    QString text = ToQString(info.text);
    QString shortcut;
    if (const int tab = static_cast<int>(text.indexOf(QLatin1Char('\t'))); tab >= 0) {
      shortcut = text.mid(tab + 1);
      text = text.left(tab);
    }
    auto* a = new QAction(CommandIcon(info.command), text, this);
    if (!shortcut.isEmpty()) a->setShortcut(QKeySequence(shortcut));
    a->setStatusTip(ToQString(info.prompt));
    actions_[info.command] = a;
    if (!menus.count(info.menu)) menus[info.menu] = menuBar()->addMenu(QLatin1Char('&') + ToQString(info.menu));
    menus[info.menu]->addAction(a);
  }
  connect(action(Command::kConfig), &QAction::triggered, this, &MainWindow::OnConfig);
  connect(action(Command::kGo), &QAction::triggered, this, [this] {
    const bool from_toolbar = go_from_toolbar_;
    go_from_toolbar_ = false;
    OnGo(!from_toolbar);
  });
  connect(action(Command::kServerStatus), &QAction::triggered, this, &MainWindow::OnServerStatus);
  connect(action(Command::kSaveReport), &QAction::triggered, this, &MainWindow::OnSaveReport);
  connect(action(Command::kPrint), &QAction::triggered, this, [this] { OnPrint(false); });
  connect(action(Command::kPrintPreview), &QAction::triggered, this, [this] { OnPrint(true); });
  connect(action(Command::kPrintSetup), &QAction::triggered, this, [this] {
    // The choices stay with the window's printer for Print and Export PDF.
    QPrintDialog(printer_.get(), this).exec();
  });
  connect(action(Command::kExportPdf), &QAction::triggered, this, &MainWindow::OnExportPdf);
  connect(action(Command::kExit), &QAction::triggered, this, &QWidget::close);
  connect(action(Command::kErrorCodeReference), &QAction::triggered, this, &MainWindow::OnErrorCodeReference);
  connect(action(Command::kAbout), &QAction::triggered, this, &MainWindow::OnAbout);

  auto* bar = addToolBar(QStringLiteral("Toolbar"));
  bar->setObjectName(QStringLiteral("toolbar"));
  bar->setMovable(false);
  int group = 0;
  for (Command c : ToolbarCommands()) {
    for (const CommandInfo& info : Commands())
      if (info.command == c) {
        if (group != 0 && info.toolbar_group != group) bar->addSeparator();
        group = info.toolbar_group;
      }
    bar->addAction(action(c));
  }
  if (auto* go = qobject_cast<QToolButton*>(bar->widgetForAction(action(Command::kGo))))
    connect(go, &QToolButton::pressed, this, [this] { go_from_toolbar_ = true; });
  caption_ = new QLabel(this);
  caption_->setObjectName(QStringLiteral("Caption"));
  caption_->setFixedHeight(34);
  caption_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  caption_->setIndent(12);
  QFont cf = caption_->font();
  cf.setBold(true);
  caption_->setFont(cf);
  bar->addWidget(caption_);
  statusBar();

  auto* dock = new QDockWidget(ToQString(kServerPaneTitle), this);
  dock->setObjectName(QStringLiteral("ServerPane"));
  dock->setFeatures(QDockWidget::DockWidgetMovable);
  pane_ = new ServerPane(dock);
  list_ = pane_->list();
  dock->setWidget(pane_);
  addDockWidget(Qt::LeftDockWidgetArea, dock);
  resizeDocks({dock}, {kPaneDefaultWidth}, Qt::Horizontal);
  connect(pane_, &ServerPane::widthDragged, this,
          [this, dock](int width) { resizeDocks({dock}, {width}, Qt::Horizontal); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!doc_.model.report_mode() || row < 0) return;
    doc_.model.SelectServer(row);
    Redraw();
  });

  view_ = new ReportView;
  connect(view_, &ReportView::errorCodeClicked, this, [this](int code) {
    prompter_.Message(Format("%s : %s", ErrorCodeText(code).c_str(), DescribeError(code).c_str()),
                      MsgButtons::Ok, MsgIcon::Information, "Error code reference");
  });
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(view_);
  scroll->setWidgetResizable(true);
  setCentralWidget(scroll);
  resize(760, 520);
  RefreshList();
  Redraw();
}

PasswordDialogRunner MainWindow::DialogRunner() {
  return password_window_ ? GuiThreadPasswordWindowRunner(this)
                          : GuiThreadPasswordRunner(this, prompter_);
}

void MainWindow::Start() {
  if (doc_.live.server_count > 0) {
    RunStatusCheck();
    clock_.SleepMs(100);
  }
  doc_.model.RefreshList(false);
  RefreshList();
  Redraw();
}

void MainWindow::RunStatusCheck() {
  StatusCheck check(doc_.live, interfaces_, session_, prompter_, DialogRunner());
  StatusCheckDialog dialog(check, this);
  dialog.exec();
}

void MainWindow::UpdateCommands() {
  for (auto& [command, a] : actions_) a->setEnabled(doc_.model.IsEnabled(command));
}

void MainWindow::RefreshList() {
  pane_->Show(doc_.model.server_list(), doc_.model.highlight_selection(),
              doc_.model.report_mode() ? doc_.model.report_server() : -1);
  caption_->setText(ToQString(doc_.model.caption()));
  UpdateCommands();
}

void MainWindow::Redraw() {
  if (doc_.model.report_mode()) {
    const int s = doc_.model.report_server();
    view_->ShowReport(LayoutReport(doc_.live, s, doc_.stores[static_cast<size_t>(s)], doc_.test_time_line));
  } else {
    view_->ShowStartingText(CommandIcon(Command::kConfig).pixmap(24, 24),
                            CommandIcon(Command::kGo).pixmap(24, 24));
  }
}

void MainWindow::RunEnded(bool cancelled, std::span<const ServerMark> marks) {
  doc_.model.RunEnded(cancelled, marks);
  RefreshList();
  Redraw();
}

void MainWindow::OnConfig() {
  doc_.model.ConfigOpened();
  caption_->clear();
  DiagConfig working = doc_.live;
  ConfigSheet sheet(working, doc_.search, interfaces_, session_, prompter_, DialogRunner(), doc_.com, this);
  if (sheet.exec() != QDialog::Accepted) return;
  doc_.live = working;
  doc_.model.ConfigAccepted();
  RefreshList();
  Redraw();
}

void MainWindow::OnGo(bool from_menu) {
  if (prompter_.Message(MainWindowModel::GoQuestion(from_menu), MsgButtons::OkCancel,
                        MsgIcon::Warning) != MsgAnswer::Ok)
    return;
  TestRun run(doc_.live, doc_.stores, interfaces_, session_, clock_);
  {
    TestStatusDialog dialog(run, this);
    dialog.exec();
  }
  doc_.test_time_line = run.test_time_line();
  const TestStatusSnapshot s = run.Snapshot();
  RunEnded(!run.completed(), s.marks);  // the worker's outcome, not the button
}

void MainWindow::OnServerStatus() {
  RunStatusCheck();
  ServerStatusDialog(ServerStatusLines(doc_.live, doc_.com), this).exec();
  doc_.model.StatusCheckEnded();
  RefreshList();
}

void MainWindow::OnSaveReport() {
  const QString path = AskSaveFile(this, QStringLiteral("Save Zelin Server Diagnostic Report"),
                                   QStringLiteral("Text File(*.txt)"), QStringLiteral("txt"));
  if (path.isEmpty()) return;
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  const std::string text = TextReport(doc_.live, doc_.stores, doc_.test_time_line);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));  // failures end silently
}

void MainWindow::OnPrint(bool preview) {
  const auto& layout = view_->layout();
  if (!layout) return;
  QPrinter& printer = *printer_;
  printer.setOutputFormat(QPrinter::NativeFormat);
  printer.setOutputFileName(QString());
  if (preview) {
    QPrintPreviewDialog dialog(&printer, this);
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [&layout](QPrinter* p) { ReportView::Print(*layout, p); });
    dialog.exec();
    return;
  }
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() == QDialog::Accepted) ReportView::Print(*layout, &printer);
}

bool MainWindow::ExportPdf(const QString& path) {
  const auto& layout = view_->layout();
  if (!layout) return false;
  QPrinter pdf(QPrinter::HighResolution);
  pdf.setOutputFormat(QPrinter::PdfFormat);
  pdf.setPageLayout(printer_->pageLayout());
  pdf.setOutputFileName(path);
  ReportView::Print(*layout, &pdf);
  return QFileInfo(path).size() > 0;
}

void MainWindow::OnExportPdf() {
  const QString path = AskSaveFile(this, QStringLiteral("Export Zelin Server Diagnostic Report"),
                                   QStringLiteral("PDF File(*.pdf)"), QStringLiteral("pdf"));
  if (path.isEmpty()) return;
  if (!ExportPdf(path))
    prompter_.Message("Cannot write " + path.toStdString(), MsgButtons::Ok, MsgIcon::Warning);
}

void MainWindow::OnErrorCodeReference() {
  // The program's own reference: every code that has a text.
  std::string text;
  for (int code = 1; code <= 60; ++code) {
    const std::string d = DescribeError(code);
    if (d.rfind("Unknow error", 0) == 0) continue;
    text += ErrorCodeText(code) + " : " + d + "\n";
  }
  prompter_.Message(text, MsgButtons::Ok, MsgIcon::Information, "Error code reference");
}

void MainWindow::OnAbout() {
  prompter_.Message(kAboutLine, MsgButtons::Ok, MsgIcon::Information, kAboutTitle);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  doc_.Save();
  QMainWindow::closeEvent(event);
}

}  // namespace zelin::portcheck
