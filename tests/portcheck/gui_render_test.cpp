// What the user sees of a run, rendered offscreen into the test's temporary folder: the
// Test Status window at the end of a run, the Server Status window after the status
// check (PNG pictures), and the report page as the printer gets it (a PDF file).

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPrinter>
#include <QTemporaryDir>

#include "portcheck/core/diagnostic_document.hpp"
#include "portcheck/gui/report_view.hpp"
#include "portcheck/gui/run_windows.hpp"
#include "tests/portcheck/lab_fixture.hpp"
#include "tests/portcheck/pdf_text.hpp"
#include "tests/support/qt_app.hpp"
#include "ui/snapshot.hpp"

namespace zelin::portcheck {
namespace {

using PortcheckRender = PortcheckLab;

// A saved picture of `widget`'s size that is not one plain colour.
void ExpectPicture(QWidget* widget, const QString& path) {
  ASSERT_TRUE(ui::SaveWidgetPng(widget, path));
  const QImage image(path);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), widget->size());
  int other = 0;
  const QRgb corner = image.pixel(0, 0);
  for (int y = 0; y < image.height(); y += 3)
    for (int x = 0; x < image.width(); x += 3) other += image.pixel(x, y) != corner;
  EXPECT_GT(other, 100) << path.toStdString();
}

TEST_F(PortcheckRender, RunWindowsAsPicturesAndTheReportPageAsPdf) {
  testing::QtApp();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  StartFailingServer();
  DiagnosticDocument doc("unused.cfg");
  Configure(93, 12);  // no server at this address
  doc.live = config_;

  TestRun run(doc.live, doc.stores, interfaces_, session_, clock_);
  {
    TestStatusDialog window(run, nullptr);
    window.show();
    run.Open();
    run.Wait();
    QApplication::processEvents();
    EXPECT_GT(window.findChild<QListWidget*>()->count(), 0);  // the failures and the missing server
    ExpectPicture(&window, dir.filePath(QStringLiteral("test_status.png")));
  }
  doc.test_time_line = run.test_time_line();

  StatusCheck check(doc.live, interfaces_, session_, prompter_, PromptedPasswordRunner(prompter_));
  check.Open();
  check.Wait();
  const std::vector<StatusLine> lines = ServerStatusLines(doc.live, doc.com);
  ServerStatusDialog status(lines, nullptr);
  status.show();
  QApplication::processEvents();
  EXPECT_EQ(status.findChild<QListWidget*>()->count(), static_cast<int>(lines.size()));
  ExpectPicture(&status, dir.filePath(QStringLiteral("server_status.png")));

  // The printed page.
  const ReportLayout layout = LayoutReport(doc.live, 0, doc.stores[0], doc.test_time_line);
  const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ReportView::Print(layout, &printer);
  }
  QFile file(pdf);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_TRUE(bytes.startsWith("%PDF-"));
  EXPECT_EQ(testing::PdfPageCount(bytes), 1);
  const std::string text = testing::PdfText(bytes);
  EXPECT_NE(text.find("Bench 91"), std::string::npos) << text;
  EXPECT_NE(text.find("Internal LoopBack Test"), std::string::npos);
  EXPECT_NE(text.find("E002"), std::string::npos);
  EXPECT_NE(text.find(doc.test_time_line), std::string::npos);
}

}  // namespace
}  // namespace zelin::portcheck
