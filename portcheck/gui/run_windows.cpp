#include "portcheck/gui/run_windows.hpp"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "ui/artwork.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::portcheck {

using ui::ToQString;

PasswordDialogRunner GuiThreadPasswordRunner(QObject* gui, Prompter& prompter) {
  return [gui, &prompter](PasswordDialog& dialog) {
    const PasswordDialogRunner run = PromptedPasswordRunner(prompter);
    if (QThread::currentThread() == gui->thread()) {
      run(dialog);
      return;
    }
    QMetaObject::invokeMethod(gui, [&] { run(dialog); }, Qt::BlockingQueuedConnection);
  };
}

RunDialog::RunDialog(RunWorker& worker, QWidget* parent) : QDialog(parent), worker_(worker) {
  worker_.set_changed(
      [this] { QMetaObject::invokeMethod(this, [this] { Refresh(); }, Qt::QueuedConnection); });
}

RunDialog::~RunDialog() {
  worker_.Close();  // the worker is gone before its callback is dropped
  worker_.set_changed({});
}

int RunDialog::exec() {
  worker_.Open();
  Refresh();
  return QDialog::exec();
}

TestStatusDialog::TestStatusDialog(TestRun& run, QWidget* parent)
    : RunDialog(run, parent), run_(run) {
  setObjectName(QStringLiteral("TestStatusDialog"));
  setWindowTitle(ToQString(TestRun::kTitle));
  auto* form = new QFormLayout;
  auto field = [this, form](const char* label) {
    auto* edit = new QLineEdit(this);
    edit->setReadOnly(true);
    form->addRow(QString::fromUtf8(label), edit);
    return edit;
  };
  object_ = field("Test Object :");
  item_ = field("Test Item :");
  subitem_ = field("Test Subitem :");
  status_ = new QLabel(this);
  form->addRow(QStringLiteral("Test Status :"), status_);
  auto* group = new QGroupBox(QStringLiteral("Error Log : "), this);
  log_ = new QListWidget(group);
  (new QVBoxLayout(group))->addWidget(log_);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  done_ = new QLabel(ToQString(TestRun::kDoneLine), this);
  button_ = new QPushButton(QStringLiteral("Cancel"), this);
  connect(button_, &QPushButton::clicked, this, &TestStatusDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(group);
  layout->addWidget(bar_);
  layout->addWidget(done_);
  layout->addWidget(button_, 0, Qt::AlignRight);
  resize(460, 380);
}

void TestStatusDialog::reject() {
  if (run_.PressCancel()) QDialog::reject();
}

void TestStatusDialog::Refresh() {
  const TestStatusSnapshot s = run_.Snapshot(/*with_log=*/false);
  object_->setText(ToQString(s.object));
  item_->setText(ToQString(s.item));
  subitem_->setText(ToQString(s.subitem));
  status_->setText(ToQString(s.status));
  // Only the lines added since the last refresh; the list keeps the run's last lines.
  std::vector<std::string> lines;
  log_seen_ = run_.LogSince(log_seen_, lines);
  for (const std::string& line : lines) log_->addItem(ToQString(line));
  while (log_->count() > static_cast<int>(run_.log_capacity())) delete log_->takeItem(0);
  if (!lines.empty()) log_->scrollToBottom();
  bar_->setRange(0, s.progress_max);
  bar_->setValue(std::min(s.progress, s.progress_max));
  bar_->setVisible(s.progress_visible);
  done_->setVisible(s.done_line_visible);
  button_->setText(ToQString(s.button));
  if (s.close_requested && isVisible()) QDialog::reject();
}

StatusCheckDialog::StatusCheckDialog(StatusCheck& check, QWidget* parent)
    : RunDialog(check, parent), check_(check) {
  setObjectName(QStringLiteral("StatusCheckDialog"));
  setWindowTitle(ToQString(StatusCheck::kTitle));
  first_ = new QLabel(this);
  second_ = new QLabel(this);
  auto* skip = new QPushButton(QStringLiteral("SKIP"), this);
  auto* skip_all = new QPushButton(QStringLiteral("SKIP ALL"), this);
  connect(skip, &QPushButton::clicked, this, [this] { check_.Skip(); });
  connect(skip_all, &QPushButton::clicked, this, &StatusCheckDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(skip);
  buttons->addWidget(skip_all);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(first_);
  layout->addWidget(second_);
  layout->addLayout(buttons);
  setMinimumWidth(360);
}

void StatusCheckDialog::reject() {
  if (check_.SkipAll()) QDialog::reject();
}

void StatusCheckDialog::Refresh() {
  const StatusCheckSnapshot s = check_.Snapshot();
  first_->setText(ToQString(s.first_line));
  second_->setText(ToQString(s.second_line));
  if (s.close_requested && isVisible()) QDialog::reject();
}

ServerStatusDialog::ServerStatusDialog(const std::vector<StatusLine>& lines, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ServerStatusDialog"));
  setWindowTitle(QStringLiteral("Zelin Server Status"));
  auto* list = new QListWidget(this);
  const QIcon found = ui::ServerIcon();
  const QIcon missing(found.pixmap(16, 16, QIcon::Disabled));
  for (const StatusLine& l : lines) {
    auto* item = new QListWidgetItem(ToQString(l.text), list);
    if (l.icon == StatusLine::Icon::kFound) item->setIcon(found);
    if (l.icon == StatusLine::Icon::kNotFound) item->setIcon(missing);
  }
  auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list);
  layout->addWidget(ok);
  resize(380, 420);
}

}  // namespace zelin::portcheck
