// Discovery and probing by the client against emulated servers.

#include <atomic>

#include "protocol/address.hpp"
#include "protocol/frames.hpp"
#include "tests/integration/lab_fixture.hpp"

namespace zelin::testing {
namespace {

using emulator::HandlerResult;
using emulator::UdpContext;

// The lab's own Search handler, wrapped by the handlers below.
emulator::UdpHandlerFn g_search = nullptr;
uint16_t g_late_serial = 0;
std::atomic<int> g_searches_to_ignore{0};

// The server with g_late_serial misses every plain Search and answers only one that
// carries an exclusion list (as if it had been switched on late).
HandlerResult LateSearch(UdpContext& ctx) {
  if (ctx.device.state().serial == g_late_serial && ctx.request.size() == wire::kSearchSize)
    return HandlerResult::Ignore("late");
  return g_search(ctx);
}

// The first g_searches_to_ignore searches go unanswered.
HandlerResult FlakySearch(UdpContext& ctx) {
  if (g_searches_to_ignore.fetch_sub(1) > 0) return HandlerResult::Ignore("flaky");
  return g_search(ctx);
}

void Wrap(emulator::Lab& lab, emulator::UdpHandlerFn fn) {
  const emulator::UdpHandler* search = lab.udp_handlers().Find(wire::kSearch);
  ASSERT_NE(search, nullptr);
  emulator::UdpHandler h = *search;
  g_search = h.handle;
  h.handle = fn;
  lab.udp_handlers().Register(h);
}

using LabDiscoveryTest = LabTest;

TEST_F(LabDiscoveryTest, TwoServersAnsweringThreeBroadcastsGiveTwoRecords) {
  auto a = Server(5, 10, "pw");
  a.name = "Abc";
  StartLab({a, Server(6, 11)});
  OpenClient();
  SearchServers(*transport_, list_, 1);
  ASSERT_EQ(list_.count, 2);
  // Every server answered each of the three broadcasts; the second round excluded both.
  EXPECT_EQ(Requests(wire::kSearch, "5").size(), 3u);
  EXPECT_EQ(Requests(wire::kSearch, "6").size(), 3u);
  const ServerRecord& r = list_.records[static_cast<size_t>(list_.FindSerial(5))];
  EXPECT_EQ(r.name(), "Abc");
  EXPECT_EQ(r.ip_address(), block_.Address(10));
  EXPECT_EQ(r.host_address(), block_.Interface());
  EXPECT_TRUE(r.has_password());
  EXPECT_EQ(r.sequence, 1u);
  EXPECT_FALSE(r.unicast);
  EXPECT_EQ(r.socket, transport_->socket(0));
  EXPECT_TRUE(prompter_.texts().empty());

  // A second search refills the list from scratch.
  SearchServers(*transport_, list_, 1);
  EXPECT_EQ(list_.count, 2);
}

TEST_F(LabDiscoveryTest, ServerThatMissesTheFirstRoundIsAddedByTheExclusionSearch) {
  g_late_serial = 7;
  MakeLab({Server(5, 10), Server(7, 12)});
  Wrap(*lab_, LateSearch);
  StartLab();
  OpenClient();
  SearchServers(*transport_, list_, 1);
  ASSERT_EQ(list_.count, 2);
  EXPECT_EQ(list_.records[0].serial_number(), 5);
  EXPECT_EQ(list_.records[1].serial_number(), 7);
  // The exclusion search named server 5, which stayed silent.
  const auto searches = lab_->Log();
  int exclusion_seen = 0;
  for (const auto& e : searches) {
    if (e.code != wire::kSearch || e.length != wire::kSearchSize + 4) continue;
    ++exclusion_seen;
    if (e.server == "5") ADD_FAILURE() << "server 5 answered the exclusion search";
  }
  EXPECT_GE(exclusion_seen, 1);
  // The late server's record is usable like any other.
  EXPECT_TRUE(Command(*transport_, list_.records[1], wire::kLogin, 1));
}

TEST_F(LabDiscoveryTest, ThirtyTwoServersSkipTheSecondRound) {
  std::vector<emulator::ServerSpec> servers;
  for (uint8_t i = 0; i < 32; ++i)
    servers.push_back(Server(static_cast<uint16_t>(100 + i), 10 + i));
  StartLab(servers);
  OpenClient();
  SearchServers(*transport_, list_, 1);
  ASSERT_EQ(list_.count, 32);
  for (const auto& e : lab_->Log())
    EXPECT_EQ(e.length, wire::kSearchSize) << "an exclusion search was sent";
  for (int i = 0; i < 32; ++i) EXPECT_GE(list_.FindSerial(static_cast<uint16_t>(100 + i)), 0) << i;
}

TEST_F(LabDiscoveryTest, ProbeFindsAppendsAndRefreshes) {
  StartLab({Server(5, 10), Server(6, 11)});
  OpenClient();

  // Not found: nobody at .40.
  EXPECT_EQ(ProbeAddress(*transport_, list_, block_.Address(40), 1).status(),
            LastCommandError::kTimeout);
  EXPECT_EQ(list_.count, 0);

  // Found: a new unicast record; only the probed server answered.
  lab_->ClearLog();
  ASSERT_EQ(ProbeAddress(*transport_, list_, block_.Address(11), 1), 0);
  ASSERT_EQ(list_.count, 1);
  ServerRecord& r = list_.records[0];
  EXPECT_EQ(r.serial_number(), 6);
  EXPECT_TRUE(r.unicast);
  EXPECT_EQ(r.unicast_address, block_.Address(11));
  EXPECT_EQ(Requests(wire::kSearch).size(), 1u);
  // Requests now go to the server's own address.
  lab_->ClearLog();
  ASSERT_TRUE(Command(*transport_, r, wire::kLogin, 1));
  const auto login = Requests(wire::kLogin);
  ASSERT_EQ(login.size(), 1u);
  EXPECT_EQ(login[0].to.rfind(AddressToText(block_.Address(11)), 0), 0u) << login[0].to;

  // Update: a known server keeps its index and record, and gets its name back.
  r.set_name("stale");
  const uint32_t sequence = r.sequence;
  ASSERT_EQ(ProbeAddress(*transport_, list_, block_.Address(11), 1), 0);
  EXPECT_EQ(list_.count, 1);
  EXPECT_EQ(r.name(), "Server6");
  EXPECT_EQ(r.sequence, sequence);
  // The record goes on with its own sequence and nonce, and the server still takes
  // them after the probe's search: one attempt is enough.
  lab_->ClearLog();
  EXPECT_TRUE(Exchange(*transport_, r, wire::kLogin, 1));
  EXPECT_EQ(r.sequence, sequence + 1);
  const auto after = Requests(wire::kLogin);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].verdict, "ok");
  // A client that starts over from the probe's reply (sequence 1) is taken as well.
  ServerList fresh;
  ASSERT_EQ(ProbeAddress(*transport_, fresh, block_.Address(11), 1), 0);
  EXPECT_TRUE(Exchange(*transport_, fresh.records[0], wire::kLogin, 1));
  // And the older conversation has ended with it.
  EXPECT_EQ(Exchange(*transport_, r, wire::kLogin, 1), LastCommandError::kWrongCodeOrRefused);
}

