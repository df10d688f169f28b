#pragma once
// The small dialogs of the property pages, each bound to its core model: Grant Access
// IP (182), Add Port (183) and Gateway Settings (184). OK copies the controls into the
// model and closes only when the model accepts. GUI thread only.

#include <QDialog>
#include <string>
#include <vector>

#include "srvmanager/properties/core/access_control_page.hpp"
#include "srvmanager/properties/core/advanced_page.hpp"

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QTreeWidget;

namespace zelin::manager {

class GrantAccessIpView : public QDialog {
 public:
  GrantAccessIpView(GrantAccessIpDialog& model, QWidget* parent = nullptr);
  void accept() override;

  QRadioButton* single() const { return single_; }
  QRadioButton* group() const { return group_; }
  QLineEdit* address() const { return address_; }
  QLineEdit* netmask() const { return netmask_; }

 private:
  void Store();
  void Load();
  GrantAccessIpDialog& model_;
  QRadioButton* single_;
  QRadioButton* group_;
  QLineEdit* address_;
  QLineEdit* netmask_;
};

class AddPortView : public QDialog {
 public:
  AddPortView(AddPortDialog& model, QWidget* parent = nullptr);
  void accept() override;
  QListWidget* list() const { return list_; }

 private:
  AddPortDialog& model_;
  QListWidget* list_;
};

class GatewaySettingsView : public QDialog {
 public:
  GatewaySettingsView(GatewaySettingsDialog& model, QWidget* parent = nullptr);
  void accept() override;

  QLineEdit* destination() const { return destination_; }
  QLineEdit* gateway() const { return gateway_; }
  QLineEdit* netmask() const { return netmask_; }
  QLineEdit* metric() const { return metric_; }

 private:
  GatewaySettingsDialog& model_;
  QLineEdit* destination_;
  QLineEdit* gateway_;
  QLineEdit* netmask_;
  QLineEdit* metric_;
};

// OK and Cancel wired to the dialog's accept and reject (shared by the views).
QDialogButtonBox* AddOkCancel(QDialog* dialog);

// A list of rows under the given column headings, each column as wide as its heading
// plus 15 pixels; whole rows are selected.
QTreeWidget* NewReportList(const std::vector<std::string>& headings, QWidget* parent);

}  // namespace zelin::manager
