// The test run against emulated servers: the failure markers with their log lines and
// statuses, the end of a run, and a cancel during the search attempts.

#include <gtest/gtest.h>

#include "portcheck/core/test_run.hpp"
#include "protocol/address.hpp"
#include "tests/portcheck/lab_fixture.hpp"

namespace zelin::portcheck {
namespace {

using TestRunLab = PortcheckLab;

TEST_F(TestRunLab, ServersThatCannotBeTestedCarryTheirMarkers) {
  Start({Server(31, 10), Server(32, 11, "secret")});
  Configure(30, 9);           // nobody answers there
  Configure(99, 10);          // answers with serial 31
  Configure(32, 11, "wrong");  // refuses the password
  ResultStores stores{};
  stores[1].Keep(ProgressReport::Make(kItemInternal, kSubLoopback, true, 0, 0));
  TestRun run(config_, stores, interfaces_, session_, clock_);
  run.Open();
  run.Wait();

  const TestStatusSnapshot s = run.Snapshot();
  EXPECT_FALSE(run.cancelled());
  EXPECT_EQ(s.log, (std::vector<std::string>{"Bench 30 connect fail!", "Bench 99 check serial no fail!",
                                             "Bench 32 login fail!"}));
  EXPECT_EQ(stores[0].failure(), kMarkConnectFail);
  EXPECT_EQ(stores[1].failure(), kMarkSerialFail);
  EXPECT_EQ(stores[2].failure(), kMarkLoginFail);
  EXPECT_EQ(stores[2].count, 1u);
  EXPECT_EQ(config_.settings[0].status, -1);
  EXPECT_EQ(config_.settings[1].status, 0);
  EXPECT_EQ(config_.settings[2].status, -1);
  EXPECT_EQ(s.status, "Test Done");
  EXPECT_EQ(s.button, "View Report");
  EXPECT_TRUE(s.done_line_visible);
  EXPECT_FALSE(s.progress_visible);
  EXPECT_EQ(s.progress_max, 330);
  EXPECT_EQ(s.marks[0], ServerMark::kTestFailed);
  EXPECT_EQ(run.test_time_line().substr(0, 13), "(Test Time : ");
  EXPECT_TRUE(run.PressCancel());  // "View Report" closes the window
}

TEST_F(TestRunLab, CancelDuringTheSearchKeepsTheStatusAndEmptiesTheStore) {
  Start({});
  Configure(40, 20);
  Configure(41, 21);
  config_.settings[1].status = kStatusOtherSerial;
  ResultStores stores{};
  stores[0].MarkFailure(kMarkLoginFail);
  TestRun run(config_, stores, interfaces_, session_, clock_);
  // The window's Cancel, pressed as soon as the first server's test shows its name.
  bool pressed = false;
  run.set_changed([&] {
    if (!pressed && run.Snapshot().object == "Bench 40") {
      pressed = true;
      EXPECT_FALSE(run.PressCancel());  // the first press only asks the worker to stop
    }
  });
  run.Open();
  run.Wait();
  const TestStatusSnapshot s = run.Snapshot();
  EXPECT_TRUE(run.cancelled());
  EXPECT_TRUE(s.close_requested);
  EXPECT_TRUE(s.log.empty());
  EXPECT_EQ(stores[0].count, 0u);
  EXPECT_EQ(config_.settings[0].status, kStatusReached);
  EXPECT_EQ(s.marks[0], ServerMark::kReachable);  // marks follow the statuses
  EXPECT_EQ(s.marks[1], ServerMark::kOtherSerial);
  EXPECT_TRUE(run.PressCancel());
}

}  // namespace
}  // namespace zelin::portcheck

namespace zelin::portcheck {
namespace {

TEST_F(TestRunLab, FullRunKeepsResultsLogsFailuresAndStillSendsAnEmptyPortMask) {
  auto bench = Server(51, 10);
  bench.diag.pairs = {{0, 1}, {2, 3}};
  bench.diag.printer = true;
  bench.diag.failures = {{wire::kItemInternal, wire::kSubLoopback, 2, 2},
                         {wire::kItemExternal, wire::kSubRtsCts, 0, 32}};
  Start({bench, Server(52, 11)});
  Configure(51, 10);
  Configure(52, 11);
  config_.settings[0].port_mask = 0x0F;
  config_.settings[0].server_flags = kTestPrinter;
  config_.settings[1].port_mask = 0;
  ResultStores stores{};
  TestRun run(config_, stores, interfaces_, session_, clock_);
  run.Open();
  run.Wait();

  const TestStatusSnapshot s = run.Snapshot();
  const std::string ip = AddressToText(block_.Address(10));
  EXPECT_EQ(s.log, (std::vector<std::string>{ip + " port 3 Internal test", "    Receive data content error",
                                             ip + " port 1 - 2 RTS/CTS test",
                                             "    Port A RTS on but Port B CTS off"}));
  EXPECT_EQ(s.marks[0], ServerMark::kTestFailed);
  EXPECT_EQ(s.marks[1], ServerMark::kTestPassed);
  EXPECT_EQ(lab_->Snapshot(52)->diagnoses, 1);  // mask 0: searched, logged in and sent
  EXPECT_EQ(stores[1].count, 0u);
  PairTable pairs;
  ASSERT_EQ(BuildPairTable(stores[0], pairs), 2u);
  EXPECT_EQ(pairs.cells[0][PairTable::kRtsCts], 32);
  EXPECT_EQ(pairs.cells[0][PairTable::kTxRx], 0);
  EXPECT_EQ(pairs.cells[0][PairTable::kDtrDcd], kNotTested);  // not selected
  int internal = 0, printer = 0;
  for (uint32_t k = 0; k < stores[0].count; ++k) {
    internal += stores[0].results[k].item() == kItemInternal;
    printer += stores[0].results[k].item() == kItemPrinter;
  }
  EXPECT_EQ(internal, 4);
  EXPECT_EQ(printer, 1);
  // The bar: 10 at the start, then 110 per server; the last server's reports add none.
  EXPECT_EQ(s.progress, 220);
  EXPECT_EQ(config_.settings[0].status, kStatusReached);
}

}  // namespace
}  // namespace zelin::portcheck
