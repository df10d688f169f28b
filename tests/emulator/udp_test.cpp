// Device-side behaviour of the emulated servers over raw loopback datagrams.

#include <gtest/gtest.h>

#include <set>

#include "emulator/lab.hpp"
#include "protocol/wire.hpp"
#include "tests/emulator/raw_peer.hpp"

namespace zelin::testing {
namespace {

using emulator::Lab;
using emulator::LabSpec;
using emulator::ServerSpec;

constexpr uint16_t kType = 771;

class UdpTest : public ::testing::Test {
 protected:
  // A login of `s` is answered with `status` and, when `sequence` is not 0, that
  // sequence number. Fatal when no answer came: call it inside ASSERT_NO_FATAL_FAILURE.
  static void ExpectLogin(Session& s, int status, uint16_t sequence = 0) {
    const auto r = s.Request(wire::kLogin);
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)[1], status);
    if (sequence != 0) {
      EXPECT_EQ(SequenceOf(*r), sequence);
    }
  }
  void StartLab(LabSpec desc) {
    lab_ = std::make_unique<Lab>(std::move(desc));
    std::string error;
    ASSERT_TRUE(lab_->Start(&error)) << error;
  }
  // Two servers: serial 5 without password at .10, serial 6 with "secret" at .11.
  void StartTwo() {
    LabSpec desc = LabIn(block_);
    ServerSpec a = ServerAt(block_.Address(10), 5, kType);
    a.name = "North";
    a.firmware = 0x02210007;
    a.netmask = Ipv4FromOctets(255, 255, 0, 0);
    desc.servers.push_back(a);
    desc.servers.push_back(ServerAt(block_.Address(11), 6, 9480, "secret"));
    StartLab(std::move(desc));
  }
  Ipv4 A() const { return block_.Address(10); }
  Ipv4 B() const { return block_.Address(11); }

  LoopbackBlock block_;
  std::unique_ptr<Lab> lab_;
  UdpPeer peer_{block_.Interface()};
};

TEST_F(UdpTest, SearchReplyCarriesIdentityAndTheRequestersAddress) {
  StartTwo();
  peer_.Send(A(), SearchRequest());
  const auto r = peer_.Receive();
  ASSERT_TRUE(r);
  ASSERT_EQ(r->size(), 86u);
  const Datagram& d = *r;
  EXPECT_EQ(d[0], 0x81);
  EXPECT_EQ(d[1], 0);
  EXPECT_EQ(GetBe16(d, 2), 86);
  EXPECT_EQ(GetLe16(d, 4), 0);
  EXPECT_EQ(GetLe16(d, 10), kType);
  EXPECT_EQ(GetLe16(d, 12), 5);
  EXPECT_EQ(GetIpv4(d, 14), block_.Interface());
  EXPECT_EQ(GetLe32(d, 18), 0u);
  EXPECT_EQ(GetLe32(d, 22), 0x02210007u);
  EXPECT_EQ(d[26], 0);  // no password
  EXPECT_EQ(d[27], 16);
  EXPECT_EQ(std::string(d.begin() + 28, d.begin() + 58), "North" + std::string(25, ' '));
  for (size_t p = 0; p < 16; ++p) EXPECT_EQ(d[58 + p], 2) << p;
  EXPECT_EQ(GetIpv4(d, 74), A());
  EXPECT_EQ(GetIpv4(d, 78), Ipv4FromOctets(255, 255, 0, 0));
  EXPECT_EQ(GetLe32(d, 82), 0u);

  // A second search hands out a fresh nonce; the password flag follows the password.
  peer_.Send(B(), SearchRequest());
  const auto b = peer_.Receive();
  ASSERT_TRUE(b);
  EXPECT_EQ(GetLe16(*b, 12), 6);
  EXPECT_EQ((*b)[26] & 1, 1);
  EXPECT_EQ((*b)[27], 8);  // port count of model 9480
  for (size_t p = 8; p < 16; ++p) EXPECT_EQ((*b)[58 + p], 0) << p;
  peer_.Send(A(), SearchRequest());
  const auto again = peer_.Receive();
  ASSERT_TRUE(again);
  EXPECT_NE(NonceOf(*again), NonceOf(d));
}

