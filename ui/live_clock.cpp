#include "ui/live_clock.hpp"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <algorithm>

namespace zelin::ui {
namespace {

bool OnGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool IsInput(const QEvent& e) {
  switch (e.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

// Installed on the application while events are processed for a wait.
class InputHold final : public QObject {
 public:
  static InputHold& Instance() {
    static auto* hold = new InputHold;  // lives as long as the application's objects
    return *hold;
  }

  void Begin() {
    if (depth_++ > 0) return;
    modal_ = QApplication::activeModalWidget();
    popup_ = QApplication::activePopupWidget();
    QCoreApplication::instance()->installEventFilter(this);
  }
  void End() {
    if (--depth_ > 0) return;
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    const bool held = IsInput(*e) || (e->type() == QEvent::Close && e->spontaneous());
    if (!held) return QObject::eventFilter(watched, e);
    // A modal window or popup opened during the wait (by a timer, say) takes its input
    // as usual; Qt's modality keeps it away from the others.
    const QWidget* modal = QApplication::activeModalWidget();
    const QWidget* popup = QApplication::activePopupWidget();
    if ((popup != nullptr && popup != popup_) || (modal != nullptr && modal != modal_))
      return false;
    return true;
  }

 private:
  int depth_ = 0;
  QPointer<QWidget> modal_;
  QPointer<QWidget> popup_;
};

}  // namespace

void KeepWindowsAlive() {
  if (!OnGuiThread()) return;
  InputHold& hold = InputHold::Instance();
  hold.Begin();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  hold.End();
}

void LiveClock::SleepMs(int64_t ms) {
  if (!OnGuiThread()) {
    base_.SleepMs(ms);
    return;
  }
  const int64_t end = base_.NowMs() + ms;
  for (int64_t left = ms; left > 0; left = end - base_.NowMs()) {
    KeepWindowsAlive();
    left = end - base_.NowMs();
    if (left > 0) base_.SleepMs(std::min(left, kSliceMs));
  }
}

void LiveClock::KeepAlive() {
  KeepWindowsAlive();
}

}  // namespace zelin::ui
