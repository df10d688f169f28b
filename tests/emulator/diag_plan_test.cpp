// The lab file's test plan and the report stream it gives.

#include <gtest/gtest.h>

#include "emulator/diag_plan.hpp"
#include "emulator/lab_spec.hpp"

namespace zelin::emulator {
namespace {

TEST(DiagPlanTest, LabFilePlanGivesTheReportStream) {
  auto parsed = ParseLabJson(R"({"broadcast": "127.0.42.255", "servers": [
    {"type": 771, "serial": 1, "ip": "127.0.42.10", "ports": 4,
     "diag": {"pairs": [[1, 3]], "printer": true, "open_ports": [2], "step_ms": 5,
              "failures": [{"test": "internal", "port": 2, "code": 2},
                           {"test": "dtr_dsr", "port": 1, "code": 22},
                           {"test": "printer", "code": 52}]}}]})");
  ASSERT_TRUE(parsed) << parsed.error;
  ASSERT_EQ(CompleteAndCheck(*parsed.value), "");
  const DiagPlan& plan = parsed.value->servers[0].diag;
  EXPECT_EQ(plan.open_ports, 0x0002);
  EXPECT_EQ(plan.step_ms, 5);

  // Results only (byte 3 = 1), as item/subitem/code/A/B.
  auto results = [](const std::vector<ReportBytes>& reports) {
    std::vector<std::array<int, 5>> out;
    for (const ReportBytes& r : reports)
      if (r[3] == 1) out.push_back({r[1], r[2], r[4], r[5], r[6]});
    return out;
  };
  const auto all = DiagReports(plan, 4, 0x0002 | 0x0004 | 0x0010 | 0x0020, 0x000F);
  EXPECT_EQ(results(all), (std::vector<std::array<int, 5>>{
                              {1, 2, 0, 0, 255}, {1, 2, 2, 1, 255}, {1, 2, 0, 2, 255},
                              {1, 2, 0, 3, 255},                      // internal, port 2 fails
                              {2, 3, 0, 0, 2}, {2, 4, 0, 0, 2}, {2, 5, 22, 0, 2},  // pair 1-3
                              {2, 3, 9, 1, 255}, {2, 3, 9, 3, 255},  // 2 and 4 unconnected
                              {3, 0, 52, 0, 255}}));
  EXPECT_EQ(all.back()[1], 0);  // the end report
  DiagPlan silent = plan;
  silent.stop_after = 3;
  EXPECT_EQ(DiagReports(silent, 4, 0x0002, 0x000F).size(), 3u);  // no end report
  EXPECT_EQ(DiagReports(DiagPlan{}, 4, 0x0004, 0x000F).front()[4], 3);  // no printer port

  EXPECT_NE(ParseLabJson(R"({"servers": [{"type": 771, "serial": 1, "ip": "127.0.42.10",
      "diag": {"failures": [{"test": "tx-rx", "port": 1, "code": 4}]}}]})").error.find("tx_rx"),
            std::string::npos);
  auto beyond = ParseLabJson(R"({"broadcast": "127.0.42.255", "servers": [
      {"type": 771, "serial": 1, "ip": "127.0.42.10", "ports": 4, "diag": {"pairs": [[1, 5]]}}]})");
  ASSERT_TRUE(beyond);
  EXPECT_NE(CompleteAndCheck(*beyond.value).find("port 5 is beyond"), std::string::npos);
}

}  // namespace
}  // namespace zelin::emulator