TEST_F(UdpTest, BroadcastSearchHonoursTheExclusionList) {
  StartTwo();
  peer_.Send(block_.Broadcast(), SearchRequest());
  auto all = peer_.Collect(2);
  ASSERT_EQ(all.size(), 2u);
  std::set<uint16_t> serials{GetLe16(all[0], 12), GetLe16(all[1], 12)};
  EXPECT_EQ(serials, (std::set<uint16_t>{5, 6}));

  peer_.Send(block_.Broadcast(), SearchRequest({{kType, 5}}));
  all = peer_.Collect(1);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(GetLe16(all[0], 12), 6);

  // Same serial, other model: not excluded.
  peer_.Send(block_.Broadcast(), SearchRequest({{9480, 6}, {776, 5}}));
  all = peer_.Collect(1);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(GetLe16(all[0], 12), 5);

  peer_.Send(block_.Broadcast(), SearchRequest({{9480, 6}, {kType, 5}}));
  EXPECT_TRUE(peer_.Drain().empty());
  const auto log = lab_->Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().server, "broadcast");
  EXPECT_TRUE(log.back().ignored());
}

TEST_F(UdpTest, DigestSequenceAndNonceRotation) {
  StartTwo();
  Session s{peer_, B(), 9480, 6, "secret"};
  ASSERT_TRUE(s.Search());
  const Nonce first = s.nonce;
  auto r = s.Request(wire::kLogin);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->size(), 34u);
  EXPECT_EQ((*r)[0], 0xC1);
  EXPECT_EQ((*r)[1], 0);
  EXPECT_EQ(SequenceOf(*r), 1);
  EXPECT_EQ(GetLe16(*r, 10), 9480);
  EXPECT_EQ(GetLe16(*r, 12), 6);
  EXPECT_NE(s.nonce, first);

  // A wrong password is refused with status 6; the reply still carries a new nonce and
  // the request's sequence, so the next request with the right password goes through.
  s.password = "wrong";
  const Nonce before = s.nonce;
  r = s.Request(wire::kLogin);
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[1], 6);
  EXPECT_EQ(r->size(), 34u);  // refusals keep the command's reply length
  EXPECT_EQ(SequenceOf(*r), 2);
  EXPECT_NE(s.nonce, before);
  s.password = "secret";
  ASSERT_NO_FATAL_FAILURE(ExpectLogin(s, 0, 3));

  // The digest over an old nonce is refused.
  peer_.Send(B(), AuthRequest(wire::kLogin, s.sequence, "secret", first, 9480, 6));
  r = peer_.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[1], 6);
  s.nonce = NonceOf(*r);
  ++s.sequence;

  // A sequence number out of step is refused too.
  peer_.Send(B(), AuthRequest(wire::kLogin, s.sequence + 5, "secret", s.nonce, 9480, 6));
  r = peer_.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[1], 6);
  EXPECT_EQ(SequenceOf(*r), s.sequence + 5);
}

TEST_F(UdpTest, EveryNonceOfARepeatedSearchOpensTheSession) {
  StartTwo();
  // A client sends the search three times and keeps the first reply it takes.
  for (int i = 0; i < 3; ++i) peer_.Send(block_.Broadcast(), SearchRequest());
  const auto replies = peer_.Collect(6);
  ASSERT_EQ(replies.size(), 6u);
  Nonce first_of_b{};
  for (const auto& r : replies)
    if (GetLe16(r, 12) == 6) {
      first_of_b = NonceOf(r);
      break;
    }
  Session s{peer_, block_.Broadcast(), 9480, 6, "secret", 1, first_of_b};
  // Sent to the broadcast stand-in: only serial 6 answers.
  auto r = s.Request(wire::kLogin);
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[1], 0);
  EXPECT_EQ(GetLe16(*r, 12), 6);
  EXPECT_TRUE(peer_.Drain().empty());
}

// A probe of a server the client already knows is a search whose reply refreshes the
// name only: the conversation in progress goes on, and so may a new one from sequence 1.
// Whichever goes first is the conversation from then on.
TEST_F(UdpTest, ASearchLeavesTheConversationInProgressOpen) {
  StartTwo();
  Session s{peer_, B(), 9480, 6, "secret"};
  ASSERT_TRUE(s.Search());
  ASSERT_EQ((*s.Request(wire::kLogin))[1], 0);
  ASSERT_EQ((*s.Request(wire::kLogin))[1], 0);

  Session fresh = s;
  ASSERT_TRUE(fresh.Search());
  // Sequence 3, the nonce of the last reply.
  ASSERT_NO_FATAL_FAILURE(ExpectLogin(s, 0, 3));
  // The search's conversation ended with that.
  ASSERT_NO_FATAL_FAILURE(ExpectLogin(fresh, 6));

  ASSERT_TRUE(fresh.Search());
  // Sequence 1, the search reply's nonce.
  ASSERT_NO_FATAL_FAILURE(ExpectLogin(fresh, 0, 1));
  // And now the older one has ended.
  ASSERT_NO_FATAL_FAILURE(ExpectLogin(s, 6));
}

