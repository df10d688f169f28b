#pragma once
// "Diagnostic Config": the three pages (Test Object, Test Item, Communication
// Parameters) over a working copy of the configuration, and the firmware upgrade window
// that the Insert key opens from the Test Object page's server list. The widgets bind to
// the page models of portcheck/core and forward the user's actions to them.

#include <QDialog>
#include <memory>

#include "platform/prompter.hpp"
#include "portcheck/core/config_pages.hpp"
#include "portcheck/core/test_object_page.hpp"
#include "portcheck/core/upgrade_window.hpp"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTabWidget;
class QTreeWidget;

namespace zelin::portcheck {

class ConfigSheet final : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Diagnostic Config";

  ConfigSheet(DiagConfig& working, ServerSearchResults& results, HostInterfaces& interfaces,
              DiagSession& session, Prompter& prompter, PasswordDialogRunner run_dialog,
              const ComMappingTable& com, QWidget* parent);

  // The page models (for tests and the program).
  TestObjectPage& objects() { return objects_; }

  void accept() override;  // each page that was shown writes its controls back

 protected:
  void showEvent(QShowEvent* event) override;
  // The address field's keys: Up and Down (and the wheel) move the drop-down's
  // selection without adding; Enter adds the server of the text.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildObjectPage();
  QWidget* BuildItemPage();
  QWidget* BuildCommPage();
  void PageShown(int index);
  void LoadServers();
  void LoadPorts();
  void OpenUpgrade();

  DiagConfig& working_;
  DiagSession& session_;
  Prompter& prompter_;
  PasswordDialogRunner run_dialog_;
  TestObjectPage objects_;
  TestItemPage items_;
  CommParamsPage comm_;
  std::array<bool, 3> shown_{};
  QTabWidget* tabs_;
  QComboBox* address_;
  QTreeWidget* servers_;
  QTreeWidget* ports_;
  std::array<QCheckBox*, 6> item_boxes_{};
  std::array<QComboBox*, 4> comm_lists_{};
};

class UpgradeDialog final : public QDialog {
  Q_OBJECT
 public:
  UpgradeDialog(UpgradeWindow& model, QWidget* parent);

 private:
  void Finish(bool ok);
  UpgradeWindow& model_;
  QLineEdit* file_;
};

}  // namespace zelin::portcheck
