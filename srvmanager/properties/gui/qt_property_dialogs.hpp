#pragma once
// QtPropertyDialogs: PropertyDialogs with the Qt views, each run modally over a parent.
// `before_exec`, when set, is called with every dialog just before it runs (tests use
// it to drive the dialog from a timer and to take pictures). GUI thread only.

#include <QPointer>
#include <QWidget>
#include <functional>

#include "srvmanager/properties/core/host.hpp"

class QDialog;

namespace zelin::manager {

class QtPropertyDialogs final : public PropertyDialogs {
 public:
  explicit QtPropertyDialogs(QWidget* parent = nullptr) : parent_(parent) {}

  bool RunSheet(PropertySheet& sheet) override;
  bool RunGrantAccessIp(GrantAccessIpDialog& dialog) override;
  bool RunAddPort(AddPortDialog& dialog) override;
  bool RunGatewaySettings(GatewaySettingsDialog& dialog) override;

  std::function<void(QDialog*)> before_exec;

 private:
  bool Exec(QDialog& dialog);
  QPointer<QWidget> parent_;
  QWidget* current_ = nullptr;  // the sheet while it runs: parent of the small dialogs
};

}  // namespace zelin::manager
