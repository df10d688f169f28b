// The main window's "To be tested..." pane (items drawn by the program, the drag of its
// inner edge) and the "Zelin Server Password" window against an emulated server.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "portcheck/gui/main_window.hpp"
#include "portcheck/gui/password_window.hpp"
#include "portcheck/gui/server_pane.hpp"
#include "tests/portcheck/lab_fixture.hpp"
#include "tests/support/qt_app.hpp"

namespace zelin::portcheck {
namespace {

using PortcheckPane = PortcheckLab;

bool HasColour(const QImage& image, QRect area, QColor colour) {
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.pixelColor(x, y).rgb() == colour.rgb()) return true;
  return false;
}

void SendMouse(QWidget* w, QEvent::Type type, int x) {
  const QPointF at(x, 10);
  QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton,
                type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST_F(PortcheckPane, ItemsHaveTwoLinesTheirMarksAndAHighlightOnlyInReportMode) {
  testing::QtApp();
  DiagnosticDocument doc("unused.cfg");
  Configure(61, 10);
  Configure(62, 11);
  doc.live = config_;
  MainWindow window(doc, interfaces_, session_, prompter_, clock_);
  window.show();
  const std::array<ServerMark, 2> marks{ServerMark::kTestPassed, ServerMark::kTestFailed};
  window.RunEnded(false, marks);
  QApplication::processEvents();

  QListWidget* list = window.server_list();
  ASSERT_EQ(list->count(), 2);
  const auto& items = doc.model.server_list();
  EXPECT_EQ(list->item(1)->text().toStdString(), items[1].first);
  EXPECT_EQ(list->item(1)->data(Qt::UserRole).toString().toStdString(), items[1].second);
  EXPECT_NE(items[1].second.find("SerialNo:62"), std::string::npos);
  const QRect first = list->visualItemRect(list->item(0));
  EXPECT_EQ(first.height(), PaneItemHeight(list->fontMetrics().height()));

  // Report mode: the first server selected and highlighted; a cancelled run: no highlight.
  const QColor highlight = list->palette().color(QPalette::Highlight);
  EXPECT_TRUE(HasColour(list->viewport()->grab().toImage(), first, highlight));
  window.RunEnded(true, marks);
  QApplication::processEvents();
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::NoSelection);
  EXPECT_FALSE(HasColour(list->viewport()->grab().toImage(),
                         list->visualItemRect(list->item(0)), highlight));

  // The inner edge: a press beside it does nothing; a drag on it never goes below 32.
  ServerPane* pane = window.server_pane();
  std::vector<int> asked;
  QObject::connect(pane, &ServerPane::widthDragged, [&asked](int w) { asked.push_back(w); });
  const int width = pane->width();
  SendMouse(pane, QEvent::MouseButtonPress, width - kPaneEdgeWidth - 1);
  SendMouse(pane, QEvent::MouseMove, width + 40);
  SendMouse(pane, QEvent::MouseButtonRelease, width + 40);
  EXPECT_TRUE(asked.empty());
  SendMouse(pane, QEvent::MouseButtonPress, width - 2);
  SendMouse(pane, QEvent::MouseMove, width + 38);
  SendMouse(pane, QEvent::MouseMove, -500);
  SendMouse(pane, QEvent::MouseButtonRelease, -500);
  SendMouse(pane, QEvent::MouseMove, width + 100);  // after the release: no drag
  EXPECT_EQ(asked, (std::vector<int>{width + 40, kPaneMinWidth}));
  QApplication::processEvents();
  EXPECT_LT(pane->width(), width);
}

TEST_F(PortcheckPane, PasswordWindowLogsInOrStaysOpenWithTheFieldEmptied) {
  testing::QtApp();
  Start({Server(71, 10, "quay")});
  std::string password = "old";
  PasswordDialog model(session_, prompter_, block_.Address(10), "Bench 71", password);
  PasswordWindow window(model);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Zelin Server Password"));
  EXPECT_EQ(window.field()->echoMode(), QLineEdit::Password);
  EXPECT_EQ(window.field()->maxLength(), 29);
  window.show();

  window.field()->setText(QStringLiteral("pier"));
  window.ok_button()->click();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.field()->text().isEmpty());
  EXPECT_EQ(password, "pier");
  ASSERT_EQ(prompter_.texts().size(), 1u);
  EXPECT_NE(prompter_.texts()[0].find("Password check fail!"), std::string::npos);

  window.field()->setText(QStringLiteral("quay"));
  window.ok_button()->click();
  EXPECT_EQ(model.end(), PasswordDialog::End::kOk);
  EXPECT_EQ(window.result(), QDialog::Accepted);
  EXPECT_EQ(password, "quay");
  session_.Close();

  // From a worker: the window opens on the window's thread and the worker is logged in.
  QWidget owner;
  std::string stored = "old";
  std::atomic<bool> done{false};
  Status login;
  std::thread worker([&] {
    if (session_.Open(block_.Address(10)))
      login = LoginWithPrompt(session_, {block_.Address(10), "Bench 71", &stored}, prompter_,
                              GuiThreadPasswordWindowRunner(&owner));
    done = true;
  });
  QTimer answer;  // runs inside the window's own event loop
  QObject::connect(&answer, &QTimer::timeout, [] {
    if (auto* w = qobject_cast<PasswordWindow*>(QApplication::activeModalWidget())) {
      w->field()->setText(QStringLiteral("quay"));
      w->ok_button()->click();
    }
  });
  answer.start(5);
  for (int round = 0; round < 2000 && !done; ++round) {
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  worker.join();
  EXPECT_TRUE(login.ok());
  EXPECT_EQ(stored, "quay");
  session_.Close();
}

}  // namespace
}  // namespace zelin::portcheck
