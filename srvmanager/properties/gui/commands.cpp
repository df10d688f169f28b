#include "srvmanager/properties/gui/commands.hpp"

#include <QFileDialog>

#include "srvmanager/core/manager_document.hpp"
#include "srvmanager/properties/core/document_host.hpp"
#include "srvmanager/properties/core/property_sheet.hpp"
#include "srvmanager/properties/gui/qt_property_dialogs.hpp"
#include "srvmanager/properties/gui/replace_server_view.hpp"
#include "srvmanager/properties/gui/upgrade_window.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::manager {

std::optional<std::string> QtFirmwareFileChooser::ChooseFirmwareFile() {
  const QString path = QFileDialog::getOpenFileName(parent_, QString(), QString(), QString(),
                                                    nullptr, QFileDialog::ReadOnly);
  if (path.isEmpty()) return std::nullopt;
  return ui::ToStdString(path);
}

bool RunServerProperties(ManagerDocument& doc, QWidget* parent) {
  DocumentHost host(doc);
  QtPropertyDialogs dialogs(parent);
  ServerPropertiesCommand command(host, dialogs);
  const PropertiesOutcome out = command.Run(doc.server_tree().selected_server(), doc.server_tree().selected_found());
  if (!out.accepted) return false;
  doc.server_tree().SetItemLabel(doc.server_tree().selected_item(), out.tree_label);
  if (out.mark_modified) doc.tables().SetModified(true);
  return true;
}

bool RunReplaceServer(ManagerDocument& doc, QWidget* parent) {
  if (doc.server_tree().selected_server() < 0) return false;
  DocumentHost host(doc);
  ReplaceServerDialog model(host, doc.server_tree().selected_server());
  ReplaceServerView view(model, parent);
  if (view.exec() != QDialog::Accepted) return false;
  doc.tables().SetModified(true);
  return true;
}

bool RunUpgradeFirmware(ManagerDocument& doc, QWidget* parent, FirmwareFileChooser* chooser) {
  DocumentHost host(doc);
  QtFirmwareFileChooser files(parent);
  UpgradeProgress progress;
  UpgradeWindow window(progress, parent != nullptr ? parent->window() : nullptr);
  UpgradeFirmwareCommand command(host, chooser != nullptr ? *chooser : files, progress);
  command.Run(doc.server_tree().selected_server(), doc.server_tree().selected_found());
  return false;
}

}  // namespace zelin::manager
