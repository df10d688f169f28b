// Discovery against a scripted lab of servers listening on the block's broadcast
// address: the three broadcasts, the two rounds, reply acceptance and probing.
#include "protocol/discovery.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "tests/protocol/fixtures.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"
#include "tests/support/udp_peer.hpp"

namespace zelin {
namespace {

using testing::Hex;
using testing::PeerDatagram;
using testing::SearchReply;
using testing::ServerSpec;
using testing::Shortened;
using testing::UdpPeer;
using testing::WithByte;
using Datagrams = std::vector<std::vector<uint8_t>>;

class DiscoveryTest : public ::testing::Test {
 protected:
  std::unique_ptr<Transport> Open(Deliverable who = Deliverable::Manager) {
    auto t = std::make_unique<Transport>(clock, notices, who,
                                         block.ClientOptions());
    EXPECT_TRUE(t->OpenTransport());
    return t;
  }

  // True when the request's exclusion list names `serial`.
  static bool Excludes(const PeerDatagram& d, uint16_t serial) {
    for (size_t at = 6; at + 4 <= d.bytes.size(); at += 4)
      if (GetLe16(d.bytes, at + 2) == serial) return true;
    return false;
  }

  testing::LoopbackBlock block;
  ScaledClock clock{20};
  testing::ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  ServerList list;
};

TEST_F(DiscoveryTest, RepeatedAnswersAreDroppedAndALateServerJoinsTheSecondRound) {
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  const ServerSpec a{.serial = 1, .name = "Alpha", .nonce = {1, 1, 1, 1}};
  const ServerSpec b{.type = 9752, .serial = 2, .name = "Beta"};
  const ServerSpec late{.type = 8452, .serial = 3, .name = "Gamma"};
  lab.Serve([&](const PeerDatagram& d) {
    Datagrams out;
    if (d.bytes.size() == 6) return Datagrams{SearchReply(a), SearchReply(b)};
    for (const auto* s : {&a, &b, &late})
      if (!Excludes(d, s->serial)) out.push_back(SearchReply(*s));
    return out;
  });
  // A record left from an earlier search must not lend its password to a new server.
  list.records[2].password = "stale";
  list.records[2].access_total = 5;
  auto t = Open();
  SearchServers(*t, list, 1);
  lab.Stop();

  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list.records[0].name(), "Alpha");
  EXPECT_EQ(list.records[1].name(), "Beta");
  EXPECT_EQ(list.records[2].name(), "Gamma");
  EXPECT_EQ(list.records[2].password, "");
  EXPECT_EQ(list.records[2].access_total, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(list.records[i].sequence, 1u);
    EXPECT_EQ(list.records[i].socket, t->socket(0));
    EXPECT_FALSE(list.records[i].unicast);
  }
  EXPECT_EQ(list.records[0].nonce, (std::array<uint8_t, 4>{1, 1, 1, 1}));

  const auto requests = lab.requests();
  ASSERT_EQ(requests.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(requests[i].bytes, Hex("01 00 00 06 00 00"));
  EXPECT_EQ(requests[3].bytes, Hex("01 00 00 0e 00 00  03 03 01 00  18 26 02 00"));
  EXPECT_TRUE(prompter.shown().empty());
  EXPECT_EQ(prompter.wait_depth(), 0);
}

TEST_F(DiscoveryTest, MalformedRepliesAreSkippedAndAWrongSequenceIsReported) {
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  int searches = 0;
  lab.Serve([&](const PeerDatagram& d) {
    if (d.bytes.size() != 6 || ++searches > 1) return Datagrams{};
    const auto good = SearchReply({.serial = 9});
    const auto short_one = Shortened(good);
    auto long_one = good;
    long_one.push_back(0);
    const auto wrong_code = WithByte(good, 0, 0x82);
    const auto error_status = WithByte(good, 1, 3);
    auto monitor_only = SearchReply({.type = 769, .serial = 10});
    auto wrong_sequence = SearchReply({.serial = 11, .sequence = 5});
    return Datagrams{short_one,    long_one,       wrong_code, error_status,
                     monitor_only, wrong_sequence, good};
  });
  auto t = Open();
  SearchServers(*t, list, 1);
  lab.Stop();
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.records[0].serial_number(), 9);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Source ID=00 Dest INVALID ID=05"});
}

TEST_F(DiscoveryTest, TheMonitorListsItsOwnModels) {
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  lab.Serve([&](const PeerDatagram& d) {
    if (d.bytes.size() != 6) return Datagrams{};
    return Datagrams{SearchReply({.type = 769, .serial = 1}), SearchReply({.serial = 2})};
  });
  auto t = Open(Deliverable::Monitor);
  SearchServers(*t, list, 1);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.records[0].device_type(), 769);
}

