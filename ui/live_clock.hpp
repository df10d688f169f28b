#pragma once
// Long waits that keep the windows alive.
//
// The manager and the wizard do their network work on the user-interface thread, and a
// save waits 11 s per server while it restarts. LiveClock is the Clock of these programs:
// its sleeps, and the socket waits of the transport and the TCP session (through
// KeepAlive between the slices of a wait), let the event loop turn, so that windows
// repaint, progress windows count down and timers run, while input is held off as under
// a modal window: mouse, keyboard and wheel input and the window system's close requests
// that arrive meanwhile are dropped, not queued for later (see KeepWindowsAlive).
//
// Time comes from the wrapped clock (RealClock in the programs, ScaledClock in tests),
// so every wait ends exactly when it would with that clock. Safe to call from any
// thread: events are processed only on the QApplication's thread; elsewhere SleepMs
// just sleeps and KeepAlive does nothing.

#include "platform/clock.hpp"

namespace zelin::ui {

class LiveClock final : public Clock {
 public:
  // The longest stretch, in real milliseconds, without turning the event loop.
  static constexpr int64_t kSliceMs = 40;

  explicit LiveClock(Clock& base) : base_(base) {}

  int64_t NowMs() override { return base_.NowMs(); }
  // Sleeps in slices of at most kSliceMs of the wrapped clock, turning the event loop
  // between them, until `ms` of the wrapped clock have passed.
  void SleepMs(int64_t ms) override;
  int64_t RealWaitMs(int64_t ms) override { return base_.RealWaitMs(ms); }
  uint32_t UnixSeconds() override { return base_.UnixSeconds(); }
  int64_t WaitSliceMs() const override { return kSliceMs; }
  void KeepAlive() override;

 private:
  Clock& base_;
};

// Processes the pending events of the GUI thread (paint, timers, sockets) with input
// held off: while it runs, mouse, keyboard, wheel, touch, drag and context-menu events
// and spontaneous close requests are dropped, except those for a modal window or popup
// opened during the call (which Qt's modality then confines input to). Does nothing off
// the GUI thread or without a QApplication. Nests.
void KeepWindowsAlive();

}  // namespace zelin::ui