TEST_F(UdpTest, ClientsAreKeptApartAndUnknownClientsAreBroughtInStep) {
  StartTwo();
  UdpPeer other(block_.Interface(1));
  Session s1{peer_, B(), 9480, 6, "secret"};
  Session s2{other, B(), 9480, 6, "secret"};
  ASSERT_TRUE(s1.Search());
  ASSERT_TRUE(s2.Search());
  EXPECT_EQ((*s1.Request(wire::kLogin))[1], 0);
  EXPECT_EQ((*s2.Request(wire::kLogin))[1], 0);
  EXPECT_EQ((*s1.Request(wire::kLogin))[1], 0);

  // A client that never searched is refused once, then takes the nonce and goes on.
  UdpPeer third(block_.Interface(2));
  Session s3{third, B(), 9480, 6, "secret", 1, {}};
  EXPECT_EQ((*s3.Request(wire::kLogin))[1], 6);
  EXPECT_EQ((*s3.Request(wire::kLogin))[1], 0);
}

TEST_F(UdpTest, RetransmissionIsAnsweredWithTheSameReply) {
  StartTwo();
  Session s{peer_, B(), 9480, 6, "secret"};
  ASSERT_TRUE(s.Search());
  const Datagram request = AuthRequest(wire::kLogin, s.sequence, s.password, s.nonce, 9480, 6);
  peer_.Send(B(), request);
  const auto first = peer_.Receive();
  peer_.Send(B(), request);
  const auto again = peer_.Receive();
  ASSERT_TRUE(first && again);
  EXPECT_EQ(*first, *again);
  EXPECT_EQ(lab_->Log().back().verdict, "replayed");
  // The session continues with the nonce of that one reply.
  s.nonce = NonceOf(*first);
  ++s.sequence;
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 0);

  // Code, sequence and digest make a retransmission, not the bytes: a SetPassword
  // retry carries a new time stamp.
  for (uint32_t time : {1700000000u, 1700000001u})
    peer_.Send(B(), AuthRequest(wire::kSetPassword, s.sequence, s.password, s.nonce, 9480, 6,
                                SetPasswordPayload("secret", "fresh", 6, time)));
  const auto both = peer_.Collect(2);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0][1], 0);
  EXPECT_EQ(both[1], both[0]);
  EXPECT_EQ(lab_->Log().back().verdict, "replayed");
}

// In strict mode only the newest nonce handed out to a client opens a request: the
// last of repeated search replies; and a search ends the conversation in progress.
TEST_F(UdpTest, StrictNonceTakesOnlyTheNewestNonce) {
  LabSpec desc = LabIn(block_);
  desc.strict_nonce = true;
  desc.servers.push_back(ServerAt(B(), 6, 9480, "secret"));
  StartLab(std::move(desc));
  Session s{peer_, B(), 9480, 6, "secret"};
  ASSERT_TRUE(s.Search());
  Session older = s;
  ASSERT_TRUE(s.Search());
  EXPECT_EQ((*older.Request(wire::kLogin))[1], 6);
  ASSERT_TRUE(s.Search());
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 0);
  ASSERT_TRUE(Session(s).Search());
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 6);
}

