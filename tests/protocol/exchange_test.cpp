// The authenticated exchange and the table helpers against a scripted server.
#include "protocol/exchange.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "protocol/md5.hpp"
#include "tests/protocol/fixtures.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/scripted_prompter.hpp"
#include "tests/support/udp_peer.hpp"

namespace zelin {
namespace {

using testing::Hex;
using testing::PeerDatagram;
using testing::ReplyTo;
using testing::Shortened;
using testing::UdpPeer;
using testing::WithByte;
using Datagrams = std::vector<std::vector<uint8_t>>;
using Nonce = std::array<uint8_t, 4>;
using E = LastCommandError;

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t = std::make_unique<Transport>(clock, notices, Deliverable::Manager,
                                    block.ClientOptions());
    ASSERT_TRUE(t->OpenTransport());
    record = testing::Record({.ip = block.Address(10)});
    record.socket = t->socket(0);
    record.unicast = true;
    record.unicast_address = block.Address(10);
    record.password = "pw";
  }

  // Serves `answer(request index, request)` from the server's address.
  void Serve(std::function<Datagrams(int, const PeerDatagram&)> answer) {
    server.Serve([this, answer](const PeerDatagram& d) { return answer(served++, d); });
  }

  // A request carries `sequence` and the digest of the password "pw" with `nonce_hex`.
  static void ExpectSigned(const PeerDatagram& d, uint16_t sequence, const char* nonce_hex) {
    EXPECT_EQ(GetLe16(d.bytes, 4), sequence);
    Md5Digest digest;
    std::copy_n(d.bytes.begin() + 6, 16, digest.begin());
    EXPECT_EQ(digest, Md5({AsBytes("pw"), Hex(nonce_hex)})) << "request " << sequence;
  }

  testing::LoopbackBlock block;
  ScaledClock clock{20};
  testing::ScriptedPrompter prompter;
  PrompterNotices notices{prompter};
  std::unique_ptr<Transport> t;
  ServerRecord record;
  UdpPeer server{block.Address(10), wire::kServerUdpPort};
  std::atomic<int> served{0};
};

TEST_F(ExchangeTest, EachReplyAdvancesTheSequenceAndHandsOverItsNonce) {
  Serve([](int i, const PeerDatagram& d) {
    const auto k = static_cast<uint8_t>(i + 1);
    return Datagrams{ReplyTo(d.bytes, 34, 0, Nonce{k, k, k, k})};
  });
  ASSERT_TRUE(Command(*t, record, wire::kLogin, 1));
  const Status second = Command(*t, record, wire::kLogin, 1);
  ASSERT_TRUE(second);
  server.Stop();
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  ExpectSigned(requests[0], 1, "a1 b2 c3 d4");
  ExpectSigned(requests[1], 2, "01 01 01 01");
  EXPECT_EQ(record.sequence, 3u);
  EXPECT_EQ(record.nonce, (Nonce{2, 2, 2, 2}));
  EXPECT_EQ(second, E::kNone);
}

TEST_F(ExchangeTest, RefusalFailsAtOnceButTheRetryUsesTheNewSequenceAndNonce) {
  Serve([](int i, const PeerDatagram& d) {
    if (i == 0) {
      // Refused; a late success for the same request must not be taken by the retry.
      return Datagrams{ReplyTo(d.bytes, 18, 6, Nonce{6, 6, 6, 6}),
                       ReplyTo(d.bytes, 18, 0, Nonce{9, 9, 9, 9})};
    }
    return Datagrams{ReplyTo(d.bytes, 18, 0, Nonce{7, 7, 7, 7})};
  });
  const Status refused = Exchange(*t, record, wire::kSetName, 1);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused, E::kWrongCodeOrRefused);
  EXPECT_EQ(record.sequence, 2u);
  EXPECT_EQ(record.nonce, (Nonce{6, 6, 6, 6}));
  EXPECT_EQ(served.load(), 1) << "no second request within the refused exchange";

  ASSERT_TRUE(Command(*t, record, wire::kSetName, 1));
  server.Stop();
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  ExpectSigned(requests[1], 2, "06 06 06 06");
  EXPECT_EQ(record.nonce, (Nonce{7, 7, 7, 7}));
  EXPECT_EQ(record.sequence, 3u);
}