// The monitor runs beside the manager on the same interface (its sockets start at
// 5124) and lists the single-port models that the manager leaves out.
TEST_F(LabDiscoveryTest, ManagerAndMonitorSearchSideBySide) {
  auto small = Server(8, 12);
  small.type = 769;
  StartLab({Server(5, 10), small});
  OpenClient();
  TransportOptions o{
      .interfaces = {block_.Interface()}, .broadcast = block_.Broadcast(), .loopback_only = true};
  Transport monitor(clock_, notices_, Deliverable::Monitor, o);
  ASSERT_TRUE(monitor.OpenTransport(wire::kMonitorFirstLocalPort));
  EXPECT_EQ(transport_->local_port(0), wire::kManagerFirstLocalPort);
  EXPECT_EQ(monitor.local_port(0), wire::kMonitorFirstLocalPort);

  ServerList watched;
  SearchServers(monitor, watched, 1);
  SearchServers(*transport_, list_, 1);
  EXPECT_EQ(watched.count, 2);
  ASSERT_EQ(list_.count, 1);
  EXPECT_EQ(list_.records[0].serial_number(), 5);
  // Each keeps its own conversation with the server.
  ServerRecord& m = watched.records[static_cast<size_t>(watched.FindSerial(5))];
  EXPECT_TRUE(Command(monitor, m, wire::kLogin, 1));
  EXPECT_TRUE(Command(*transport_, list_.records[0], wire::kLogin, 1));
  EXPECT_TRUE(Command(monitor, m, wire::kLogin, 1));
}

