// The diagnostic program's windows, offscreen, when the user is quick or impatient:
// arrow keys in the address drop-down, the same-address message, and SKIP ALL pressed
// twice while the status check waits for the password window.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>

#include <QAction>
#include <QFile>
#include <QImage>
#include <QPageLayout>

#include "portcheck/gui/config_sheet.hpp"
#include "portcheck/gui/main_window.hpp"
#include "portcheck/gui/report_view.hpp"
#include "portcheck/gui/run_windows.hpp"
#include "protocol/address.hpp"
#include "tests/portcheck/lab_fixture.hpp"
#include "tests/portcheck/pdf_text.hpp"
#include "tests/support/qt_app.hpp"

namespace zelin::portcheck {
namespace {

using PortcheckGuiFaults = PortcheckLab;

// A key pressed and released on `w`, as the keyboard sends it.
void Key(QWidget* w, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &press);
  QCoreApplication::sendEvent(w, &release);
}

// Up and Down move the drop-down's selection without adding; Enter adds the selected
// line's server; a server at a listed address with another serial number is refused
// with its message.
TEST_F(PortcheckGuiFaults, ArrowKeysMoveTheSelectionAndEnterAdds) {
  testing::QtApp();
  Start({Server(61, 10), Server(62, 11)});
  ServerSearchResults search;
  ComMappingTable com;
  DiagConfig working = DiagConfig::Defaults();
  ConfigSheet sheet(working, search, interfaces_, session_, prompter_, PromptedPasswordRunner(prompter_),
                    com, nullptr);
  sheet.show();  // the first opening searches the lab
  auto* address = sheet.findChild<QComboBox*>(QStringLiteral("ServerAddress"));
  auto* servers = sheet.findChild<QTreeWidget*>(QStringLiteral("ServerList"));
  ASSERT_NE(address, nullptr);
  ASSERT_EQ(sheet.objects().dropdown().size(), 2u);
  address->lineEdit()->setFocus();
  Key(address->lineEdit(), Qt::Key_Down);
  Key(address->lineEdit(), Qt::Key_Down);
  Key(address->lineEdit(), Qt::Key_Up);
  EXPECT_EQ(working.server_count, 0);
  EXPECT_EQ(sheet.objects().dropdown_selection(), 0);
  EXPECT_EQ(address->currentText().toStdString(), sheet.objects().dropdown()[0]);
  Key(address->lineEdit(), Qt::Key_Return);
  ASSERT_EQ(working.server_count, 1);
  EXPECT_EQ(servers->topLevelItemCount(), 1);
  EXPECT_EQ(working.images[0].serial_number(), 61);
  EXPECT_TRUE(prompter_.texts().empty());

  // The same address listed with another serial number: the message, nothing added.
  PutLe16(working.images[0].bytes, wire::kSrSerial, 99);
  Key(address->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(working.server_count, 1);
  ASSERT_EQ(prompter_.texts().size(), 1u);
  EXPECT_EQ(prompter_.texts()[0].substr(0, 56), "There is already a Zelin Server with the same IP address");
  sheet.reject();
}

// SKIP ALL pressed twice while the worker waits for the password window on the
// window's thread: the window stays until the worker has finished (closing it would
// join a worker that waits on this thread), then closes on the worker's request.
TEST_F(PortcheckGuiFaults, SecondSkipAllWaitsForTheWorker) {
  testing::QtApp();
  Start({Server(71, 10, "pw"), Server(72, 11)});
  Configure(71, 10, "wrong");
  Configure(72, 11);
  config_.settings[1].status = kStatusOtherSerial;
  std::atomic<bool> in_runner{false}, pressed{false};
  bool visible_after_presses = false;
  QWidget gui;  // the window's thread owner for the password window
  const PasswordDialogRunner runner = [&](PasswordDialog& dialog) {
    in_runner = true;
    for (int i = 0; i < 3000 && !pressed.load(); ++i) SystemClock().SleepMs(10);
    QMetaObject::invokeMethod(&gui, [&] { dialog.Cancel(); }, Qt::BlockingQueuedConnection);
  };
  StatusCheck check(config_, interfaces_, session_, prompter_, runner);
  {
    StatusCheckDialog dialog(check, nullptr);
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
      if (!in_runner.load() || pressed.load()) return;
      static_cast<QDialog&>(dialog).reject();  // SKIP ALL
      static_cast<QDialog&>(dialog).reject();  // and again
      visible_after_presses = dialog.isVisible();
      pressed = true;
    });
    press.start(5);
    dialog.exec();
  }
  EXPECT_TRUE(pressed.load());
  EXPECT_TRUE(visible_after_presses);
  EXPECT_TRUE(check.finished());
  EXPECT_EQ(config_.settings[0].status, kStatusUnreachable);  // the password was refused
  EXPECT_EQ(config_.settings[1].status, kStatusOtherSerial);  // not reached by the check
}

