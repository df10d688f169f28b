// portcheck: the diagnostic program. A second start activates the running window and
// ends; otherwise the main window over the configuration file, with the status check
// at start when servers are configured, and the file written at exit when it changed.
//
//   portcheck [--config PATH]   the configuration file (default: the user's
//                               configuration directory, see portcheck/README.md)

#include <QApplication>
#include <QTimer>

#include <string>

#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "platform/qt/single_instance.hpp"
#include "portcheck/core/diagnostic_document.hpp"
#include "portcheck/gui/main_window.hpp"
#include "store/hive_file.hpp"
#include "ui/live_clock.hpp"
#include "ui/qt_prompter.hpp"
#include "ui/snapshot.hpp"

using namespace zelin;
using namespace zelin::portcheck;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString title = ui::ToQString(kMainTitle);
  if (platform_qt::ActivateRunning(title)) return 0;

  std::string config_path = DefaultConfigPath();
  const QStringList args = QCoreApplication::arguments();
  for (int i = 1; i + 1 < args.size(); ++i)
    if (args[i] == QStringLiteral("--config")) config_path = ui::ToStdString(args[i + 1]);

  ui::QtPrompter prompter(ui::ToQString(kApplicationTitle));
  const auto [options, option_error] = TransportOptions::FromEnvironment();
  if (!option_error.ok()) {
    prompter.Message(option_error.message(), MsgButtons::Ok, MsgIcon::Error, {});
    return 1;
  }
  RealClock real_clock;
  ui::LiveClock clock(real_clock);
  PrompterNotices notices(prompter);
  HostInterfaces interfaces(clock, notices, options);
  DiagSession session(clock, notices, options);

  DiagnosticDocument doc(config_path);
  {
    // The COM mapping is read once; the program never writes the store.
    HiveFile hive(ResolveRegistryPath());
    MemoryRegistry registry;
    if (hive.Load(registry).ok()) doc.com = ComMappingTable::Read(registry);
  }
  doc.Load();

  MainWindow window(doc, interfaces, session, prompter, clock);
  window.UsePasswordWindow(true);  // the workers' password prompt in its own window
  prompter.set_parent(&window);
  platform_qt::InstanceChannel channel(title);
  platform_qt::ServeMainWindow(channel, window);
  window.show();
  QTimer::singleShot(0, &window, [&window] { window.Start(); });

  // Optional: a picture of the main window after a few seconds, then quit (demo).
  ui::TakeScreenshotWhenAsked(&window, [&window](const QString& path) {
    ui::SaveWidgetPng(&window, path);
    window.close();
  });
  return app.exec();
}
