// The test run and the status check when things go wrong, with their real workers
// against emulated servers that fall silent, close the connection part way, or take no
// connection at all; and Cancel, SKIP and SKIP ALL pressed at awkward moments.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "portcheck/core/report.hpp"
#include "portcheck/core/status_check.hpp"
#include "portcheck/core/test_run.hpp"
#include "protocol/address.hpp"
#include "tests/portcheck/lab_fixture.hpp"

namespace zelin::portcheck {
namespace {

using RunFaults = PortcheckLab;

bool LayoutSays(const ReportLayout& layout, std::string_view text, ReportText::Style style) {
  for (const ReportText& t : layout.texts)
    if (t.text == text && t.style == style) return true;
  return false;
}

// A clock that counts the connect's 100 ms retry steps it is asked to sleep.
class CountingClock final : public Clock {
 public:
  explicit CountingClock(Clock& inner) : inner_(inner) {}
  int64_t NowMs() override { return inner_.NowMs(); }
  void SleepMs(int64_t ms) override {
    if (ms == kConnectRetryMs) ++retry_sleeps;
    inner_.SleepMs(ms);
  }
  int64_t RealWaitMs(int64_t ms) override { return inner_.RealWaitMs(ms); }
  uint32_t UnixSeconds() override { return inner_.UnixSeconds(); }
  std::atomic<int> retry_sleeps{0};

