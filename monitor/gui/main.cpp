// monitor: the port status monitor program. Opens the transport on local ports from
// 5124 (so that it runs beside the manager), reads the product lines' stores for the
// port mappings, starts with a new configuration (or the monitor file named on the
// command line) and shows the main window.

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <algorithm>

#include "monitor/core/monitor_document.hpp"
#include "monitor/core/polled_monitoring.hpp"
#include "monitor/core/reset_session.hpp"
#include "monitor/core/status_display.hpp"
#include "monitor/gui/file_dialogs.hpp"
#include "monitor/gui/main_window.hpp"
#include "platform/clock.hpp"
#include "platform/notices.hpp"
#include "platform/qt/single_instance.hpp"
#include "protocol/transport.hpp"
#include "store/hive_file.hpp"
#include "ui/live_clock.hpp"
#include "ui/qt_prompter.hpp"
#include "ui/snapshot.hpp"

using namespace zelin;
using namespace zelin::monitor;

namespace {

// The recent files live under the program's per-user settings.
QSettings Settings() {
  return QSettings(QStringLiteral("Kivo Zelin Server Application"), QStringLiteral("monitor"));
}

void LoadRecent(RecentFiles& recent) {
  const QStringList files = Settings().value(QStringLiteral("RecentFiles")).toStringList();
  for (auto it = files.rbegin(); it != files.rend(); ++it) recent.Add(it->toStdString());
}

void SaveRecent(const RecentFiles& recent) {
  QStringList files;
  for (const auto& path : recent.entries()) files << QString::fromStdString(path.string());
  Settings().setValue(QStringLiteral("RecentFiles"), files);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString title = QString::fromLatin1(kMonitorTitle);
  if (platform_qt::ActivateRunning(title)) return 0;

  ui::QtPrompter prompter(title);
  const auto [options, option_error] = TransportOptions::FromEnvironment();
  if (!option_error.ok()) {
    prompter.Message(option_error.message(), MsgButtons::Ok, MsgIcon::Error);
    return 1;
  }
  ui::LiveClock clock(SystemClock());
  PrompterNotices notices(prompter);
  Transport transport(clock, notices, Deliverable::Monitor, options);

  MonitorState state;
  ConnectedMonitoring monitoring;
  QtFileChooser files;
  MonitorDocument doc(state, monitoring, prompter, files);
  TransportFinder finder(transport);
  // Reset Port and Reset Server on the selected row, over their own TCP session.
  ResetCommands resets(*state.found, prompter, clock, notices, options);
  MonitorWindow window(state, doc, finder, prompter, ResetRowCommands(state, resets));
  prompter.set_parent(&window);
  files.set_parent(&window);
  // The polling engine: a worker thread receives the replies and writes the list through
  // its queued display; the sampling and silence ticks run from this timer.
  PolledMonitoring polled(state, transport, *window.list(), prompter);
  monitoring.Connect(&polled);
  QTimer ticks;
  ticks.setSingleShot(true);
  QObject::connect(&ticks, &QTimer::timeout, &window, [&polled, &ticks] {
    const int64_t next = polled.RunDueTimers();
    // While monitoring is stopped the timers are checked a few times a second.
    ticks.start(next < 0 ? 250 : static_cast<int>(std::clamp<int64_t>(next, 1, 1000)));
  });
  ticks.start(0);

  platform_qt::InstanceChannel channel(title);
  platform_qt::ServeMainWindow(channel, window);

  window.show();
  if (!transport.OpenTransport(wire::kMonitorFirstLocalPort).ok()) {
    prompter.Message("UDP port open error!", MsgButtons::Ok, MsgIcon::Error);
    return 1;
  }
  state.mappings.Load(HiveFile(ResolveRegistryPath()));
  doc.NewConfiguration();
  LoadRecent(doc.recent());
  if (argc > 1) doc.LoadConfiguration(argv[1]);
  window.UpdateDocument();

  // Optional: save a picture of the main window and quit (the demo without a display).
  const QByteArray shot = qgetenv("ZELIN_SCREENSHOT");
  if (!shot.isEmpty()) {
    QTimer::singleShot(1000, &window, [&window, shot] {
      ui::SaveWidgetPng(&window, QString::fromLocal8Bit(shot));
      QCoreApplication::exit(0);
    });
  }
  const int rc = QApplication::exec();
  ticks.stop();
  monitoring.StopMonitoring();
  SaveRecent(doc.recent());
  transport.CloseTransport();
  return rc;
}
