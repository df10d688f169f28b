// Start-up decisions, the model table view and the Release course, without windows.

#include <gtest/gtest.h>

#include <map>

#include "platform/clock.hpp"
#include "srvmanager/core/model_info.hpp"
#include "srvmanager/core/startup.hpp"
#include "tests/srvmanager/fixture.hpp"

namespace zelin::manager::testing {
namespace {

TEST(ManagerStartupTest, CommandLineWordsAreWholeAndCaseBlind) {
  EXPECT_EQ(ParseCommandLine("Release"), StartMode::Release);
  EXPECT_EQ(ParseCommandLine("rElEaSe"), StartMode::Release);
  EXPECT_EQ(ParseCommandLine("addserver"), StartMode::AddServer);
  EXPECT_EQ(ParseCommandLine("ADDSERVER"), StartMode::AddServer);
  EXPECT_EQ(ParseCommandLine("AddServer now"), StartMode::Normal);
  EXPECT_EQ(ParseCommandLine(" Release"), StartMode::Normal);
  EXPECT_EQ(ParseCommandLine(""), StartMode::Normal);
  char a0[] = "srvmanager", a1[] = "AddServer", a2[] = "x";
  char* argv[] = {a0, a1, a2};
  EXPECT_EQ(JoinArguments(3, argv), "AddServer x");
  EXPECT_EQ(ParseCommandLine(JoinArguments(2, argv)), StartMode::AddServer);
}

TEST(ManagerStartupTest, TitleSuffixByInstallationType) {
  EXPECT_EQ(MainTitle(kSingleHost), "Zelin Server Manager - Single-Host");
  EXPECT_EQ(MainTitle(kMultiHost), "Zelin Server Manager - Multi-Host");
  EXPECT_EQ(MainTitle(kCustom), "Zelin Server Manager - Custom");
  for (int t : {-1, 0, 4, 99}) EXPECT_EQ(MainTitle(t), "Zelin Server Manager");
}

TEST(ManagerStartupTest, ModelNamesPortsAndDhcpCapability) {
  EXPECT_EQ(ModelNameOf(9476), "QX404");
  EXPECT_EQ(PortCountOfModel(771), 16);
  EXPECT_EQ(PortCountOfModel(8452), 4);
  // Codes the monitor knows but the manager does not count as unknown.
  EXPECT_EQ(ModelNameOf(769), "");
  EXPECT_EQ(PortCountOfModel(769), 0);
  EXPECT_EQ(TreeLabel("box", 1234), "box()");
  EXPECT_TRUE(HasDhcpSetting(771, 0));
  EXPECT_FALSE(HasDhcpSetting(8452, 0xFFFFFFFF));
  for (DeviceType late : {9476, 9480, 9494}) {
    EXPECT_FALSE(HasDhcpSetting(late, 0x021FFFFF)) << late;
    EXPECT_TRUE(HasDhcpSetting(late, 0x02200000)) << late;
  }
  EXPECT_FALSE(HasDhcpSetting(769, 0x03000000));
}

TEST(ManagerStartupTest, TransportThatCannotOpenShowsMessage105) {
  zelin::testing::LoopbackBlock block;
  // More host addresses than the socket table holds: the transport does not open.
  std::vector<Ipv4> too_many;
  for (int i = 0; i <= Transport::kMaxInterfaces; ++i)
    too_many.push_back(
        Ipv4FromOctets(127, 254, static_cast<uint8_t>(i / 250), static_cast<uint8_t>(1 + i % 250)));
  ScaledClock clock(100.0);
  zelin::testing::ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  Transport t(clock, notices, Deliverable::Manager,
              TransportOptions{
                  .interfaces = too_many, .broadcast = block.Broadcast(), .loopback_only = true});
  EXPECT_FALSE(OpenTransportOrReport(t, prompter));
  ASSERT_FALSE(prompter.texts().empty());
  EXPECT_EQ(prompter.texts().back(), "Network port open error or being occupied!");

  Transport ok(clock, notices, Deliverable::Manager,
               block.ClientOptions());
  prompter.Clear();
  EXPECT_TRUE(OpenTransportOrReport(ok, prompter));
  EXPECT_TRUE(prompter.texts().empty());
  ok.CloseTransport();
}

// Windows that close after a given number of requests (or never).
class FakeWindows final : public SuiteWindows {
 public:
  std::map<std::string, int> open;  // title -> requests needed to close (-1 never)
  std::map<std::string, int> requests;
  std::vector<std::string> Titles() override {
    std::vector<std::string> t;
    for (const auto& [title, n] : open) t.push_back(title);
    return t;
  }
  bool Exists(const std::string& title) override { return open.count(title) != 0; }
  void RequestClose(const std::string& title) override {
    const int n = ++requests[title];
    if (open[title] >= 0 && n >= open[title]) open.erase(title);
  }
};

TEST(ManagerStartupTest, ReleaseEmptiesStoreAndClosesSuiteWindowsOnly) {
  MemoryStore store;
  store.servers.push_back(MakeEntry(1, "a", 0));
  FakeWindows windows;
  windows.open = {{"Zelin Server Monitor - x.mnt", 2},
                  {"Zelin Server Pro Uninstall", 1},
                  {"Text editor", 1},
                  {"Zelin Server Diagnostic", -1}};
  int fresh = 0;
  ScaledClock clock(1000.0);
  RunRelease(
      store, [&] { ++fresh; }, windows, clock);
  EXPECT_EQ(store.removals, 1);
  EXPECT_TRUE(store.servers.empty());
  EXPECT_EQ(fresh, 1);
  EXPECT_EQ(windows.requests["Zelin Server Monitor - x.mnt"], 2);
  EXPECT_EQ(windows.open.count("Zelin Server Monitor - x.mnt"), 0u);
  EXPECT_EQ(windows.requests.count("Zelin Server Pro Uninstall"), 0u);
  EXPECT_EQ(windows.requests.count("Text editor"), 0u);
  // A window that never closes is asked a bounded number of times.
  EXPECT_EQ(windows.requests["Zelin Server Diagnostic"], 10);
  // Only the first 79 characters of a title count.
  EXPECT_FALSE(ReleaseCloses(std::string(79, 'x') + "Zelin Server"));
  EXPECT_TRUE(ReleaseCloses(std::string(67, 'x') + "Zelin Server" + "Uninstall"));
}

}  // namespace
}  // namespace zelin::manager::testing
