#pragma once
// The widgets of the wizard's ten pages. Each binds its controls to one page model of
// the core: Bind() copies the model's values into the controls, and every user edit is
// forwarded to the model at once. Buttons of a page call `act` with the model action,
// and the sheet then rebinds whatever changed. The widgets decide nothing.
//
// GUI thread only. The models belong to the WizardFlow, which outlives the pages.

#include <QWizardPage>
#include <functional>

#include "mapwizard/core/wizard_flow.hpp"
#include "ui/binding.hpp"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace zelin::wizard::gui {

// Runs a model action and lets the sheet catch up with its effects.
using ActFn = std::function<void(const std::function<void()>&)>;

class FlowPage : public QWizardPage {
  Q_OBJECT
 public:
  explicit FlowPage(QWidget* parent = nullptr);
  // Copies the model's values into the controls: by default the bound ones.
  virtual void Bind() { bindings_.Load(); }

 protected:
  // The controls that mirror a model value; Bind() loads them with their signals blocked.
  ui::Bindings bindings_;
};

class BeginPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit BeginPageWidget(BeginPage& model);

 private:
  BeginPage& model_;
  QRadioButton* yes_;
  QRadioButton* no_;
};

class ServerListPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  ServerListPageWidget(ServerListPage& model, ActFn act);
  void Bind() override;

 private:
  ServerListPage& model_;
  ActFn act_;
  QTreeWidget* list_;
  QPushButton* locate_;
  QPushButton* find_;
  QRadioButton* manual_;
  QRadioButton* existing_;
};

class AssignAddressPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit AssignAddressPageWidget(AssignAddressPage& model);

 private:
  AssignAddressPage& model_;
  QLineEdit* address_;
};

class SinglePasswordPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit SinglePasswordPageWidget(SinglePasswordPage& model);

 private:
  SinglePasswordPage& model_;
  QLineEdit* password_;
};

class MultiPasswordPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit MultiPasswordPageWidget(MultiPasswordPage& model);
  void Bind() override;

 private:
  MultiPasswordPage& model_;
  QRadioButton* administrator_;
  QRadioButton* general_;
  QLineEdit* password_;
};

class SetPasswordPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit SetPasswordPageWidget(SetPasswordPage& model);
  void Bind() override;

 private:
  SetPasswordPage& model_;
  QLineEdit* password_;
  QLineEdit* confirmation_;
  QCheckBox* auto_saved_;
  int focus_requests_seen_ = 0;
};

class NewAddressPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit NewAddressPageWidget(NewAddressPage& model);
  void Bind() override;

 private:
  NewAddressPage& model_;
  QLabel* label_;
  QLineEdit* address_;
  QLabel* message_;
};

class ComMapPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit ComMapPageWidget(ComMapPage& model);
  void Bind() override;

 private:
  ComMapPage& model_;
  QComboBox* com_;
  QLabel* info_;
};

class CompletePageWidget final : public FlowPage {
  Q_OBJECT
 public:
  explicit CompletePageWidget(CompletePage& model);
  void Bind() override;

 private:
  CompletePage& model_;
  QLabel* summary_;
};

// Page 6, which no path reaches.
class ExitPageWidget final : public FlowPage {
  Q_OBJECT
 public:
  ExitPageWidget();
};

}  // namespace zelin::wizard::gui