TEST_F(UdpTest, SettingsAreStagedUntilSaveAndRestartThenServedAtTheNewAddress) {
  StartTwo();
  Session s{peer_, A(), kType, 5, ""};
  ASSERT_TRUE(s.Search());
  Datagram name(30, ' ');
  const std::string text = "Harbour";
  std::copy(text.begin(), text.end(), name.begin());
  EXPECT_EQ((*s.Request(wire::kSetName, name))[1], 0);
  Datagram address(8);
  PutIpv4(address, 0, block_.Address(20));
  PutIpv4(address, 4, Ipv4FromOctets(255, 255, 255, 0));
  EXPECT_EQ((*s.Request(wire::kSetAddress, address))[1], 0);
  Datagram kinds(16, 6);
  EXPECT_EQ((*s.Request(wire::kSetPortKinds, kinds))[1], 0);
  const Datagram dhcp_on{1, 0};
  auto r = s.Request(wire::kDhcp, dhcp_on);
  ASSERT_EQ(r->size(), 20u);
  EXPECT_EQ((*r)[18], 1);
  const Datagram ask{0xFF, 0};
  EXPECT_EQ((*s.Request(wire::kDhcp, ask))[18], 1);

  auto snap = lab_->Snapshot(5);
  EXPECT_EQ(snap->staged.NameText(), "Harbour");
  EXPECT_EQ(snap->applied.NameText(), "North");
  EXPECT_EQ(snap->applied.ip, A());
  EXPECT_EQ(snap->staged.ip, block_.Address(20));
  EXPECT_EQ(snap->applied.dhcp, 0);
  // The search still reports the applied settings.
  peer_.Send(A(), SearchRequest());
  auto sr = peer_.Receive();
  EXPECT_EQ(std::string(sr->begin() + 28, sr->begin() + 35), "North  ");
  s.sequence = 1;
  s.nonce = NonceOf(*sr);

  r = s.Request(wire::kSaveAndRestart);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->size(), 18u);
  EXPECT_EQ((*r)[1], 0);
  ASSERT_TRUE(WaitRestarted(*lab_, 5, 1));
  snap = lab_->Snapshot(5);
  EXPECT_EQ(snap->applied, snap->staged);
  EXPECT_EQ(snap->applied.dhcp, 1);

  peer_.Send(A(), SearchRequest());
  EXPECT_FALSE(peer_.Receive(150));
  peer_.Send(block_.Address(20), SearchRequest());
  sr = peer_.Receive();
  ASSERT_TRUE(sr);
  EXPECT_EQ(std::string(sr->begin() + 28, sr->begin() + 35), "Harbour");
  EXPECT_EQ(GetIpv4(*sr, 74), block_.Address(20));
  EXPECT_EQ((*sr)[58], 6);
}

TEST_F(UdpTest, SetPasswordIsVerifiedAndTakesEffectAfterTheRestart) {
  StartTwo();
  Session s{peer_, B(), 9480, 6, "secret"};
  ASSERT_TRUE(s.Search());
  // Masked with the wrong current password: refused.
  auto r = s.Request(wire::kSetPassword, SetPasswordPayload("guess", "fresh", 6, 1700000000));
  EXPECT_EQ((*r)[1], 6);
  // The proof over another serial number: refused.
  r = s.Request(wire::kSetPassword, SetPasswordPayload("secret", "fresh", 7, 1700000000));
  EXPECT_EQ((*r)[1], 6);
  EXPECT_EQ(lab_->Snapshot(6)->staged.password, "secret");

  r = s.Request(wire::kSetPassword, SetPasswordPayload("secret", "fresh", 6, 1700000000));
  EXPECT_EQ((*r)[1], 0);
  EXPECT_EQ(lab_->Snapshot(6)->staged.password, "fresh");
  // Until the restart the old password still opens requests.
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 0);
  EXPECT_EQ((*s.Request(wire::kSaveAndRestart))[1], 0);
  ASSERT_TRUE(WaitRestarted(*lab_, 6, 1));
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 6);
  s.password = "fresh";
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 0);

  // Changing to an empty password clears the password flag of the search reply.
  EXPECT_EQ((*s.Request(wire::kSetPassword, SetPasswordPayload("fresh", "", 6, 5)))[1], 0);
  EXPECT_EQ((*s.Request(wire::kSaveAndRestart))[1], 0);
  ASSERT_TRUE(WaitRestarted(*lab_, 6, 2));
  auto sr = s.Search();
  ASSERT_TRUE(sr);
  EXPECT_EQ((*sr)[26] & 1, 0);
  s.password = "";
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 0);
}

