#pragma once
// The Server Properties sheet as a QDialog: a QTabWidget with one widget per page of
// the core sheet, and OK and Cancel (no Apply). Each page widget copies its controls
// into the page model before the model validates (when its tab is left and on OK) and
// reloads them afterwards. GUI thread only; the sheet model outlives the dialog.

#include <QDialog>
#include <QWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "srvmanager/properties/core/property_sheet.hpp"
#include "ui/binding.hpp"

class QAbstractButton;
class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;

namespace zelin::manager {

// Common binding of a page widget: each bound control mirrors one field of the page
// model. Store copies the controls into the model, Load the model into the controls.
class PageView : public QWidget {
 public:
  using QWidget::QWidget;
  virtual void Store();  // controls -> model
  virtual void Load();   // model -> controls

 protected:
  ui::Bindings bindings_;
  // A button appended to `column` that runs `command` on the model and reloads the page.
  QPushButton* AddCommand(QBoxLayout* column, const char* text, std::function<void()> command);
};

class GeneralPageView final : public PageView {
 public:
  GeneralPageView(GeneralPage& page, QWidget* parent = nullptr);

  QLineEdit* name = nullptr;
  QLineEdit* address = nullptr;
  QLineEdit* netmask = nullptr;
  QRadioButton* dhcp_enable = nullptr;
  QRadioButton* dhcp_disable = nullptr;

 private:
  GeneralPage& page_;
};

class PasswordPageView final : public PageView {
 public:
  PasswordPageView(PasswordPage& page, QWidget* parent = nullptr);
  void Load() override;

  QLineEdit* current = nullptr;
  QLineEdit* fresh = nullptr;
  QLineEdit* confirm = nullptr;
  QCheckBox* auto_save = nullptr;

 private:
  PasswordPage& page_;
};

class AccessControlPageView final : public PageView {
 public:
  AccessControlPageView(AccessControlPage& page, QWidget* parent = nullptr);
  void Load() override;

  QTreeWidget* tree = nullptr;
  QComboBox* view = nullptr;
  QPushButton* add_ip = nullptr;
  QPushButton* add_port = nullptr;
  QPushButton* remove = nullptr;
  QPushButton* modify = nullptr;
  // Selects the tree item of a path, as a click would.
  void SelectPath(AccessTreePath path);

 private:
  void SelectionChanged();
  void UpdateButtons();
  AccessControlPage& page_;
};

class AdvancedPageView final : public PageView {
 public:
  AdvancedPageView(AdvancedPage& page, QWidget* parent = nullptr);
  void Load() override;

  QTreeWidget* list = nullptr;
  QPushButton* add = nullptr;
  QPushButton* remove = nullptr;
  QPushButton* modify = nullptr;

 private:
  AdvancedPage& page_;
};

class PropertySheetView final : public QDialog {
 public:
  PropertySheetView(PropertySheet& sheet, QWidget* parent = nullptr);
  void accept() override;

  QTabWidget* tabs() const { return tabs_; }
  PageView* page(int index) const { return pages_[static_cast<size_t>(index)]; }
  // Switches tabs as a click would (the page left validates first).
  void ShowPage(int index);

 private:
  void TabChanged(int index);
  PropertySheet& sheet_;
  QTabWidget* tabs_;
  std::vector<PageView*> pages_;
};

}  // namespace zelin::manager
