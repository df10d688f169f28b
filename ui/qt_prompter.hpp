#pragma once
// The Qt implementation of zelin::Prompter: message boxes with the asked buttons and
// icon, a password dialog with hidden input and a length limit, and the application's
// wait cursor, and progress windows.
//
// Thread safety: GUI thread only, like every widget. The parent widget is not owned;
// it may be null (the boxes are then application-modal top-level windows) and may be
// changed while the prompter lives (a wizard sets itself as parent while it runs).

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "platform/prompter.hpp"

namespace zelin::ui {

class QtPrompter final : public Prompter {
 public:
  // `title` is the caption used when a message gives none (the program's title).
  explicit QtPrompter(QString title, QWidget* parent = nullptr);
  ~QtPrompter() override;
  QtPrompter(const QtPrompter&) = delete;
  QtPrompter& operator=(const QtPrompter&) = delete;

  MsgAnswer Message(std::string_view text, MsgButtons buttons = MsgButtons::Ok,
                    MsgIcon icon = MsgIcon::None, std::string_view caption = {}) override;
  std::optional<std::string> AskPassword(std::string_view prompt, size_t max_length) override;
  void BeginWait() override;
  void EndWait() override;
  // A QtProgressWindow over the parent, captioned `title`.
  std::unique_ptr<ProgressWindow> OpenProgress(std::string_view title) override;

  void set_parent(QWidget* parent) { parent_ = parent; }
  QWidget* parent() const { return parent_; }
  const QString& title() const { return title_; }
  int wait_depth() const { return wait_depth_; }

 private:
  QString title_;
  QPointer<QWidget> parent_;
  int wait_depth_ = 0;  // override cursors this prompter pushed and has not popped yet
};

// Shows the arrow for the life of the object when `prompter` has a wait cursor up, so
// that a dialog raised in the middle of long work can be answered with the mouse.
class ArrowWhileAsking {
 public:
  explicit ArrowWhileAsking(const QtPrompter& prompter);
  ~ArrowWhileAsking();
  ArrowWhileAsking(const ArrowWhileAsking&) = delete;
  ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;

 private:
  bool pushed_;
};

// Text of the core (UTF-8) as a QString, and back.
QString ToQString(std::string_view text);
std::string ToStdString(const QString& text);

}  // namespace zelin::ui
