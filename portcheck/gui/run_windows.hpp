#pragma once
// The modal windows of the worker runs, and the Server Status window:
//   TestStatusDialog    "Test Status" over a TestRun (the Go command)
//   StatusCheckDialog   "Zelin Server Diagnostics" over a StatusCheck, SKIP and SKIP ALL
//   ServerStatusDialog  "Zelin Server Status": the lines of ServerStatusLines
// The workers tell the dialogs about changes through queued calls; the dialogs read
// snapshots and decide nothing.

#include <QDialog>
#include <memory>

#include "portcheck/core/status_check.hpp"
#include "portcheck/core/test_run.hpp"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace zelin::portcheck {

// Runs the password dialog on `gui`'s thread (blocking the calling worker until it
// ends), through the prompter's password entry.
PasswordDialogRunner GuiThreadPasswordRunner(QObject* gui, Prompter& prompter);

// A window over a worker run: refreshed (on its own thread) whenever the worker reports
// a change; exec() opens the run; the run is stopped and joined before the window goes.
class RunDialog : public QDialog {
 public:
  // Opens the run and shows the window until it closes.
  int exec() override;

 protected:
  RunDialog(RunWorker& worker, QWidget* parent);
  ~RunDialog() override;
  // Shows the worker's latest snapshot.
  virtual void Refresh() = 0;

 private:
  RunWorker& worker_;
};

class TestStatusDialog final : public RunDialog {
  Q_OBJECT
 public:
  TestStatusDialog(TestRun& run, QWidget* parent);

 protected:
  void reject() override;  // Esc and the close box act as the button

 private:
  void Refresh() override;
  TestRun& run_;
  QLineEdit *object_, *item_, *subitem_;
  QLabel *status_, *done_;
  QListWidget* log_;
  uint64_t log_seen_ = 0;  // log lines ever added that the list has taken
  QProgressBar* bar_;
  QPushButton* button_;
};

class StatusCheckDialog final : public RunDialog {
  Q_OBJECT
 public:
  StatusCheckDialog(StatusCheck& check, QWidget* parent);

 protected:
  void reject() override;  // closing the window is SKIP ALL

 private:
  void Refresh() override;
  StatusCheck& check_;
  QLabel *first_, *second_;
};

class ServerStatusDialog final : public QDialog {
  Q_OBJECT
 public:
  ServerStatusDialog(const std::vector<StatusLine>& lines, QWidget* parent);
};

}  // namespace zelin::portcheck
