// The Qt prompter and progress window driven through their real widgets.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "tests/support/qt_app.hpp"
#include "ui/progress_window.hpp"
#include "ui/qt_prompter.hpp"

namespace zelin::ui {
namespace {

// Runs `answer` on the next modal window as soon as it shows.
void WhenModal(std::function<void(QWidget*)> answer) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      answer(w);
    }
  });
  timer->start();
}

class QtPrompterTest : public ::testing::Test {
 protected:
  void SetUp() override { zelin::testing::QtApp(); }
  QtPrompter prompter{"Zelin Manager"};
};

TEST_F(QtPrompterTest, MessageShowsTextButtonsAndIconAndReturnsTheButtonPressed) {
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  WhenModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    ASSERT_NE(box, nullptr);
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(prompter.Message("Delete?\nReally", MsgButtons::YesNo, MsgIcon::Question),
            MsgAnswer::No);
  EXPECT_EQ(text, "Delete?\nReally");
  EXPECT_EQ(title, "Zelin Manager");
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);

  WhenModal([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    title = box->windowTitle();
    buttons = box->standardButtons();
    box->button(QMessageBox::Retry)->click();
  });
  EXPECT_EQ(prompter.Message("Again?", MsgButtons::RetryCancel, MsgIcon::Error, "Upgrade"),
            MsgAnswer::Retry);
  EXPECT_EQ(title, "Upgrade");
  EXPECT_EQ(buttons, QMessageBox::Retry | QMessageBox::Cancel);
}

TEST_F(QtPrompterTest, EscapeCountsAsTheSafeAnswer) {
  WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  EXPECT_EQ(prompter.Message("Sure?", MsgButtons::YesNo), MsgAnswer::No);
  WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  EXPECT_EQ(prompter.Message("Go on?", MsgButtons::OkCancel), MsgAnswer::Cancel);
}

TEST_F(QtPrompterTest, PasswordIsHiddenLimitedAndCancellable) {
  QLineEdit::EchoMode mode = QLineEdit::Normal;
  WhenModal([&](QWidget* w) {
    auto* edit = w->findChild<QLineEdit*>("password");
    ASSERT_NE(edit, nullptr);
    mode = edit->echoMode();
    QTest::keyClicks(edit, "0123456789abcdefXYZ");
    QTest::keyClick(edit, Qt::Key_Return);
  });
  EXPECT_EQ(prompter.AskPassword("Please input password : ", 16), "0123456789abcdef");
  EXPECT_EQ(mode, QLineEdit::Password);

  WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  EXPECT_EQ(prompter.AskPassword("Please input password : ", 16), std::nullopt);
}

TEST_F(QtPrompterTest, WaitCursorNestsAndIsReleasedWithThePrompter) {
  {
    QtPrompter local("x");
    local.BeginWait();
    local.BeginWait();
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    local.EndWait();
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    local.EndWait();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    local.EndWait();  // unbalanced: ignored
    local.BeginWait();
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(QtPrompterTest, ProgressWindowShowsStepsAndCloses) {
  QtProgressWindow progress("Upgrade", nullptr, 3);
  progress.Show("Sending firmware");
  EXPECT_TRUE(progress.visible());
  EXPECT_EQ(progress.text(), "Sending firmware");
  progress.Step();
  progress.Step();
  EXPECT_EQ(progress.value(), 2);
  progress.Step();
  progress.Step();  // wraps: long work does not know its length
  EXPECT_EQ(progress.value(), 0);
  progress.SetText("Waiting for the verdict");
  EXPECT_EQ(progress.text(), "Waiting for the verdict");
  progress.Close();
  EXPECT_FALSE(progress.visible());
}

}  // namespace
}  // namespace zelin::ui