// The Test Status window's Error Log under a stream of failing reports keeps the run's
// last lines, the newest at the bottom.
TEST_F(PortcheckGuiFaults, ErrorLogListKeepsTheLastLines) {
  testing::QtApp();
  auto failing = Server(81, 10);
  for (uint8_t p = 0; p < 8; ++p) failing.diag.failures.push_back({wire::kItemInternal, wire::kSubLoopback, p, 2});
  failing.diag.step_ms = 2;
  Start({failing});
  Configure(81, 10);
  config_.test_flags = kTestInternal;
  ResultStores stores{};
  TestRun run(config_, stores, interfaces_, session_, clock_);
  run.set_log_capacity(6);
  TestStatusDialog dialog(run, nullptr);
  QTimer close;
  QObject::connect(&close, &QTimer::timeout, [&] {
    if (!run.running() && run.Snapshot(false).button == "View Report") {
      QCoreApplication::processEvents();  // the last queued refreshes
      static_cast<QDialog&>(dialog).reject();
    }
  });
  close.start(20);
  dialog.exec();
  auto* list = dialog.findChild<QListWidget*>();
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 6);
  const TestStatusSnapshot s = run.Snapshot();
  for (int i = 0; i < 6; ++i) EXPECT_EQ(list->item(i)->text().toStdString(), s.log[static_cast<size_t>(i)]);
}

// Export PDF writes the report page as Print lays it out, with the page settings that
// Print Setup left on the window's printer; the printed page drawn on an image is the
// picture of the page.
TEST_F(PortcheckGuiFaults, ExportPdfKeepsThePrintSetupAndThePageRendersToPng) {
  testing::QtApp();
  auto bench = Server(91, 10);
  bench.diag.failures = {{wire::kItemInternal, wire::kSubLoopback, 2, 2}};
  Start({bench});
  DiagnosticDocument doc("unused.cfg");
  Configure(91, 10);
  doc.live = config_;
  MainWindow window(doc, interfaces_, session_, prompter_, clock_);
  EXPECT_FALSE(window.action(Command::kExportPdf)->isEnabled());  // no report yet
  TestRun run(doc.live, doc.stores, interfaces_, session_, clock_);
  run.Open();
  run.Wait();
  doc.test_time_line = run.test_time_line();
  window.RunEnded(!run.completed(), run.Snapshot().marks);
  ASSERT_TRUE(window.action(Command::kExportPdf)->isEnabled());

  window.printer().setPageOrientation(QPageLayout::Landscape);  // as Print Setup leaves it
  const QString pdf = QStringLiteral(ZELIN_BUILD_DIR "/screenshots/portcheck/export.pdf");
  ASSERT_TRUE(window.ExportPdf(pdf));
  QFile file(pdf);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  EXPECT_EQ(testing::PdfPageCount(bytes), 1);
  const std::string text = testing::PdfText(bytes);
  EXPECT_NE(text.find("Bench 91"), std::string::npos) << text;
  EXPECT_NE(text.find("E002"), std::string::npos) << text;
  const int box = bytes.indexOf("/MediaBox [");
  ASSERT_GE(box, 0);
  const QList<QByteArray> corners = bytes.mid(box + 11, 40).split(']').first().simplified().split(' ');
  ASSERT_EQ(corners.size(), 4);
  EXPECT_GT(corners[2].toDouble(), corners[3].toDouble());  // landscape

  // The printed page on an A4 image at 150 dpi: text in black and the error code in red.
  QImage page(1240, 1754, QImage::Format_RGB32);
  page.fill(Qt::white);
  page.setDotsPerMeterX(5906);
  page.setDotsPerMeterY(5906);
  ReportView::Print(*window.view()->layout(), &page);
  int dark = 0, red = 0;
  for (int y = 0; y < page.height(); y += 2)
    for (int x = 0; x < page.width(); x += 2) {
      const QColor c = page.pixelColor(x, y);
      dark += c.lightness() < 80;
      red += c.red() > 90 && c.green() < 60 && c.blue() < 60;
    }
  EXPECT_GT(dark, 100);
  EXPECT_GT(red, 5);
  EXPECT_TRUE(page.save(QStringLiteral(ZELIN_BUILD_DIR "/screenshots/portcheck/report_page.png")));
}

}  // namespace
}  // namespace zelin::portcheck
