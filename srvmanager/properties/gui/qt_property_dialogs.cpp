#include "srvmanager/properties/gui/qt_property_dialogs.hpp"

#include "srvmanager/properties/gui/dialogs.hpp"
#include "srvmanager/properties/gui/property_sheet_view.hpp"

namespace zelin::manager {

bool QtPropertyDialogs::Exec(QDialog& dialog) {
  if (before_exec) before_exec(&dialog);
  return dialog.exec() == QDialog::Accepted;
}

bool QtPropertyDialogs::RunSheet(PropertySheet& sheet) {
  PropertySheetView view(sheet, parent_);
  QWidget* outer = current_;
  current_ = &view;
  const bool ok = Exec(view);
  current_ = outer;
  return ok;
}

bool QtPropertyDialogs::RunGrantAccessIp(GrantAccessIpDialog& dialog) {
  GrantAccessIpView view(dialog, current_ != nullptr ? current_ : parent_.data());
  return Exec(view);
}

bool QtPropertyDialogs::RunAddPort(AddPortDialog& dialog) {
  AddPortView view(dialog, current_ != nullptr ? current_ : parent_.data());
  return Exec(view);
}

bool QtPropertyDialogs::RunGatewaySettings(GatewaySettingsDialog& dialog) {
  GatewaySettingsView view(dialog, current_ != nullptr ? current_ : parent_.data());
  return Exec(view);
}

}  // namespace zelin::manager
