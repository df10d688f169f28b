// The diagnostic program's widgets, offscreen, over a run against the emulated lab: the
// main window in report mode and the "Diagnostic Config" sheet, saved as pictures.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QTreeWidget>

#include "portcheck/gui/config_sheet.hpp"
#include "portcheck/gui/main_window.hpp"
#include "portcheck/gui/report_view.hpp"
#include "portcheck/gui/run_windows.hpp"
#include "tests/portcheck/lab_fixture.hpp"
#include "tests/support/qt_app.hpp"
#include "ui/snapshot.hpp"

namespace zelin::portcheck {
namespace {

using PortcheckGui = PortcheckLab;

TEST_F(PortcheckGui, MainWindowShowsTheReportAndTheSheetItsServers) {
  testing::QtApp();
  StartFailingServer();
  DiagnosticDocument doc("unused.cfg");
  doc.live = config_;
  MainWindow window(doc, interfaces_, session_, prompter_, clock_);
  EXPECT_FALSE(window.action(Command::kSaveReport)->isEnabled());
  EXPECT_TRUE(window.action(Command::kGo)->isEnabled());

  TestRun run(doc.live, doc.stores, interfaces_, session_, clock_);
  run.Open();
  run.Wait();
  doc.test_time_line = run.test_time_line();
  window.RunEnded(false, run.Snapshot().marks);
  EXPECT_TRUE(window.action(Command::kSaveReport)->isEnabled());
  EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("Caption"))->text(), QStringLiteral("Test Report"));
  ASSERT_EQ(window.server_list()->count(), 1);
  const auto labels = window.view()->PlacedLabels();
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0]->text(), QStringLiteral("E002"));
  const QString dir = QStringLiteral(ZELIN_BUILD_DIR "/screenshots/portcheck/");
  EXPECT_TRUE(ui::SaveWidgetPng(&window, dir + QStringLiteral("main_window.png")));

  DiagConfig working = doc.live;
  ConfigSheet sheet(working, doc.search, interfaces_, session_, prompter_,
                    GuiThreadPasswordRunner(&sheet, prompter_), doc.com, &window);
  sheet.show();  // the first opening searches the lab
  EXPECT_EQ(sheet.findChild<QTreeWidget*>(QStringLiteral("ServerList"))->topLevelItemCount(), 1);
  EXPECT_EQ(sheet.findChild<QTreeWidget*>(QStringLiteral("PortList"))->topLevelItemCount(), 9);
  EXPECT_EQ(doc.search.table.count, 1);
  EXPECT_TRUE(ui::SaveWidgetPng(&sheet, dir + QStringLiteral("config_sheet.png")));
  sheet.accept();
}

}  // namespace
}  // namespace zelin::portcheck
