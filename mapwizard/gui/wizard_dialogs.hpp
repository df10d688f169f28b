#pragma once
// The wizard's two small dialogs as widgets: 145 ("Locate Server", OK only) and 146
// ("Cannot find servers", OK and "&Cancel"), and dialog 138 ("Can not find server"),
// which the sheet builds but never shows.
//
// GUI thread only. The parent is not owned.

#include <QDialog>
#include <QPointer>

#include "mapwizard/core/wizard_context.hpp"

class QLabel;

namespace zelin::wizard::gui {

class LocateDialog final : public QDialog {
  Q_OBJECT
 public:
  LocateDialog(const QString& server_info, QWidget* parent);
};

class NotFoundDialog final : public QDialog {
  Q_OBJECT
 public:
  NotFoundDialog(const QString& info, QWidget* parent);
};

class CannotFindDialog final : public QDialog {
  Q_OBJECT
 public:
  explicit CannotFindDialog(QWidget* parent);
};

// WizardDialogs shown as the dialogs above, modal to `parent`.
class QtWizardDialogs final : public WizardDialogs {
 public:
  explicit QtWizardDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void set_parent(QWidget* parent) { parent_ = parent; }
  void ShowLocate(std::string_view server_info) override;
  bool ShowNotFound(std::string_view info) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace zelin::wizard::gui