TEST_F(ExchangeTest, NonMatchingRepliesAreSkippedWhileWaiting) {
  Serve([](int i, const PeerDatagram& d) {
    auto good = ReplyTo(d.bytes, 28, 0, Nonce{3, 3, 3, 3});
    good[22] = 0x00;
    good[27] = 0x42;  // somebody uses the address
    const auto short_one = Shortened(good);
    const auto stale = WithByte(good, 4, 0);  // sequence of an earlier, finished exchange
    const auto error_status = WithByte(good, 1, 2);
    const auto other_serial = WithByte(good, 12, static_cast<uint8_t>(good.at(12) ^ 1));
    if (i == 0) return Datagrams{short_one, stale, error_status, other_serial, good};
    return Datagrams{short_one};
  });
  ASSERT_TRUE(Exchange(*t, record, wire::kCheckAddress, 1));
  EXPECT_NE(record.flags() & wire::kFlagAddressConflict, 0);
  EXPECT_EQ(record.nonce, (Nonce{3, 3, 3, 3}));

  // Only a 27-byte reply: it is skipped and the wait that follows it runs out.
  const Status silent = Exchange(*t, record, wire::kCheckAddress, 1);
  EXPECT_FALSE(silent);
  EXPECT_EQ(silent, E::kTimeout);
  EXPECT_EQ(record.sequence, 2u);
}

TEST_F(ExchangeTest, NothingIsSentForATooLongPassword) {
  record.password = std::string(17, 'x');
  const Status too_long = Command(*t, record, wire::kLogin, 1);
  EXPECT_FALSE(too_long);
  EXPECT_EQ(too_long, E::kPasswordTooLong);
  EXPECT_FALSE(server.Receive(50));
  record.password = "pw";
  const Status unknown = Command(*t, record, 0x34, 1);
  EXPECT_FALSE(unknown);
  EXPECT_EQ(unknown, E::kUnknownCommand);
  EXPECT_FALSE(server.Receive(50));
}

TEST_F(ExchangeTest, SilenceRetriesThreeTimesWithTheSameRequest) {
  const Status silence = Command(*t, record, wire::kLogin, 1);
  EXPECT_FALSE(silence);
  EXPECT_EQ(silence, E::kTimeout);
  std::vector<std::vector<uint8_t>> seen;
  while (auto d = server.Receive(20)) seen.push_back(d->bytes);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0], seen[2]);
  EXPECT_EQ(record.sequence, 1u);
}

TEST_F(ExchangeTest, BroadcastRecordsAreReachedThroughTheSubstitutedAddress) {
  UdpPeer lab(block.Broadcast(), wire::kServerUdpPort);
  lab.Serve([](const PeerDatagram& d) {
    auto r = ReplyTo(d.bytes, 20, 0, Nonce{});
    r[18] = 1;
    return Datagrams{r};
  });
  record.unicast = false;
  record.dhcp = wire::kDhcpQuery;
  ASSERT_TRUE(Command(*t, record, wire::kDhcp, 1));
  EXPECT_EQ(record.dhcp, 1);
  lab.Stop();
  ASSERT_EQ(lab.requests().size(), 1u);
  EXPECT_EQ(lab.requests()[0].bytes[26], 0xFF);
}

TEST_F(ExchangeTest, LocateUsesTheShortRequest) {
  Serve([](int, const PeerDatagram& d) { return Datagrams{ReplyTo(d.bytes, 18, 0, Nonce{})}; });
  ASSERT_TRUE(Command(*t, record, wire::kLocateOn, 1));
  server.Stop();
  EXPECT_EQ(server.requests().at(0).bytes, Hex("31 00 00 0a 01 00 03 03 34 12"));
}