 private:
  Clock& inner_;
};

// A server that falls silent fails after the silence limit, one that closes the
// connection fails at once; both keep the results they sent, say why in every form of
// the report, and the run goes on to the next server and completes. The last server's
// end report (item 0) carries other bytes: it still only ends the test.
TEST_F(RunFaults, SilentAndLostServersFailWithTheirReasonAndTheRunGoesOn) {
  auto silent = Server(11, 10), lost = Server(12, 11), good = Server(13, 12);
  silent.diag.stop_after = 3;  // controller step, port 1 progress, port 1 result
  lost.diag.close_after = 5;   // ... port 2 progress, port 2 result
  good.diag.noisy_end = true;
  for (auto* s : {&silent, &lost, &good}) s->diag.step_ms = 2;
  Start({silent, lost, good});
  for (uint16_t serial : {11, 12, 13}) {
    Configure(serial, static_cast<uint8_t>(serial - 1));
    config_.settings[static_cast<size_t>(serial - 11)].port_mask = 0x3;
  }
  config_.test_flags = kTestInternal;
  ResultStores stores{};
  TestRun run(config_, stores, interfaces_, session_, clock_);
  run.set_silence_limit_ms(5000);  // lab time: a tenth of a second here
  run.Open();
  run.Wait();

  const TestStatusSnapshot s = run.Snapshot();
  EXPECT_TRUE(run.completed());
  EXPECT_EQ(s.status, "Test Done");
  EXPECT_EQ(s.log, (std::vector<std::string>{"Bench 11 no report for 5 s!", "Bench 12 connection lost!"}));
  EXPECT_EQ(stores[0].end, TestEnd::kSilent);
  EXPECT_EQ(stores[0].count, 1u);
  EXPECT_EQ(stores[1].end, TestEnd::kConnectionLost);
  EXPECT_EQ(stores[1].count, 2u);
  EXPECT_EQ(stores[2].end, TestEnd::kComplete);
  EXPECT_EQ(stores[2].count, 2u);
  EXPECT_EQ(s.marks[0], ServerMark::kTestFailed);
  EXPECT_EQ(s.marks[1], ServerMark::kTestFailed);
  EXPECT_EQ(s.marks[2], ServerMark::kTestPassed);

  const std::string text = TextReport(config_, stores, run.test_time_line());
  EXPECT_NE(text.find("    Port 1       OK\r\n\r\n\r\nServer stopped reporting!\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("    Port 2       OK\r\n\r\n\r\nConnection lost!\r\n"), std::string::npos) << text;
  EXPECT_TRUE(LayoutSays(LayoutReport(config_, 1, stores[1], run.test_time_line()), "Connection lost!",
                         ReportText::Style::kFailure));
  EXPECT_FALSE(LayoutSays(LayoutReport(config_, 2, stores[2], run.test_time_line()), "Connection lost!",
                          ReportText::Style::kFailure));
}

// Cancel pressed while the search that finds the server is under way: the connect that
// follows gives up at once instead of retrying for 30 s against a server that takes no
// connection, and nothing is recorded as the server's failure.
TEST_F(RunFaults, CancelDuringASuccessfulSearchEndsTheConnectAtOnce) {
  auto closed = Server(21, 10);
  closed.faults.tcp_closed = true;
  Start({closed, Server(22, 11)});
  Configure(21, 10);
  Configure(22, 11);
  config_.settings[0].status = kStatusOtherSerial;
  CountingClock counting(clock_);
  DiagSession session(counting, notices_, block_.ClientOptions());
  ResultStores stores{};
  stores[1].MarkFailure(kMarkLoginFail);
  TestRun run(config_, stores, interfaces_, session, clock_);
  bool pressed = false;
  run.set_changed([&] {
    if (!pressed && run.Snapshot().object == "Bench 21") {  // the search is next
      pressed = true;
      EXPECT_FALSE(run.PressCancel());
    }
  });
  run.Open();
  run.Wait();

  EXPECT_FALSE(run.completed());
  EXPECT_TRUE(run.Snapshot().log.empty());
  EXPECT_EQ(counting.retry_sleeps.load(), 0);
  EXPECT_EQ(config_.settings[0].status, kStatusOtherSerial);
  EXPECT_EQ(stores[0].end, TestEnd::kInterrupted);
  EXPECT_EQ(stores[0].count, 0u);
  EXPECT_EQ(stores[1].end, TestEnd::kInterrupted);  // not reached: nothing of it gathered
  EXPECT_EQ(stores[1].count, 0u);
  const std::string text = TextReport(config_, stores, run.test_time_line());
  EXPECT_NE(text.find("\r\n\r\nInterrupted!\r\n\r\nZelin Server Bench 22"), std::string::npos) << text;
}

// Cancel pressed as the last server sends its end report: the run completed, so its
// report is not thrown away; the window still closes on the press.
TEST_F(RunFaults, CancelAsTheLastServerEndsKeepsTheRun) {
  Start({Server(31, 10)});
  Configure(31, 10);
  config_.settings[0].port_mask = 0x1;
  config_.test_flags = kTestInternal;
  ResultStores stores{};
  TestRun run(config_, stores, interfaces_, session_, clock_);
  bool pressed = false;
  run.set_changed([&] {
    if (!pressed && run.Snapshot().marks[0] == ServerMark::kTestPassed) {
      pressed = true;
      EXPECT_FALSE(run.PressCancel());
    }
  });
  run.Open();
  run.Wait();
  const TestStatusSnapshot s = run.Snapshot();
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(run.completed());
  EXPECT_TRUE(s.close_requested);
  EXPECT_EQ(s.button, "View Report");
  EXPECT_EQ(stores[0].end, TestEnd::kComplete);
  EXPECT_GT(stores[0].count, 0u);
}

// Cancel from another thread while a server is reporting: the worker ends, the results
// gathered so far stay with the reason. The time from the press to the worker's end is
// printed (it is measured, not asserted).
TEST_F(RunFaults, CancelWhileReportingKeepsWhatWasGathered) {
  auto silent = Server(41, 10);
  silent.diag.stop_after = 3;
  silent.diag.step_ms = 2;
  Start({silent, Server(42, 11)});
  Configure(41, 10);
  Configure(42, 11);
  config_.settings[0].port_mask = 0x3;
  config_.test_flags = kTestInternal;
  ResultStores stores{};
  TestRun run(config_, stores, interfaces_, session_, clock_);
  std::atomic<bool> reported{false};
  run.set_changed([&] {
    if (run.Snapshot().item == "Internal test") reported = true;
  });
  run.Open();
  for (int i = 0; i < 3000 && !reported.load(); ++i) SystemClock().SleepMs(10);
  ASSERT_TRUE(reported.load());
  SystemClock().SleepMs(50);  // the worker is inside a poll for the next report
  const auto pressed = std::chrono::steady_clock::now();
  EXPECT_FALSE(run.PressCancel());
  while (run.running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - pressed).count();
  std::printf("[ measured ] Cancel to the worker's end: %.1f ms\n", ms);
  RecordProperty("cancel_to_end_ms", static_cast<int>(ms));
  run.Wait();
  EXPECT_FALSE(run.completed());
  EXPECT_EQ(stores[0].end, TestEnd::kInterrupted);
  EXPECT_EQ(stores[0].count, 1u);
  EXPECT_EQ(stores[1].end, TestEnd::kInterrupted);
  EXPECT_TRUE(run.Snapshot().close_requested);
}

// SKIP pressed while the search that finds a server is under way ends that server: the
// connect does not retry against a server that takes no connection; the check goes
// on with the next server. A second SKIP ALL while the worker runs does not close the
// window; once the worker has finished SKIP ALL does.
TEST_F(RunFaults, SkipHoldsThroughTheConnectAndSkipAllClosesOnlyAFinishedCheck) {
  auto closed = Server(51, 10);
  closed.faults.tcp_closed = true;
  Start({closed, Server(52, 11), Server(53, 12)});
  Configure(51, 10);
  Configure(52, 11);
  Configure(53, 12);
  for (auto& settings : config_.settings) settings.status = kStatusOtherSerial;
  CountingClock counting(clock_);
  DiagSession session(counting, notices_, block_.ClientOptions());
  StatusCheck check(config_, interfaces_, session, prompter_, PromptedPasswordRunner(prompter_));
  bool skipped = false, stopped = false;
  check.set_changed([&] {
    const std::string line = check.Snapshot().second_line;
    if (!skipped && line.rfind("Now searching 1/3", 0) == 0) {
      skipped = true;
      check.Skip();
    }
    if (!stopped && line.rfind("Connecting 2/3", 0) == 0) {
      stopped = true;
      EXPECT_FALSE(check.SkipAll());
      EXPECT_FALSE(check.SkipAll());  // still running: the window stays
    }
  });
  check.Open();
  check.Wait();
  EXPECT_EQ(counting.retry_sleeps.load(), 0);
  EXPECT_EQ(config_.settings[0].status, kStatusUnreachable);
  EXPECT_EQ(config_.settings[1].status, kStatusReached);  // SKIP ALL lets it finish
  EXPECT_EQ(config_.settings[2].status, kStatusOtherSerial);
  EXPECT_TRUE(check.SkipAll());
}

}  // namespace
}  // namespace zelin::portcheck
