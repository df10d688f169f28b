#pragma once
// The manager's two small dialogs: Map Port (dialog 165, "Port Properties") and the
// server password dialog (dialog 166, "Zelin Server"), and the Prompter that shows
// the latter for password requests. The dialogs only bind controls to the values
// the document computes. GUI thread only.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QRadioButton>

#include "srvmanager/core/manager_document.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {

class MapPortDialog : public QDialog {
  Q_OBJECT
 public:
  MapPortDialog(const MapPortChoice& initial, QWidget* parent = nullptr);
  // The user's choice (valid after accept()).
  MapPortChoice choice() const;

  QComboBox* map_to() const { return map_to_; }
  QCheckBox* consecutive() const { return consecutive_; }
  QRadioButton* classical() const { return classical_; }
  QRadioButton* fifo_disabled() const { return fifo_disabled_; }

 private:
  MapPortChoice initial_;
  QComboBox* map_to_;
  QCheckBox* consecutive_;
  QRadioButton* hi_performance_;
  QRadioButton* classical_;
  QRadioButton* fifo_enabled_;
  QRadioButton* fifo_disabled_;
};

class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  // `info` is the server's "Server Name : ... IP address : ..." text.
  PasswordDialog(const QString& info, int max_length, QWidget* parent = nullptr);
  QLineEdit* edit() const { return edit_; }

 private:
  QLineEdit* edit_;
};

// QtPrompter with the manager's password dialog and OK/Cancel questions that default
// to Cancel.
class ManagerPrompter final : public Prompter {
 public:
  explicit ManagerPrompter(ui::QtPrompter& base) : base_(base) {}
  MsgAnswer Message(std::string_view text, MsgButtons buttons, MsgIcon icon,
                    std::string_view caption) override {
    return base_.Message(text, buttons, icon, caption);
  }
  MsgAnswer AskDefaultCancel(std::string_view text, MsgIcon icon) override;
  std::optional<std::string> AskPassword(std::string_view prompt, size_t max_length) override;
  void BeginWait() override { base_.BeginWait(); }
  void EndWait() override { base_.EndWait(); }
  std::unique_ptr<ProgressWindow> OpenProgress(std::string_view title) override {
    return base_.OpenProgress(title);
  }

 private:
  ui::QtPrompter& base_;
};

}  // namespace zelin::manager