TEST_F(UdpTest, TableWindowsAndTableCommands) {
  LabSpec desc = LabIn(block_);
  ServerSpec srv = ServerAt(block_.Address(10), 5);
  for (uint8_t i = 0; i < 45; ++i)
    srv.routes.push_back({Ipv4FromOctets(127, 1, 0, 1), Ipv4FromOctets(127, 2, i, 0),
                          Ipv4FromOctets(255, 255, 255, 0), static_cast<uint16_t>(i + 1)});
  srv.access.push_back({Ipv4FromOctets(127, 3, 0, 1), kBroadcastAddress, 0x0003});
  srv.access.push_back({kBroadcastAddress, kBroadcastAddress, 0x0001});
  srv.access.push_back({Ipv4FromOctets(127, 3, 0, 0), Ipv4FromOctets(255, 255, 0, 0), 0x8000});
  desc.servers.push_back(srv);
  StartLab(std::move(desc));
  Session s{peer_, block_.Address(10), kType, 5, ""};
  ASSERT_TRUE(s.Search());

  // 45 routes: the reply reports the total and carries the first 40 in their slots.
  const Datagram start0{0, 0};
  auto r = s.Request(wire::kGetRoutes, start0);
  ASSERT_EQ(r->size(), 584u);
  EXPECT_EQ(GetLe16(*r, 18), 45);
  EXPECT_EQ(GetLe16(*r, 20), 0);
  EXPECT_EQ(GetLe16(*r, 22), 40);
  EXPECT_EQ(GetIpv4(*r, 24 + 14 * 39 + 4), Ipv4FromOctets(127, 2, 39, 0));
  EXPECT_EQ(GetLe16(*r, 24 + 14 * 39 + 12), 40);

  r = s.Request(wire::kGetAccessList, start0);
  ASSERT_EQ(r->size(), 424u);
  EXPECT_EQ(GetLe16(*r, 18), 3);
  EXPECT_EQ(GetIpv4(*r, 24), Ipv4FromOctets(127, 3, 0, 1));
  EXPECT_EQ(GetLe16(*r, 24 + 8), 3);
  EXPECT_EQ(GetIpv4(*r, 34), kBroadcastAddress);
  EXPECT_EQ(GetLe16(*r, 44 + 8), 0x8000);
  EXPECT_EQ(GetIpv4(*r, 54), 0u);

  // SetAccessList replaces the staged table; the 22-byte reply is an acknowledgement.
  Datagram set(6 + 20, 0);
  PutLe16(set, 0, 2);
  PutLe16(set, 4, 2);
  PutIpv4(set, 6, Ipv4FromOctets(127, 9, 9, 9));
  PutIpv4(set, 10, kBroadcastAddress);
  PutLe16(set, 14, 0x00F0);
  PutIpv4(set, 16, Ipv4FromOctets(127, 8, 0, 0));
  PutIpv4(set, 20, Ipv4FromOctets(255, 255, 0, 0));
  PutLe16(set, 24, 0x0001);
  r = s.Request(wire::kSetAccessList, set);
  ASSERT_EQ(r->size(), 22u);
  EXPECT_EQ((*r)[1], 0);
  const auto staged = lab_->Snapshot(5)->staged.access;
  ASSERT_EQ(staged.size(), 2u);
  EXPECT_EQ(staged[0].port_mask, 0x00F0);
  EXPECT_EQ(staged[1].netmask, Ipv4FromOctets(255, 255, 0, 0));
  EXPECT_EQ(lab_->Snapshot(5)->applied.access.size(), 3u);

  // A count that disagrees with the length is not a request at all.
  Datagram lying = set;
  PutLe16(lying, 4, 3);
  peer_.Send(block_.Address(10),
             AuthRequest(wire::kSetAccessList, s.sequence, "", s.nonce, kType, 5, lying));
  EXPECT_FALSE(peer_.Receive(150));
  // More than a device holds: an error status, nothing changes.
  Datagram big(6, 0);
  PutLe16(big, 0, 33);
  r = s.Request(wire::kSetAccessList, big);
  EXPECT_NE((*r)[1], 0);
  EXPECT_EQ(lab_->Snapshot(5)->staged.access.size(), 2u);
  // The client skips an error status and retries with the same sequence: the
  // device answers the retry from its replay cache and stays in step.
  r = s.Request(wire::kSetAccessList, big);
  EXPECT_NE((*r)[1], 0);
  EXPECT_EQ(lab_->Log().back().verdict, "replayed");
  // The empty table is one 32-byte request.
  r = s.Request(wire::kSetAccessList, Datagram(6, 0));
  ASSERT_EQ(r->size(), 22u);
  EXPECT_EQ((*r)[1], 0);
  EXPECT_TRUE(lab_->Snapshot(5)->staged.access.empty());

  // AddRoute: metric 0xFFFF removes the matching route, others add or change one.
  Datagram route(14, 0);
  PutIpv4(route, 0, Ipv4FromOctets(127, 1, 0, 1));
  PutIpv4(route, 4, Ipv4FromOctets(127, 2, 3, 0));
  PutIpv4(route, 8, Ipv4FromOctets(255, 255, 255, 0));
  PutLe16(route, 12, 0xFFFF);
  EXPECT_EQ((*s.Request(wire::kAddRoute, route))[1], 0);
  EXPECT_EQ(lab_->Snapshot(5)->staged.routes.size(), 44u);
  // The table is beyond what a device accepts from a client: adding fails.
  PutIpv4(route, 4, Ipv4FromOctets(127, 7, 0, 0));
  PutLe16(route, 12, 3);
  EXPECT_NE((*s.Request(wire::kAddRoute, route))[1], 0);
}

