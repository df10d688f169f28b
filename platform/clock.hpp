#pragma once
// Every wait, sleep and clock reading of the suite goes through a Clock, so that
// tests can compress the protocol's long waits (three broadcasts 500 ms apart,
// 3 s reply rounds, 6 s restarts) without changing the values the product uses.
//
// Thread safety: implementations are safe to call from several threads.

#include <cstdint>
#include <functional>

namespace zelin {

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds on a monotonic time line of this clock (virtual for a scaled clock).
  virtual int64_t NowMs() = 0;

  // Blocks for `ms` milliseconds of this clock's time.
  virtual void SleepMs(int64_t ms) = 0;

  // The real milliseconds that a wait of `ms` milliseconds of this clock lasts.
  // Socket waits (select/poll) convert their time-outs with it. Never below 1 for ms > 0.
  virtual int64_t RealWaitMs(int64_t ms) = 0;

  // Seconds since 1970-01-01 UTC, as the protocol's time stamps carry them.
  virtual uint32_t UnixSeconds() = 0;

  // Long waits on sockets are cut into slices of at most WaitSliceMs() real
  // milliseconds and call KeepAlive() between them, so that a program with windows
  // can let them repaint while it waits (its SleepMs does the same). The waits end
  // when they would have ended unsliced. By default waits are not sliced (0) and
  // KeepAlive does nothing.
  virtual int64_t WaitSliceMs() const { return 0; }
  virtual void KeepAlive() {}
};

// Sleeps `ms` of the clock's time, ending when SleepMs(ms) would, in steps that end
// on whole seconds before the end; `tick` is told the milliseconds left before each
// step (so about once a second, first with `ms`), for a count-down on the screen.
void SleepCountingDown(Clock& clock, int64_t ms, const std::function<void(int64_t)>& tick);

// The wall and monotonic clocks of the host.
class RealClock final : public Clock {
 public:
  int64_t NowMs() override;
  void SleepMs(int64_t ms) override;
  int64_t RealWaitMs(int64_t ms) override { return ms; }
  uint32_t UnixSeconds() override;
};

// Virtual time that runs `speedup` times faster than real time: a 3-second wait
// of the protocol lasts 3000 / speedup real milliseconds. UnixSeconds stays real.
class ScaledClock final : public Clock {
 public:
  explicit ScaledClock(double speedup);
  int64_t NowMs() override;
  void SleepMs(int64_t ms) override;
  int64_t RealWaitMs(int64_t ms) override;
  uint32_t UnixSeconds() override;
  double speedup() const { return speedup_; }

 private:
  double speedup_;
  int64_t origin_real_ms_;
};

// The process's real clock.
Clock& SystemClock();

}  // namespace zelin
