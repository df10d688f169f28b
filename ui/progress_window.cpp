#include "ui/progress_window.hpp"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "ui/qt_prompter.hpp"

namespace zelin::ui {

QtProgressWindow::QtProgressWindow(QString title, QWidget* parent, int steps)
    : dialog_(std::make_unique<QDialog>(parent)) {
  dialog_->setWindowTitle(title);
  dialog_->setObjectName(QStringLiteral("progressWindow"));
  dialog_->setModal(false);
  auto* layout = new QVBoxLayout(dialog_.get());
  label_ = new QLabel(dialog_.get());
  label_->setMinimumWidth(320);
  label_->setWordWrap(true);
  bar_ = new QProgressBar(dialog_.get());
  bar_->setRange(0, steps > 0 ? steps : 100);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  layout->addWidget(label_);
  layout->addWidget(bar_);
}

QtProgressWindow::~QtProgressWindow() = default;

void QtProgressWindow::Show(std::string_view text) {
  label_->setText(ToQString(text));
  bar_->setValue(0);
  dialog_->show();
  QApplication::processEvents();
}

void QtProgressWindow::SetText(std::string_view text) {
  label_->setText(ToQString(text));
  QApplication::processEvents();
}

void QtProgressWindow::Step() {
  const int next = bar_->value() + 1;
  bar_->setValue(next > bar_->maximum() ? 0 : next);
  QApplication::processEvents();
}

void QtProgressWindow::Close() {
  dialog_->hide();
  QApplication::processEvents();
}

QWidget* QtProgressWindow::widget() const {
  return dialog_.get();
}
QString QtProgressWindow::text() const {
  return label_->text();
}
int QtProgressWindow::value() const {
  return bar_->value();
}
bool QtProgressWindow::visible() const {
  return dialog_->isVisible();
}

}  // namespace zelin::ui
