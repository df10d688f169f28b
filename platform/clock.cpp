#include "platform/clock.hpp"

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

namespace zelin {
namespace {
int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

int64_t RealClock::NowMs() { return MonotonicMs(); }

void RealClock::SleepMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint32_t RealClock::UnixSeconds() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

ScaledClock::ScaledClock(double speedup) : speedup_(speedup), origin_real_ms_(MonotonicMs()) {
  if (!(speedup > 0)) throw std::invalid_argument("ScaledClock: speedup must be positive");
}

int64_t ScaledClock::NowMs() {
  return static_cast<int64_t>(std::llround(static_cast<double>(MonotonicMs() - origin_real_ms_) *
                                           speedup_));
}

void ScaledClock::SleepMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(RealWaitMs(ms)));
}

int64_t ScaledClock::RealWaitMs(int64_t ms) {
  if (ms <= 0) return 0;
  const auto real = static_cast<int64_t>(std::ceil(static_cast<double>(ms) / speedup_));
  return real < 1 ? 1 : real;
}

uint32_t ScaledClock::UnixSeconds() { return SystemClock().UnixSeconds(); }

void SleepCountingDown(Clock& clock, int64_t ms, const std::function<void(int64_t)>& tick) {
  const int64_t end = clock.NowMs() + ms;
  for (int64_t left = ms; left > 0; left = end - clock.NowMs()) {
    if (tick) tick(left);
    clock.SleepMs((left - 1) % 1000 + 1);  // to the next whole second before the end
  }
}

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace zelin
