#pragma once
// The "Monitor configuration" sheet: a tabbed dialog with the "Select Port", "Select
// Item" and "General" pages, OK and Cancel (no Apply). Binds a ConfigurationSheet and
// forwards every user action to it; the sheet decides. GUI thread only.

#include <QDialog>

#include <array>

#include "monitor/core/configuration_sheet.hpp"
#include "ui/binding.hpp"

class QCheckBox;
class QComboBox;
class QTabWidget;
class QTreeWidget;

namespace zelin::monitor {

class ConfigurationDialog final : public QDialog {
 public:
  // Opens the sheet (it holds monitoring until OK or Cancel). The sheet must outlive
  // the dialog.
  explicit ConfigurationDialog(ConfigurationSheet& sheet, QWidget* parent = nullptr);

  void accept() override;
  void reject() override;

  QTabWidget* tabs() const { return tabs_; }
  QComboBox* address_box() const { return address_; }
  QTreeWidget* server_list() const { return servers_; }
  QTreeWidget* port_list() const { return ports_; }
  QCheckBox* item_box(size_t item) const { return items_[item]; }
  QComboBox* interval_box() const { return interval_; }
  // Shows the page model's state again.
  void RefreshSelectPort();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildSelectPort();
  QWidget* BuildSelectItem();
  QWidget* BuildGeneral();
  void RefreshPorts();
  void ShowTab(int index);

  ConfigurationSheet& sheet_;
  QTabWidget* tabs_ = nullptr;
  QComboBox* address_ = nullptr;
  QTreeWidget* servers_ = nullptr;
  QTreeWidget* ports_ = nullptr;
  std::array<QCheckBox*, kDisplayItemCount> items_{};
  QComboBox* interval_ = nullptr;
  ui::Bindings item_bindings_;
};

}  // namespace zelin::monitor