TEST_F(UdpTest, CheckAddressReportsOtherServersAndOccupiedAddresses) {
  LabSpec desc = LabIn(block_);
  desc.servers.push_back(ServerAt(block_.Address(10), 5));
  desc.servers.push_back(ServerAt(block_.Address(11), 6));
  desc.servers[1].hardware = {0x02, 1, 2, 3, 4, 5};
  desc.occupied.push_back({block_.Address(50), {0x02, 0xAA, 0, 0, 0, 9}});
  StartLab(std::move(desc));
  Session s{peer_, block_.Address(10), kType, 5, ""};
  ASSERT_TRUE(s.Search());
  auto check = [&](Ipv4 a) {
    Datagram p(4);
    PutIpv4(p, 0, a);
    auto r = s.Request(wire::kCheckAddress, p);
    EXPECT_EQ(r->size(), 28u);
    return Datagram(r->begin() + 22, r->end());
  };
  EXPECT_EQ(check(block_.Address(11)), (Datagram{0x02, 1, 2, 3, 4, 5}));
  EXPECT_EQ(check(block_.Address(50)), (Datagram{0x02, 0xAA, 0, 0, 0, 9}));
  EXPECT_EQ(check(block_.Address(60)), Datagram(6, 0));
  EXPECT_EQ(check(block_.Address(10)), Datagram(6, 0));  // its own address
}

TEST_F(UdpTest, LocateSwitchesAVisibleState) {
  StartTwo();
  peer_.Send(block_.Broadcast(), ShortRequest(wire::kLocateOn, 1, kType, 5));
  auto r = peer_.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->size(), 18u);
  EXPECT_EQ((*r)[0], 0xB1);
  EXPECT_EQ(SequenceOf(*r), 1);
  EXPECT_TRUE(lab_->Snapshot(5)->locating);
  EXPECT_FALSE(lab_->Snapshot(6)->locating);
  peer_.Send(A(), ShortRequest(wire::kLocateOff, 2, kType, 5));
  ASSERT_TRUE(peer_.Receive());
  EXPECT_FALSE(lab_->Snapshot(5)->locating);
}

TEST_F(UdpTest, MalformedRequestsAreIgnoredAndLogged) {
  StartTwo();
  Session s{peer_, A(), kType, 5, ""};
  ASSERT_TRUE(s.Search());
  Datagram bad = AuthRequest(wire::kLogin, s.sequence, "", s.nonce, kType, 5);
  bad[3] += 1;  // length field disagrees
  peer_.Send(A(), bad);
  Datagram unknown = AuthRequest(0x77, s.sequence, "", s.nonce, kType, 5);
  peer_.Send(A(), unknown);
  Datagram longer = AuthRequest(wire::kLogin, s.sequence, "", s.nonce, kType, 5, Datagram(2));
  peer_.Send(A(), longer);
  EXPECT_TRUE(peer_.Drain().empty());
  const auto log = lab_->Log();
  ASSERT_GE(log.size(), 4u);
  for (size_t i = log.size() - 3; i < log.size(); ++i)
    EXPECT_TRUE(log[i].ignored()) << log[i].verdict;
  EXPECT_EQ(log.back().from, emulator::EndpointText({peer_.address(), peer_.port()}));
  // The session is unharmed.
  EXPECT_EQ((*s.Request(wire::kLogin))[1], 0);
}

}  // namespace
}  // namespace zelin::testing
