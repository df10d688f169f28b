#pragma once
// The diagnostic program's main window, "Zelin Server Diagnostics": one action table
// (portcheck/core/main_window_model.hpp) builds the menus and the toolbar; the pane
// "To be tested..." lists the configured servers with their marks; the view shows the
// starting text or the selected server's report. Every decision is the core's; this
// window binds and forwards.

#include <QMainWindow>
#include <QPrinter>
#include <map>
#include <memory>

#include "platform/clock.hpp"
#include "platform/prompter.hpp"
#include "portcheck/core/diagnostic_document.hpp"
#include "portcheck/core/session.hpp"

class QAction;
class QLabel;
class QListWidget;

namespace zelin::portcheck {

class ReportView;
class ServerPane;

class MainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow(DiagnosticDocument& doc, HostInterfaces& interfaces, DiagSession& session,
             Prompter& prompter, Clock& clock, QWidget* parent = nullptr);

  // At start: the status check when servers are configured, then the list and the
  // starting text.
  void Start();

  QAction* action(Command c) const { return actions_.at(c); }
  ReportView* view() const { return view_; }
  QListWidget* server_list() const { return list_; }
  ServerPane* server_pane() const { return pane_; }
  // The workers' password prompt: the "Zelin Server Password" window (the program)
  // instead of the prompter's password question (the default, which tests answer).
  void UsePasswordWindow(bool on) { password_window_ = on; }
  // Shows the outcome of a finished run (as after the Test Status window closed).
  void RunEnded(bool cancelled, std::span<const ServerMark> marks);
  void UpdateCommands();
  // Writes the report page to `path` as PDF, laid out as Print lays it out, with the
  // page settings chosen in Print Setup; false when there is no report or the file
  // cannot be written.
  bool ExportPdf(const QString& path);
  // The printer that Print Setup sets up and Print, Print Preview and Export PDF use.
  QPrinter& printer() { return *printer_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnConfig();
  void OnGo(bool from_menu);
  void OnServerStatus();
  void OnSaveReport();
  void OnPrint(bool preview);
  void OnExportPdf();
  void OnErrorCodeReference();
  void OnAbout();
  void RunStatusCheck();
  void RefreshList();
  void Redraw();
  PasswordDialogRunner DialogRunner();

  DiagnosticDocument& doc_;
  HostInterfaces& interfaces_;
  DiagSession& session_;
  Prompter& prompter_;
  Clock& clock_;
  std::map<Command, QAction*> actions_;
  QLabel* caption_;
  ServerPane* pane_;
  QListWidget* list_;
  ReportView* view_;
  bool go_from_toolbar_ = false;
  bool password_window_ = false;
  std::unique_ptr<QPrinter> printer_;
};

}  // namespace zelin::portcheck
