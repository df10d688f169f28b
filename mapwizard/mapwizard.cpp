// libmapwizard.so: the two exported entry points. Everything else in the library is
// hidden (-fvisibility=hidden), and no exception leaves an entry point.
#include "mapwizard/mapwizard.h"

#include <QApplication>
#include <memory>

#include "mapwizard/core/strings.hpp"
#include "mapwizard/core/wizard_flow.hpp"
#include "mapwizard/gui/add_server_wizard.hpp"
#include "mapwizard/gui/wizard_dialogs.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "protocol/transport.hpp"
#include "store/hive_file.hpp"
#include "store/server_store.hpp"
#include "ui/live_clock.hpp"
#include "ui/qt_prompter.hpp"

namespace {

// A caller without a Qt application of its own gets one for the call.
std::unique_ptr<QApplication> EnsureApplication() {
  if (QApplication::instance() != nullptr) return nullptr;
  static int argc = 1;
  static char name[] = "mapwizard";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QApplication>(argc, argv);
}

int RunWizard(WizardArguments& args) {
  if (args.interface_count < 0 || args.interface_count > zelin::Transport::kMaxInterfaces) return 0;
  if (args.interface_count > 0 && (args.socket_table == nullptr || args.local_addresses == nullptr))
    return 0;
  const zelin::wizard::WizardTables tables{args.found, args.saved_found, args.configuration,
                                           args.saved_configuration, args.configuration_count};
  if (!tables.Valid()) return 0;

  auto app = EnsureApplication();
  zelin::HiveFile hive(zelin::ResolveRegistryPath());
  const int type = zelin::ReadInstallationType(hive).value_or(-1);

  zelin::ui::QtPrompter prompter(zelin::ui::ToQString(zelin::wizard::SheetCaption(type)));
  const auto [options, problem] = zelin::TransportOptions::FromEnvironment();
  if (!problem.ok()) {
    // Unreadable network settings could send where the user did not mean to.
    prompter.Message(problem.message(), zelin::MsgButtons::Ok, zelin::MsgIcon::Error);
    return 0;
  }
  // Searches and checks keep the wizard painting, with input held off while they run.
  zelin::ui::LiveClock clock(zelin::SystemClock());
  zelin::PrompterNotices notices(prompter);
  zelin::Transport transport(clock, notices, zelin::Deliverable::Wizard, options);
  if (args.interface_count > 0 &&
      !transport.AdoptSockets(args.socket_table, args.local_addresses, args.interface_count))
    return 0;
  transport.SetDestination(zelin::kBroadcastAddress);

  zelin::wizard::gui::QtWizardDialogs dialogs;
  zelin::wizard::WizardFlow flow(transport, prompter, tables, type, dialogs);
  zelin::wizard::gui::AddServerWizard sheet(flow);
  prompter.set_parent(&sheet);
  dialogs.set_parent(&sheet);
  sheet.exec();
  return flow.result();
}

}  // namespace

extern "C" int VCOMMManWizard(struct WizardArguments* args) {
  if (args == nullptr) return 0;
  try {
    return RunWizard(*args);
  } catch (...) {
    return 0;
  }
}

extern "C" int SetZelinType(struct ZelinTypeArguments* args) {
  try {
    zelin::HiveFile hive(zelin::ResolveRegistryPath());
    if (zelin::ReadInstallationType(hive).value_or(-1) > 0) return 1;
    // The type goes to "ZelinType", where the programs read it; "Servers" holds the
    // store's server count and must not be touched here.
    if (args == nullptr || !zelin::IsInstallationType(static_cast<int>(args->installation_type))) return 0;
    zelin::WriteInstallationType(hive, static_cast<int>(args->installation_type));
    return 0;
  } catch (...) {
    return 0;
  }
}
