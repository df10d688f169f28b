#pragma once
// "Zelin Server Password": the window of the password prompt that the workers (the test
// run, the status check, the Test Object page) open when a server refuses the stored
// password. Modal and always on top; it shows the model's lines and field and forwards
// OK and Cancel to it (portcheck/core/session.hpp, PasswordDialog), which logs in,
// stores the password and says what failed. GUI thread only.

#include <QDialog>

#include "portcheck/core/session.hpp"

class QLineEdit;
class QPushButton;

namespace zelin::portcheck {

class PasswordWindow final : public QDialog {
  Q_OBJECT
 public:
  explicit PasswordWindow(PasswordDialog& model, QWidget* parent = nullptr);

  QLineEdit* field() const { return field_; }
  QPushButton* ok_button() const { return ok_; }

  // OK: the model takes the field and logs in; the window closes only when it did.
  void accept() override;
  // Cancel or closing: the model ends with Cancel.
  void reject() override;

 private:
  PasswordDialog& model_;
  QLineEdit* field_;
  QPushButton* ok_;
};

// Runs the model in a PasswordWindow on `gui`'s thread, from any thread (a worker
// waits until the window has closed).
PasswordDialogRunner GuiThreadPasswordWindowRunner(QWidget* gui);

}  // namespace zelin::portcheck
