#pragma once
// The Qt entry points of Server Properties, Replace Server and Upgrade Firmware for
// the manager's main window. Each runs on the document's current selection and returns
// true when it changed the model (the window then relabels or rebuilds its views); the
// program hands them to the window. GUI thread only.

#include <optional>
#include <string>

#include "srvmanager/properties/core/firmware_upgrade.hpp"

class QWidget;

namespace zelin::manager {

class ManagerDocument;

// The standard file-open dialog: no type filter, no read-only box.
class QtFirmwareFileChooser final : public FirmwareFileChooser {
 public:
  explicit QtFirmwareFileChooser(QWidget* parent) : parent_(parent) {}
  std::optional<std::string> ChooseFirmwareFile() override;

 private:
  QWidget* parent_;
};

bool RunServerProperties(ManagerDocument& doc, QWidget* parent);
bool RunReplaceServer(ManagerDocument& doc, QWidget* parent);
// `chooser` null: QtFirmwareFileChooser over `parent`. The progress window disables
// `parent` while it shows.
bool RunUpgradeFirmware(ManagerDocument& doc, QWidget* parent, FirmwareFileChooser* chooser = nullptr);

}  // namespace zelin::manager
