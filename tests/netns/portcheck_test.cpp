// The diagnostic program on the real network path: the Config page's search finds the
// servers of both subnets through its own sockets (local ports from 5124), and a
// server whose link has gone dead is reported as not answering by the test run.

#include <gtest/gtest.h>

#include <algorithm>

#include "portcheck/core/session.hpp"
#include "portcheck/core/test_object_page.hpp"
#include "portcheck/core/test_run.hpp"
#include "tests/netns/netns_fixture.hpp"

namespace zelin::portcheck {
namespace {

using testing::NetnsLab;
using testing::Side;

class NetnsDiagTest : public testing::NetnsFixture<> {};

// The drop-down line of the server with this serial number, -1 when missing.
int LineOf(const std::vector<std::string>& dropdown, uint16_t serial) {
  const std::string tail = "SerialNo:" + std::to_string(serial) + ")";
  for (size_t i = 0; i < dropdown.size(); ++i)
    if (dropdown[i].size() >= tail.size() &&
        dropdown[i].compare(dropdown[i].size() - tail.size(), tail.size(), tail) == 0)
      return static_cast<int>(i);
  return -1;
}

TEST_F(NetnsDiagTest, ConfigSearchFindsBothSubnetsAndTheRunReportsTheDeadLink) {
  StartLab();
  NetnsLab::Inside client(*netns_, Side::kClient);  // the run's worker starts here too
  HostInterfaces interfaces(clock_, notices_, TransportOptions{});
  DiagSession session(clock_, notices_, TransportOptions{});
  DiagConfig config = DiagConfig::Defaults();
  ServerSearchResults results;
  ComMappingTable com;
  TestObjectPage page(config, results, interfaces, session, prompter_,
                      PromptedPasswordRunner(prompter_), com);
  page.Open();
  // The search went out through both interfaces from the program's own port.
  int from_first = 0, from_second = 0;
  for (const auto& e : lab_->Log()) {
    if (e.proto != "udp" || e.code != wire::kSearch) continue;
    from_first += e.from == "10.77.1.1:5124";
    from_second += e.from == "10.77.2.1:5124";
  }
  EXPECT_GT(from_first, 0);
  EXPECT_GT(from_second, 0);
  const auto& found = page.dropdown();
  EXPECT_EQ(found.size(), 4u);
  for (uint16_t serial : {2601, 2602, 2611, 2612})
    EXPECT_GE(LineOf(found, serial), 0) << serial << " missing";
  ASSERT_GE(LineOf(found, 2612), 0);
  EXPECT_EQ(found[static_cast<size_t>(LineOf(found, 2612))].rfind("10.77.2.11 ", 0), 0u);

  // Quay Two and Yard Two go into the configuration; then the yard's link dies.
  page.ChooseLine(LineOf(found, 2602));
  page.ChooseLine(LineOf(found, 2612));
  ASSERT_EQ(config.server_count, 2);
  EXPECT_TRUE(prompter_.texts().empty());
  netns_->SetLink(2, false);

  ResultStores stores{};
  TestRun run(config, stores, interfaces, session, clock_);
  run.Open();
  run.Wait();
  const TestStatusSnapshot s = run.Snapshot();
  EXPECT_FALSE(run.cancelled());
  // Quay Two is tested over TCP (its log lines); Yard Two alone fails to connect.
  std::vector<std::string> failures;
  for (const std::string& line : s.log)
    if (line.find("fail") != std::string::npos) failures.push_back(line);
  EXPECT_EQ(failures, (std::vector<std::string>{"Yard Two connect fail!"}));
  EXPECT_NE(std::find(s.log.begin(), s.log.end(), "10.77.1.11 port 1 finding connection"),
            s.log.end());
  EXPECT_EQ(stores[1].failure(), kMarkConnectFail);
  EXPECT_EQ(config.settings[1].status, -1);
  EXPECT_NE(stores[0].failure(), kMarkConnectFail);
  EXPECT_EQ(config.settings[0].status, kStatusReached);
  EXPECT_EQ(s.status, "Test Done");
}

}  // namespace
}  // namespace zelin::portcheck