TEST_F(DiscoveryTest, ThirtyTwoServersEndTheSearchWithoutASecondRound) {
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  lab.Serve([&](const PeerDatagram&) {
    Datagrams out;
    for (uint16_t s = 100; s < 133; ++s) out.push_back(SearchReply({.serial = s}));
    return out;
  });
  auto t = Open();
  SearchServers(*t, list, 1);
  lab.Stop();
  ASSERT_EQ(list.count, 32);
  EXPECT_EQ(list.records[31].serial_number(), 131);
  EXPECT_EQ(lab.requests().size(), 3u) << "no exclusion broadcast";
}

TEST_F(DiscoveryTest, NoServerMeansNoSecondRound) {
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  auto t = Open();
  EXPECT_EQ(SearchServers(*t, list, 1), LastCommandError::kTimeout);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(lab.requests().size(), 0u);  // not served: read below
  int seen = 0;
  while (lab.Receive(20)) ++seen;
  EXPECT_EQ(seen, 3);
}

TEST_F(DiscoveryTest, ProbeAddsRefreshesAndRefuses) {
  const Ipv4 address = block.Address(10);
  UdpPeer server(address, wire::kServerUdpPort);
  std::string name = "Probed";
  int requests = 0;
  int answer_from = 1;
  server.Serve([&](const PeerDatagram&) {
    if (++requests < answer_from) return Datagrams{};
    return Datagrams{SearchReply({.serial = 5, .name = name, .ip = address})};
  });
  auto t = Open();
  ASSERT_EQ(ProbeAddress(*t, list, address, 1), 0);
  ASSERT_EQ(list.count, 1);
  EXPECT_TRUE(list.records[0].unicast);
  EXPECT_EQ(list.records[0].unicast_address, address);
  EXPECT_EQ(list.records[0].socket, t->socket(0));

  list.records[0].sequence = 7;
  name = "Renamed";
  EXPECT_EQ(ProbeAddress(*t, list, address, 1), 0);
  EXPECT_EQ(list.count, 1);
  EXPECT_EQ(list.records[0].name(), "Renamed");
  EXPECT_EQ(list.records[0].sequence, 7u) << "a known record keeps its session";

  // A reply that carries another address is not the probed server.
  EXPECT_EQ(ProbeAddress(*t, list, block.Address(11), 1).status(), LastCommandError::kTimeout);

  // A full list takes no new server.
  ServerList full;
  full.count = 32;
  for (uint16_t i = 0; i < 32; ++i)
    full.records[i] = testing::Record({.serial = static_cast<uint16_t>(200 + i)});
  const Result<int> no_room = ProbeAddress(*t, full, address, 1);
  EXPECT_FALSE(no_room);
  EXPECT_EQ(no_room.status().code(), ENOBUFS) << "the server answered: no time-out";

  // The retry asks up to four times.
  ServerList fresh;
  requests = 0;
  answer_from = 3;
  EXPECT_EQ(ProbeAddressRetry(*t, fresh, address, 1), 0);
  EXPECT_EQ(requests, 3);
  requests = 0;
  answer_from = 100;
  EXPECT_EQ(ProbeAddressRetry(*t, fresh, address, 1).status(), LastCommandError::kTimeout);
  EXPECT_EQ(requests, 4);
}

}  // namespace
}  // namespace zelin
