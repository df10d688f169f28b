// Emulated servers in one network namespace, the programs in another, joined by two
// veth pairs: real broadcasts to 255.255.255.255 leave through each interface, and a
// server hears only those of its own subnet.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "emulator/lab.hpp"
#include "emulator/network_check.hpp"
#include "platform/clock.hpp"
#include "protocol/discovery.hpp"
#include "protocol/transport.hpp"
#include "tests/netns/netns_fixture.hpp"

namespace zelin::testing {
namespace {

using NetnsTest = NetnsFixture<>;

TEST_F(NetnsTest, ZelinctlSearchFindsTheServersOfBothSubnetsThroughTheirOwnInterface) {
  StartLab();
  std::string out;
  ASSERT_EQ(Zelinctl("search", &out), 0) << out;
  for (const char* expected : {"10.77.1.10", "10.77.1.11", "10.77.2.10", "10.77.2.11"})
    EXPECT_NE(out.find(expected), std::string::npos) << expected << " missing:\n" << out;

  // Each server heard the broadcast once, through the interface of its own subnet: the
  // request carries the client's address on that subnet.
  for (const auto& e : lab_->Log()) {
    if (e.proto != "udp" || e.ignored()) continue;
    const bool second = e.server == "2611" || e.server == "2612";
    EXPECT_EQ(e.from.rfind(second ? "10.77.2.1:" : "10.77.1.1:", 0), 0u) << e.server << " " << e.from;
  }

  // Only the first interface: the second subnet's servers never hear the broadcast.
  ASSERT_EQ(Zelinctl("search --interfaces 10.77.1.1", &out), 0) << out;
  EXPECT_NE(out.find("10.77.1.10"), std::string::npos) << out;
  EXPECT_EQ(out.find("10.77.2."), std::string::npos) << out;
}

TEST_F(NetnsTest, AServerOnTheSecondSubnetTakesAChange) {
  StartLab();
  std::string out;
  ASSERT_EQ(Zelinctl("set 2612 --name " + Quoted("Yard Renamed"), &out), 0) << out;
  EXPECT_TRUE(WaitFor([&] {
    const auto s = lab_->Snapshot(2612);
    return s && !s->restarting && s->bound && s->applied.NameText() == "Yard Renamed";
  })) << out;
  EXPECT_TRUE(WaitFor([&] {
    return Zelinctl("search", &out) == 0 && out.find("Yard Renamed") != std::string::npos;
  })) << out;
}

TEST_F(NetnsTest, TheProbeOfAServerBehindADeadLinkFindsNothing) {
  StartLab();
  NetnsLab::Inside client(*netns_, Side::kClient);
  Transport transport(clock_, notices_, Deliverable::Manager);  // no stand-ins
  ASSERT_TRUE(transport.OpenTransport()) << "no interface in the client namespace";
  ASSERT_EQ(transport.interface_count(), 2);
  ServerList list;
  const Ipv4 yard = NetnsLab::ServerAddress(2, 10), quay = NetnsLab::ServerAddress(1, 10);
  ASSERT_TRUE(ProbeAddressRetry(transport, list, yard, 1));

  netns_->SetLink(2, false);  // no FIN, no RST: the frames just vanish
  // The same transport, as the manager's re-probe of a tree item uses: the first probe's
  // second reply (it asks through both interfaces) must not answer for the dead server.
  ServerList after;
  EXPECT_FALSE(ProbeAddressRetry(transport, after, yard, 1));
  EXPECT_TRUE(ProbeAddressRetry(transport, after, quay, 1)) << "the first subnet still answers";

  // The link back up: the carrier and the neighbour entries take a moment to return.
  netns_->SetLink(2, true);
  EXPECT_TRUE(WaitFor([&] { return ProbeAddressRetry(transport, after, yard, 1).ok(); }));
}

TEST_F(NetnsTest, TheEmulatorServesPrivateAddressesOnlyInAnIsolatedNamespace) {
  // Here, in the test's own namespace, the lab refuses before it binds anything.
  {
    emulator::Lab outside(NetnsLabSpec(), clock_);
    std::string error;
    if (emulator::IsolatedNetworkProblem().empty()) GTEST_SKIP() << "the test runs isolated";
    EXPECT_FALSE(outside.Start(&error));
    EXPECT_NE(error.find("isolated network namespace"), std::string::npos) << error;
    EXPECT_NE(std::system(DEVSIM_PATH " --lab " ZELIN_NETNS_LAB_FILE " >/dev/null 2>&1"), 0);
  }
  // The server namespace with a default route is no longer safe.
  {
    NetnsLab::Inside server(*netns_, Side::kServer);
    EXPECT_EQ(emulator::IsolatedNetworkProblem(), "");
  }
  std::string out;
  ASSERT_EQ(netns_->Run(Side::kServer, "ip route add default dev va1", &out), 0) << out;
  {
    NetnsLab::Inside server(*netns_, Side::kServer);
    EXPECT_NE(emulator::IsolatedNetworkProblem().find("default route (through va1)"),
              std::string::npos);
    emulator::Lab routed(NetnsLabSpec(), clock_);
    std::string error;
    EXPECT_FALSE(routed.Start(&error));
    EXPECT_NE(error.find("default route"), std::string::npos) << error;
  }
}

TEST_F(NetnsTest, TheLabScriptRunsDevsimAndACommandAndLeavesNothingBehind) {
  // The command sees no stand-ins, finds both subnets and may cut the server's link.
  const std::string command =
      NetnsLab::Script() + " run --devsim " DEVSIM_PATH " -- sh -c '"
      "echo lab=$ZELIN_NETNS_SERVER loopback-only=${ZELIN_LOOPBACK_ONLY:-unset}; " ZELINCTL_PATH
      " search; ip -n $ZELIN_NETNS_SERVER link set va2 down; " ZELINCTL_PATH " search; exit 7'";
  FILE* p = ::popen((command + " 2>&1; echo status=$?").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
  ::pclose(p);
  EXPECT_NE(out.find("loopback-only=unset"), std::string::npos) << out;
  const size_t second = out.find("MODEL", out.find("MODEL") + 1);
  ASSERT_NE(second, std::string::npos) << out;
  EXPECT_NE(out.substr(0, second).find("Yard Two"), std::string::npos) << out;
  EXPECT_NE(out.substr(second).find("Quay One"), std::string::npos) << out;
  EXPECT_EQ(out.substr(second).find("Yard"), std::string::npos) << out;
  EXPECT_NE(out.find("status=7"), std::string::npos) << "the command's status is the script's";
  const size_t at = out.find("lab=");
  ASSERT_NE(at, std::string::npos) << out;
  const std::string name = out.substr(at + 4, out.find(' ', at) - at - 4);
  EXPECT_NE(::access(("/run/netns/" + name).c_str(), F_OK), 0) << name << " left behind";
}

}  // namespace
}  // namespace zelin::testing
