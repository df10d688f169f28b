#include "ui/progress_window.hpp"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "ui/live_clock.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::ui {

QtProgressWindow::QtProgressWindow(QString title, QWidget* parent, int steps)
    : dialog_(new QDialog(parent)) {
  // The work it shows cannot be stopped half way: no close button.
  dialog_->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  dialog_->setWindowTitle(title);
  dialog_->setObjectName(QStringLiteral("progressWindow"));
  dialog_->setModal(false);
  auto* layout = new QVBoxLayout(dialog_.data());
  label_ = new QLabel(dialog_.data());
  label_->setMinimumWidth(320);
  label_->setWordWrap(true);
  bar_ = new QProgressBar(dialog_.data());
  bar_->setRange(0, steps > 0 ? steps : 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  layout->addWidget(label_);
  layout->addWidget(bar_);
}

QtProgressWindow::~QtProgressWindow() {
  delete dialog_.data();  // unless its parent took it along already
}

void QtProgressWindow::Show(std::string_view text) {
  if (!dialog_) return;
  label_->setText(ToQString(text));
  bar_->setValue(0);
  dialog_->show();
  KeepWindowsAlive();
}

void QtProgressWindow::SetText(std::string_view text) {
  if (!dialog_) return;
  label_->setText(ToQString(text));
  KeepWindowsAlive();
}

void QtProgressWindow::Step() {
  if (!dialog_) return;
  const int next = bar_->value() + 1;
  bar_->setValue(next > bar_->maximum() ? 0 : next);
  KeepWindowsAlive();
}

void QtProgressWindow::Close() {
  if (!dialog_) return;
  dialog_->hide();
  KeepWindowsAlive();
}

QWidget* QtProgressWindow::widget() const {
  return dialog_.data();
}
QString QtProgressWindow::text() const {
  return dialog_ ? label_->text() : QString();
}
int QtProgressWindow::value() const {
  return dialog_ ? bar_->value() : 0;
}
bool QtProgressWindow::visible() const {
  // One read of the guarded pointer: the window may go between two reads.
  const QDialog* dialog = dialog_.data();
  return dialog != nullptr && dialog->isVisible();
}

}  // namespace zelin::ui
