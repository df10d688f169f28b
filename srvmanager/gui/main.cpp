// srvmanager: the server manager program. Start-up courses: Release (empty the
// store, refresh the ports, close the suite's windows, no window of its own), a
// second start (activate the first window), and the normal course with the main
// window over the loaded document.

#include <QApplication>
#include <QCoreApplication>
#include <QRegularExpression>

#include <memory>
#include <string>

#include "platform/clock.hpp"
#include "platform/pcfg32/pcfg32.h"
#include "platform/qt/single_instance.hpp"
#include "protocol/transport.hpp"
#include "srvmanager/core/manager_document.hpp"
#include "srvmanager/core/registry_store.hpp"
#include "srvmanager/core/startup.hpp"
#include "srvmanager/core/strings.hpp"
#include "srvmanager/gui/dialogs.hpp"
#include "srvmanager/gui/main_window.hpp"
#include "srvmanager/gui/suite_windows.hpp"
#include "srvmanager/properties/gui/commands.hpp"
#include "store/hive_file.hpp"
#include "ui/live_clock.hpp"
#include "ui/qt_prompter.hpp"
#include "ui/snapshot.hpp"

using namespace zelin;
using namespace zelin::manager;

namespace {

void CallFreshPort() {
  (void)FreshPort();
}

MainWindow::WizardRunner WizardEntry() {
  return [](WizardArguments* args) { return VCOMMManWizard(args); };
}

// Server Properties, Replace Server and Upgrade Firmware.
ServerCommands PropertiesCommands() {
  return {&RunServerProperties, &RunReplaceServer,
          [](ManagerDocument& doc, QWidget* parent) { return RunUpgradeFirmware(doc, parent); }};
}

}  // namespace

int main(int argc, char** argv) {
  const StartMode mode = ParseCommandLine(JoinArguments(argc, argv));
  HiveManagerStore store(ResolveRegistryPath());

  if (mode == StartMode::Release) {
    QCoreApplication app(argc, argv);
    LocalSuiteWindows windows;
    RunRelease(store, CallFreshPort, windows, SystemClock());
    return 0;
  }

  QApplication app(argc, argv);
  const int installation_type = store.ReadInstallationType().value_or(-1);
  const QString title = ui::ToQString(MainTitle(installation_type));

  // A second start with the same title shows the first window and ends.
  if (platform_qt::ActivateRunning(title)) return 0;

  ui::QtPrompter qt_prompter(title);
  ManagerPrompter prompter(qt_prompter);

  auto [options, option_error] = TransportOptions::FromEnvironment();
  if (!option_error.ok()) {
    prompter.Message(option_error.message(), MsgButtons::Ok, MsgIcon::Error, {});
    return 1;
  }
  // Network waits keep the window painting, with input held off while they run.
  ui::LiveClock clock(SystemClock());
  PrompterNotices notices(prompter);
  Transport transport(clock, notices, Deliverable::Manager, options);
  if (!OpenTransportOrReport(transport, prompter)) return 1;

  ManagerDocument doc(transport, prompter, store, installation_type, CallFreshPort);
  MainWindow frame(doc, title, WizardEntry(), PropertiesCommands());
  qt_prompter.set_parent(&frame);

  platform_qt::InstanceChannel channel(title);
  platform_qt::ServeMainWindow(channel, frame);

  frame.show();  // at once: the search that loads the document takes seconds
  frame.LoadDocument();
  frame.InitialUpdate(mode == StartMode::AddServer);

  // Optional: save a picture of the main window after a few seconds and quit (used by
  // the demo on machines without a display).
  ui::TakeScreenshotWhenAsked(&frame, [&frame](const QString& path) {
    frame.SelectFirstServer();
    ui::SaveWidgetPng(&frame, path);
    // A dialog open at that moment (the wizard of an AddServer start) is saved beside it.
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != &frame) {
      QString dialog_path = path;
      dialog_path.replace(QRegularExpression(QStringLiteral("\\.png$")), QString());
      ui::SaveWidgetPng(modal, dialog_path + QStringLiteral("-dialog.png"));
    }
    QCoreApplication::exit(0);
  });

  const int rc = QApplication::exec();
  transport.CloseTransport();
  return rc;
}
