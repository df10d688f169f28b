// Byte-exact vectors for every datagram and TCP message the client builds or parses.
#include "protocol/frames.hpp"

#include <gtest/gtest.h>

#include "protocol/md5.hpp"
#include "tests/protocol/fixtures.hpp"

namespace zelin {
namespace {

using testing::Hex;
using testing::Record;
using testing::ServerSpec;
using V = std::vector<uint8_t>;

V Cat(std::initializer_list<Bytes> parts) {
  V out;
  for (Bytes p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

V Build(const ServerRecord& r, uint8_t code, uint32_t t = 0) {
  auto b = frames::BuildRequest(r, code, t);
  EXPECT_TRUE(b.ok()) << "code " << int{code} << " error " << b.status();
  return b.value_or(V{});
}

// The 26-byte authenticated header the server expects for `r` (digest computed here
// from the documented inputs: password characters, then the 4 nonce bytes).
V AuthHeader(uint8_t code, size_t total, const ServerRecord& r) {
  const Md5Digest d = Md5({AsBytes(r.password), Bytes(r.nonce)});
  const uint8_t start[] = {code,
                           0,
                           static_cast<uint8_t>(total >> 8),
                           static_cast<uint8_t>(total),
                           static_cast<uint8_t>(r.sequence),
                           static_cast<uint8_t>(r.sequence >> 8)};
  const V id = Hex("03 03 34 12");  // type 771, serial 0x1234, little-endian
  return Cat({Bytes(start), Bytes(d), Bytes(id)});
}

TEST(SearchFrames, RequestWithAndWithoutExclusionList) {
  EXPECT_EQ(frames::BuildSearch(), Hex("01 00 00 06 00 00"));
  std::array<ServerRecord, 2> found{Record({.type = 771, .serial = 0x1234}),
                                    Record({.type = 9752, .serial = 7})};
  EXPECT_EQ(frames::BuildSearch(found), Hex("01 00 00 0e 00 00  03 03 34 12  18 26 07 00"));
}

TEST(SearchFrames, ReplyShapeNeedsExactly86BytesCode81AndStatus0) {
  V reply = testing::SearchReply({});
  EXPECT_TRUE(frames::IsSearchReplyShape(reply, 86));
  EXPECT_FALSE(frames::IsSearchReplyShape(Bytes(reply).first(85), 85));
  EXPECT_FALSE(frames::IsSearchReplyShape(reply, 87));  // a longer datagram, 86 kept
  reply[0] = 0x82;
  EXPECT_FALSE(frames::IsSearchReplyShape(reply, 86));
  reply[0] = 0x81;
  reply[1] = 1;
  EXPECT_FALSE(frames::IsSearchReplyShape(reply, 86));
}

TEST(SearchFrames, NameCleanupInPlace) {
  ServerRecord r;
  r.search_reply[58] = 2;
  auto clean = [&](std::string_view raw) {
    std::fill_n(r.search_reply.begin() + 28, 30, uint8_t{' '});
    std::copy(raw.begin(), raw.end(), r.search_reply.begin() + 28);
    frames::CleanSearchReplyName(r.search_reply);
    return r.name();
  };
  EXPECT_EQ(clean("abc"), "abc");
  EXPECT_EQ(clean("two words"), "two words");
  EXPECT_EQ(clean(std::string(30, 'x')), std::string(29, 'x'));
  EXPECT_EQ(clean(""), " ");  // the first character always stays
  EXPECT_EQ(r.search_reply[58], 2) << "port kinds untouched";
}

TEST(RequestFrames, LocateIsTheShortRequestWithoutDigest) {
  ServerRecord r = Record({});
  r.sequence = 0x10203;  // only the low 16 bits travel
  EXPECT_EQ(Build(r, wire::kLocateOn), Hex("31 00 00 0a 03 02 03 03 34 12"));
  EXPECT_EQ(Build(r, wire::kLocateOff), Hex("32 00 00 0a 03 02 03 03 34 12"));
}

TEST(RequestFrames, LoginHeaderCarriesDigestOfPasswordAndNonce) {
  ServerRecord r = Record({});
  r.password = "secret";
  EXPECT_EQ(Build(r, wire::kLogin), AuthHeader(0x41, 26, r));
  r.password.clear();  // no password: the digest of the nonce alone
  const V b = Build(r, wire::kLogin);
  const Md5Digest d = Md5({Bytes(r.nonce)});
  EXPECT_TRUE(std::equal(d.begin(), d.end(), b.begin() + 6));
  EXPECT_EQ(Build(r, wire::kSaveAndRestart), AuthHeader(0x35, 26, r));
}

TEST(RequestFrames, ConfigurationPayloads) {
  ServerRecord r = Record({});
  r.password = "pw";
  r.sequence = 2;
  r.set_ip_address(Ipv4FromOctets(192, 168, 1, 10));
  r.set_netmask(Ipv4FromOctets(255, 255, 255, 0));
  EXPECT_EQ(Build(r, wire::kSetAddress),
            Cat({AuthHeader(0x33, 34, r), Hex("c0 a8 01 0a ff ff ff 00")}));
  EXPECT_EQ(Build(r, wire::kCheckAddress), Cat({AuthHeader(0x3d, 30, r), Hex("c0 a8 01 0a")}));

  r.set_name("abc");
  EXPECT_EQ(Build(r, wire::kSetName), Cat({AuthHeader(0x36, 56, r), Hex("61 62 63"), V(27, ' ')}));

  for (size_t p = 0; p < 16; ++p) r.set_port_kind(p, static_cast<uint8_t>(p < 8 ? 2 : 18));
  EXPECT_EQ(Build(r, wire::kSetPortKinds), Cat({AuthHeader(0x37, 42, r), V(8, 2), V(8, 18)}));

  r.route_to_send = {Ipv4FromOctets(10, 0, 0, 1), Ipv4FromOctets(10, 1, 0, 0),
                     Ipv4FromOctets(255, 255, 0, 0), 0xFFFF};
  EXPECT_EQ(Build(r, wire::kAddRoute),
            Cat({AuthHeader(0x39, 40, r), Hex("0a 00 00 01 0a 01 00 00 ff ff 00 00 ff ff")}));

  r.route_start = 0;
  EXPECT_EQ(Build(r, wire::kGetRoutes), Cat({AuthHeader(0x3a, 28, r), Hex("00 00")}));
  r.access_start = 0x0105;
  EXPECT_EQ(Build(r, wire::kGetAccessList), Cat({AuthHeader(0x3b, 28, r), Hex("05 01")}));

  r.dhcp = 0xFF;
  EXPECT_EQ(Build(r, wire::kDhcp), Cat({AuthHeader(0x45, 28, r), Hex("ff 00")}));
  r.dhcp = 1;
  EXPECT_EQ(Build(r, wire::kDhcp), Cat({AuthHeader(0x45, 28, r), Hex("01 00")}));
}

TEST(RequestFrames, SetAccessListSendsTheWindowFromItsStart) {
  ServerRecord r = Record({});
  r.access_total = r.access_start = r.access_count = 0;
  EXPECT_EQ(Build(r, wire::kSetAccessList),
            Cat({AuthHeader(0x3c, 32, r), Hex("00 00 00 00 00 00")}));

  r.access_table[0] = {Ipv4FromOctets(127, 0, 0, 1), Ipv4FromOctets(255, 0, 0, 0), 0x00FF};
  r.access_table[1] = {Ipv4FromOctets(10, 0, 0, 0), Ipv4FromOctets(255, 255, 255, 0), 0x8001};
  r.access_total = 2;
  r.access_count = 2;
  EXPECT_EQ(Build(r, wire::kSetAccessList),
            Cat({AuthHeader(0x3c, 52, r), Hex("02 00 00 00 02 00"),
                 Hex("7f 00 00 01 ff 00 00 00 ff 00"), Hex("0a 00 00 00 ff ff ff 00 01 80")}));

  // A window that runs past the 32 entries a record holds sends empty slots there.
  r.access_start = 31;
  r.access_count = 2;
  r.access_table[31] = r.access_table[1];
  const V b = Build(r, wire::kSetAccessList);
  ASSERT_EQ(b.size(), 52u);
  EXPECT_EQ(V(b.begin() + 32, b.begin() + 42), Hex("0a 00 00 00 ff ff ff 00 01 80"));
  EXPECT_EQ(V(b.begin() + 42, b.end()), V(10, 0));
}

TEST(RequestFrames, SetPasswordMasksTheNewPassword) {
  ServerRecord r = Record({});
  r.password = "old";
  r.new_password = "new1";
  const uint32_t t = 1600000000;  // 0x5F5E1000
  const V b = Build(r, wire::kSetPassword, t);
  ASSERT_EQ(b.size(), 66u);
  EXPECT_EQ(V(b.begin(), b.begin() + 26), AuthHeader(0x38, 66, r));
  EXPECT_EQ(V(b.begin() + 26, b.begin() + 30), Hex("00 10 5e 5f"));
  EXPECT_EQ(V(b.begin() + 46, b.begin() + 50), Hex("5f 5e 10 00"));
  const Md5Digest mask = Md5({AsBytes("old"), Hex("34 12"), Hex("00 10 5e 5f")});
  const V padded = Cat({AsBytes("new1"), V(12, 0)});
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(b[30 + i], padded[i] ^ mask[i]) << i;
  const Md5Digest check = Md5({AsBytes("new1"), Hex("34 12"), Hex("5f 5e 10 00")});
  EXPECT_EQ(V(b.begin() + 50, b.end()), V(check.begin(), check.end()));

  // An empty new password masks 16 zero bytes.
  r.new_password.clear();
  const V e = Build(r, wire::kSetPassword, t);
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(e[30 + i], mask[i]);
}

TEST(RequestFrames, RefusedBeforeAnythingIsBuilt) {
  ServerRecord r = Record({});
  auto e = [&](uint8_t code) { return frames::BuildRequest(r, code, 0).status(); };
  EXPECT_FALSE(frames::BuildRequest(r, 0x34, 0));
  EXPECT_EQ(e(0x34), LastCommandError::kUnknownCommand);
  EXPECT_FALSE(frames::BuildRequest(r, wire::kSearch, 0));
  EXPECT_EQ(e(wire::kSearch), LastCommandError::kUnknownCommand);
  r.password = std::string(17, 'p');
  EXPECT_FALSE(frames::BuildRequest(r, wire::kLogin, 0));
  EXPECT_EQ(e(wire::kLogin), LastCommandError::kPasswordTooLong);
  EXPECT_FALSE(frames::BuildRequest(r, wire::kLocateOn, 0));
  EXPECT_EQ(e(wire::kLocateOn), LastCommandError::kPasswordTooLong);
  r.password = std::string(16, 'p');
  r.new_password = std::string(17, 'n');
  EXPECT_FALSE(frames::BuildRequest(r, wire::kSetPassword, 0));
  EXPECT_EQ(e(wire::kSetPassword), LastCommandError::kPasswordTooLong);
  EXPECT_TRUE(frames::BuildRequest(r, wire::kLogin, 0));
}

// --- replies -------------------------------------------------------------------

V Reply(uint8_t code, size_t size, uint16_t seq = 1, uint8_t status = 0) {
  V b(size, 0);
  b[0] = static_cast<uint8_t>(code | 0x80);
  b[1] = status;
  PutBe16(b, 2, static_cast<uint16_t>(size));
  PutLe16(b, 4, seq);
  b[6] = 9;  // nonce 09 08 07 06
  b[7] = 8;
  b[8] = 7;
  b[9] = 6;
  PutLe16(b, 10, 771);
  PutLe16(b, 12, 0x1234);
  return b;
}

TEST(ReplyFrames, HeaderChecksInOrder) {
  const ServerRecord r = Record({});
  using E = LastCommandError;
  const V ack = Reply(wire::kSetName, 18);
  EXPECT_EQ(frames::CheckReply(ack, 18, wire::kSetName, r), E::kNone);
  EXPECT_EQ(frames::CheckReply(ack, 19, wire::kSetName, r), E::kWrongLength);
  const V check27 = Reply(wire::kCheckAddress, 27);
  EXPECT_EQ(frames::CheckReply(check27, 27, wire::kCheckAddress, r), E::kWrongLength);
  EXPECT_EQ(frames::CheckReply(Reply(wire::kSetAccessList, 22), 22, wire::kSetAccessList, r),
            E::kNone);
  // Unchecked replies need only the header; a longer one is fine.
  EXPECT_EQ(frames::CheckReply(Reply(wire::kLogin, 18), 18, wire::kLogin, r), E::kNone);
  EXPECT_EQ(frames::CheckReply(Reply(wire::kLogin, 34), 900, wire::kLogin, r), E::kNone);
  EXPECT_EQ(frames::CheckReply(Bytes(Reply(wire::kLogin, 17)), 17, wire::kLogin, r),
            E::kWrongLength);

  V bad = ack;
  bad[0] = 0xB7;
  EXPECT_EQ(frames::CheckReply(bad, 18, wire::kSetName, r), E::kWrongCodeOrRefused);
  bad = Reply(wire::kSetName, 18, 2);
  EXPECT_EQ(frames::CheckReply(bad, 18, wire::kSetName, r), E::kWrongSequence);
  bad = ack;
  bad[10] = 0x04;
  EXPECT_EQ(frames::CheckReply(bad, 18, wire::kSetName, r), E::kWrongDeviceType);
  bad = ack;
  bad[13] = 0x13;
  EXPECT_EQ(frames::CheckReply(bad, 18, wire::kSetName, r), E::kWrongSerial);
  EXPECT_EQ(frames::ReplyNonce(ack), (frames::Nonce{9, 8, 7, 6}));
}

TEST(ReplyFrames, GetRoutesStoresItsWindowUpToTheRecordsCapacity) {
  ServerRecord r = Record({});
  V b = Reply(wire::kGetRoutes, 584);
  PutLe16(b, 18, 2);
  PutLe16(b, 20, 0);
  PutLe16(b, 22, 2);
  const V e0 = Hex("0a 00 00 01 0a 01 00 00 ff ff 00 00 01 00");
  const V e1 = Hex("0a 00 00 02 0a 02 00 00 ff ff ff 00 ff ff");
  std::copy(e0.begin(), e0.end(), b.begin() + 24);
  std::copy(e1.begin(), e1.end(), b.begin() + 38);
  const Status taken = frames::ParseGetRoutesReply(b, r);
  ASSERT_TRUE(taken.ok()) << taken;
  EXPECT_TRUE(taken.message().empty());
  EXPECT_EQ(r.route_total, 2);
  EXPECT_EQ(r.route_count, 2);
  EXPECT_EQ(r.route_table[0], (RouteEntry{Ipv4FromOctets(10, 0, 0, 1), Ipv4FromOctets(10, 1, 0, 0),
                                          Ipv4FromOctets(255, 255, 0, 0), 1}));
  EXPECT_EQ(r.route_table[1].metric, 0xFFFF);
  EXPECT_EQ(r.route_table[2], RouteEntry{});

  // A window at 30..34: table indexes 30 and 31 are stored, 32 and beyond are not.
  ServerRecord w = Record({});
  V far = Reply(wire::kGetRoutes, 584);
  PutLe16(far, 18, 35);
  PutLe16(far, 20, 30);
  PutLe16(far, 22, 5);
  for (size_t i = 30; i < 35; ++i) PutLe16(far, 24 + 14 * i + 12, static_cast<uint16_t>(i));
  ASSERT_TRUE(frames::ParseGetRoutesReply(far, w).ok());
  EXPECT_EQ(w.route_table[30].metric, 30);
  EXPECT_EQ(w.route_table[31].metric, 31);
  EXPECT_EQ(w.route_start, 30);

  // A total above 64 is refused and nothing is stored.
  ServerRecord big = Record({});
  PutLe16(b, 18, 65);
  const Status refused = frames::ParseGetRoutesReply(b, big);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.message(), "Routing number(65) too much");
  EXPECT_EQ(big.route_total, 0);
  EXPECT_EQ(big.route_table[0], RouteEntry{});
}

TEST(ReplyFrames, GetAccessListCountsValidEntriesUpToTheFirstEnd) {
  ServerRecord r = Record({});
  V b = Reply(wire::kGetAccessList, 424);
  PutLe16(b, 18, 3);
  const V e0 = Hex("7f 00 00 01 ff ff ff ff 03 00");
  std::copy(e0.begin(), e0.end(), b.begin() + 24);
  std::fill_n(b.begin() + 34, 4, 0xFF);  // second slot 255.255.255.255 ends the table
  const V e2 = Hex("0a 00 00 02 ff 00 00 00 01 00");
  std::copy(e2.begin(), e2.end(), b.begin() + 44);
  frames::Messages m = frames::ParseGetAccessListReply(b, r);
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(r.access_total, 1);
  EXPECT_EQ(r.access_count, 1);
  EXPECT_EQ(r.access_table[0], (AccessEntry{Ipv4FromOctets(127, 0, 0, 1), kBroadcastAddress, 3}));
  EXPECT_EQ(r.access_table[1], AccessEntry{});

  // Totals above 64 and windows past 64 are reported, but the reply is still taken.
  V many = Reply(wire::kGetAccessList, 424);
  PutLe16(many, 18, 70);
  PutLe16(many, 20, 60);
  for (size_t i = 0; i < 40; ++i) many[24 + 10 * i] = 10;
  ServerRecord m2 = Record({});
  m = frames::ParseGetAccessListReply(many, m2);
  EXPECT_EQ(m, (frames::Messages{"Security number are too much : 70",
                                 "Security number are too much : num(40) + start(60)"}));
  EXPECT_EQ(m2.access_total, 40);
  EXPECT_EQ(m2.access_start, 60);
  EXPECT_EQ(m2.access_table[31], AccessEntry{}) << "nothing is stored past index 31";
}

TEST(ReplyFrames, CheckAddressAndDhcp) {
  ServerRecord r = Record({.flags = 0x01});
  V b = Reply(wire::kCheckAddress, 28);
  frames::ParseCheckAddressReply(b, r);
  EXPECT_EQ(r.flags(), 0x01);
  b[27] = 0x5E;
  frames::ParseCheckAddressReply(b, r);
  EXPECT_EQ(r.flags(), 0x05);
  b[27] = 0;
  frames::ParseCheckAddressReply(b, r);
  EXPECT_EQ(r.flags(), 0x01);

  V d = Reply(wire::kDhcp, 20);
  d[18] = 1;
  r.dhcp = 0xFF;
  ASSERT_TRUE(frames::ApplyReplyPayload(wire::kDhcp, d, r).ok());
  EXPECT_EQ(r.dhcp, 1);
}

// The messages of a reply come back with its step, the refusal of a route total among
// them; a refused payload moves neither the nonce nor the sequence.
TEST(ReplyFrames, TakeReplyReturnsTheReplysMessagesWithItsStep) {
  ServerRecord r = Record({});
  V routes = Reply(wire::kGetRoutes, 584);
  PutLe16(routes, 18, 65);
  const frames::ReplyStep refused = frames::TakeReply(routes, routes.size(), wire::kGetRoutes, r);
  EXPECT_TRUE(refused.ends_wait);
  EXPECT_EQ(refused.error, LastCommandError::kErrorStatus);
  EXPECT_EQ(refused.messages, frames::Messages{"Routing number(65) too much"});
  EXPECT_EQ(r.sequence, 1u);
  EXPECT_EQ(r.route_total, 0);

  V access = Reply(wire::kGetAccessList, 424);
  PutLe16(access, 18, 70);
  const frames::ReplyStep taken =
      frames::TakeReply(access, access.size(), wire::kGetAccessList, r);
  EXPECT_TRUE(taken.ends_wait);
  EXPECT_EQ(taken.error, LastCommandError::kNone);
  EXPECT_EQ(taken.messages, frames::Messages{"Security number are too much : 70"});
  EXPECT_EQ(r.sequence, 2u);
  // The same datagram again is skipped (old sequence number), with nothing to show.
  const frames::ReplyStep skipped =
      frames::TakeReply(access, access.size(), wire::kGetAccessList, r);
  EXPECT_FALSE(skipped.ends_wait);
  EXPECT_TRUE(skipped.messages.empty());
}

TEST(TcpFrames, LoginAndDownloadMessages) {
  EXPECT_EQ(frames::ParseTcpChallenge(Hex("14 04 01 02 03 04")), (frames::Nonce{1, 2, 3, 4}));
  EXPECT_FALSE(frames::ParseTcpChallenge(Hex("14 04 01 02 03 04 05")));
  EXPECT_FALSE(frames::ParseTcpChallenge(Hex("14 05 01 02 03 04")));
  EXPECT_FALSE(frames::ParseTcpChallenge(Hex("14 04 01 02 03")));

  const auto answer = frames::BuildTcpLoginAnswer("pw", {1, 2, 3, 4});
  const Md5Digest d = Md5({AsBytes("pw"), Hex("01 02 03 04")});
  EXPECT_EQ(V(answer.begin(), answer.end()), Cat({Hex("00"), d}));

  const auto req = frames::BuildDownloadRequest(20000);
  EXPECT_EQ(V(req.begin(), req.end()), Hex("0d 20 4e 00 00"));
  EXPECT_TRUE(frames::IsTcpPair(Hex("0d 01"), 0x0D, 0x01));
  EXPECT_FALSE(frames::IsTcpPair(Hex("0d 02"), 0x0D, 0x01));
  EXPECT_FALSE(frames::IsTcpPair(Hex("0d 01 00"), 0x0D, 0x01));
}

}  // namespace
}  // namespace zelin
