#pragma once
// QtProgressWindow: the Qt form of zelin::ProgressWindow, a small modeless window with
// a text and a bar that advances one step per Step() call (wrapping at the end, since
// long work does not know its length in advance), and no close button. Each call lets
// the windows repaint with input held off (KeepWindowsAlive).
//
// GUI thread only. The parent is not owned; the window deletes its widgets itself
// (or the parent does, if it goes first).

#include <QPointer>
#include <QString>
#include <QWidget>

#include "platform/prompter.hpp"

class QDialog;
class QLabel;
class QProgressBar;

namespace zelin::ui {

class QtProgressWindow final : public ProgressWindow {
 public:
  // `steps` is the number of Step() calls that fill the bar once.
  explicit QtProgressWindow(QString title, QWidget* parent = nullptr, int steps = 100);
  ~QtProgressWindow() override;
  QtProgressWindow(const QtProgressWindow&) = delete;
  QtProgressWindow& operator=(const QtProgressWindow&) = delete;

  void Show(std::string_view text) override;
  void SetText(std::string_view text) override;
  void Step() override;
  void Close() override;

  // For tests and screenshots.
  QWidget* widget() const;
  QString text() const;
  int value() const;
  bool visible() const;

 private:
  QPointer<QDialog> dialog_;
  QLabel* label_ = nullptr;
  QProgressBar* bar_ = nullptr;
};

}  // namespace zelin::ui