TEST_F(LabDiscoveryTest, ProbeRetryOutlastsUnansweredSearches) {
  MakeLab({Server(5, 10)});
  Wrap(*lab_, FlakySearch);
  StartLab();
  OpenClient();
  g_searches_to_ignore = 2;
  EXPECT_EQ(ProbeAddressRetry(*transport_, list_, block_.Address(10), 1), 0);
  EXPECT_EQ(Requests(wire::kSearch).size(), 1u);  // the third search was answered
  g_searches_to_ignore = 4;
  list_.count = 0;
  EXPECT_EQ(ProbeAddressRetry(*transport_, list_, block_.Address(10), 1).status(),
            LastCommandError::kTimeout);
  g_searches_to_ignore = 0;
}


// Probes side by side: three silent servers (every reply dropped), one that answers only
// its third Search, one that answers at once and is named twice. Each gets the attempts
// it gets when probed alone, and the records are the same.
TEST_F(LabDiscoveryTest, ProbesSideBySideMatchProbesInTurn) {
  std::vector<emulator::ServerSpec> servers;
  for (uint16_t serial = 1; serial <= 5; ++serial)
    servers.push_back(Server(serial, static_cast<uint8_t>(9 + serial)));
  for (size_t i : {0, 1, 2}) servers[i].faults.drop_share = 1.0;
  StartLab(servers);
  OpenClient();
  const std::vector<Ipv4> addresses = {block_.Address(10), block_.Address(13), block_.Address(11),
                                       block_.Address(14), block_.Address(12), block_.Address(14)};
  ServerList in_turn;
  std::vector<Result<int>> expected;
  ASSERT_TRUE(lab_->SetFaults(4, {.drop_next = 2}));
  for (Ipv4 a : addresses) expected.push_back(ProbeAddressRetry(*transport_, in_turn, a, 1));
  lab_->ClearLog();
  ASSERT_TRUE(lab_->SetFaults(4, {.drop_next = 2}));
  const std::vector<Result<int>> got = ProbeAddressesRetry(*transport_, list_, addresses, 1);
  ASSERT_EQ(got.size(), addresses.size());
  for (size_t i = 0; i < addresses.size(); ++i) {
    ASSERT_EQ(got[i].ok(), expected[i].ok()) << i;
    // A silent server is a time-out either way.
    EXPECT_EQ(got[i].status().ToString(), expected[i].status().ToString()) << i;
    if (!got[i]) continue;
    ServerRecord a = list_.records[static_cast<size_t>(*got[i])];
    ServerRecord b = in_turn.records[static_cast<size_t>(*expected[i])];
    EXPECT_EQ(a.ip_address(), addresses[i]);
    // Every reply carries a fresh nonce; everything else is the same.
    a.nonce = b.nonce = {};
    std::fill_n(a.search_reply.begin() + 6, 4, 0);
    std::fill_n(b.search_reply.begin() + 6, 4, 0);
    EXPECT_EQ(a.search_reply, b.search_reply) << i;
    EXPECT_EQ(a.unicast_address, b.unicast_address) << i;
  }
  EXPECT_EQ(got[3].value_or(-1), got[5].value_or(-1));
  EXPECT_EQ(list_.count, 2);
  for (const char* silent : {"1", "2", "3"})
    EXPECT_EQ(Requests(wire::kSearch, silent).size(), 4u) << silent;
  EXPECT_EQ(Requests(wire::kSearch, "4").size(), 3u);
  EXPECT_EQ(Requests(wire::kSearch, "5").size(), 1u);
}

}  // namespace
}  // namespace zelin::testing