TEST_F(ExchangeTest, SaveAndRestartMovesTheUnicastAddressToTheNewAddress) {
  Serve([](int, const PeerDatagram& d) { return Datagrams{ReplyTo(d.bytes, 18, 0, Nonce{})}; });
  record.set_ip_address(block.Address(11));
  const int64_t before = clock.NowMs();
  ASSERT_TRUE(Command(*t, record, wire::kSaveAndRestart, 10));
  EXPECT_GE(clock.NowMs() - before, 6000) << "the restart wait runs on the clock";
  EXPECT_EQ(record.unicast_address, block.Address(11));
}

// A route server: `total` routes, windows of `window` entries at the start asked
// for (or always at 0 when `stuck`); route i has metric i + 1.
Datagrams RouteWindow(const PeerDatagram& d, uint16_t total, uint16_t window, bool stuck) {
  auto r = ReplyTo(d.bytes, 584, 0, Nonce{});
  const uint16_t start = stuck ? 0 : GetLe16(d.bytes, 26);
  const auto count = static_cast<uint16_t>(std::min<int>(window, total - start));
  PutLe16(r, 18, total);
  PutLe16(r, 20, start);
  PutLe16(r, 22, count);
  for (uint16_t i = start; i < start + count; ++i)
    PutLe16(r, 24 + 14 * size_t{i} + 12, static_cast<uint16_t>(i + 1));
  return {r};
}

TEST_F(ExchangeTest, RouteTableIsReadInWindowsUntilComplete) {
  Serve([](int, const PeerDatagram& d) { return RouteWindow(d, 5, 2, false); });
  record.route_table[7].metric = 99;  // cleared before reading
  ASSERT_TRUE(ReadRouteTable(*t, record, 1));
  EXPECT_EQ(served.load(), 3);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(record.route_table[i].metric, i + 1);
  EXPECT_EQ(record.route_table[7].metric, 0);
  EXPECT_EQ(record.route_total, 5);
}

TEST_F(ExchangeTest, RouteWindowsThatMakeNoProgressEndTheRead) {
  Serve([](int, const PeerDatagram& d) { return RouteWindow(d, 6, 2, true); });
  ASSERT_TRUE(ReadRouteTable(*t, record, 1));
  EXPECT_EQ(served.load(), 2);
}

TEST_F(ExchangeTest, TooManyRoutesAreRefusedWithoutTakingTheNonce) {
  Serve([](int, const PeerDatagram& d) {
    auto r = ReplyTo(d.bytes, 584, 0, Nonce{5, 5, 5, 5});
    PutLe16(r, 18, 65);
    return Datagrams{r};
  });
  EXPECT_FALSE(Exchange(*t, record, wire::kGetRoutes, 1));
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{"Routing number(65) too much"});
  EXPECT_EQ(record.sequence, 1u);
  EXPECT_EQ(record.nonce, (Nonce{0xA1, 0xB2, 0xC3, 0xD4}));
}

TEST_F(ExchangeTest, AccessTableReadsInOneExchangeAndWritesEmptyAsOneDatagram) {
  Serve([](int, const PeerDatagram& d) {
    if (d.bytes[0] == wire::kSetAccessList) return Datagrams{ReplyTo(d.bytes, 22, 0, Nonce{})};
    auto r = ReplyTo(d.bytes, 424, 0, Nonce{});
    PutLe16(r, 18, 3);
    for (size_t i = 0; i < 3; ++i) {
      r[24 + 10 * i] = 10;
      r[24 + 10 * i + 3] = static_cast<uint8_t>(i + 1);
    }
    return Datagrams{r};
  });
  ASSERT_TRUE(ReadAccessTable(*t, record, 1));
  EXPECT_EQ(record.access_total, 3);
  EXPECT_EQ(record.access_table[2].address, Ipv4FromOctets(10, 0, 0, 3));

  ASSERT_TRUE(WriteAccessTable(*t, record, 0, 1));
  server.Stop();
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  ASSERT_EQ(requests[1].bytes.size(), 32u);
  EXPECT_EQ(std::vector<uint8_t>(requests[1].bytes.begin() + 26, requests[1].bytes.end()),
            Hex("00 00 00 00 00 00"));
}

}  // namespace
}  // namespace zelin
