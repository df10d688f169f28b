#include "portcheck/gui/password_window.hpp"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "ui/qt_prompter.hpp"

namespace zelin::portcheck {

using ui::ToQString;

PasswordWindow::PasswordWindow(PasswordDialog& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("PasswordWindow"));
  setWindowTitle(ToQString(PasswordDialog::kTitle));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(ToQString(model_.AddressLine()), this));
  layout->addWidget(new QLabel(ToQString(model_.NameLine()), this));
  layout->addWidget(new QLabel(ToQString(PasswordDialog::kPrompt), this));
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(ToQString(PasswordDialog::kLabel), this));
  field_ = new QLineEdit(ToQString(model_.field()), this);
  field_->setObjectName(QStringLiteral("Password"));
  field_->setEchoMode(QLineEdit::Password);
  field_->setMaxLength(static_cast<int>(kMaxPasswordField));
  row->addWidget(field_);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &PasswordWindow::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &PasswordWindow::reject);
  layout->addWidget(buttons);
  field_->setFocus();
}

void PasswordWindow::accept() {
  model_.SetField(field_->text().toStdString());
  if (!model_.Ok()) {
    field_->setText(ToQString(model_.field()));  // emptied after a refused password
    field_->setFocus();
    return;
  }
  QDialog::accept();
}

void PasswordWindow::reject() {
  if (model_.end() == PasswordDialog::End::kNone) model_.Cancel();
  QDialog::reject();
}

PasswordDialogRunner GuiThreadPasswordWindowRunner(QWidget* gui) {
  return [gui](PasswordDialog& dialog) {
    auto run = [gui, &dialog] {
      PasswordWindow window(dialog, gui);
      window.exec();
    };
    if (QThread::currentThread() == gui->thread()) {
      run();
      return;
    }
    QMetaObject::invokeMethod(gui, run, Qt::BlockingQueuedConnection);
  };
}

}  // namespace zelin::portcheck
