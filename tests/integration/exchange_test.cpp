// The authenticated exchange against emulated servers: sequence numbers and nonces,
// refusals, loss, and every configuration command end to end.

#include <atomic>

#include "protocol/address.hpp"
#include "protocol/frames.hpp"
#include "tests/integration/lab_fixture.hpp"

namespace zelin::testing {
namespace {

using emulator::HandlerResult;
using emulator::UdpContext;

emulator::UdpHandlerFn g_login = nullptr;
std::atomic<int> g_refusals{0};

// Refuses (status 6) the next g_refusals logins, then behaves normally.
HandlerResult RefusingLogin(UdpContext& ctx) {
  if (g_refusals.fetch_sub(1) > 0) return HandlerResult::Status(wire::kStatusRefused, "test");
  return g_login(ctx);
}

class LabExchangeTest : public NonceModesLabTest {};
INSTANTIATE_TEST_SUITE_P(NonceModes, LabExchangeTest, ::testing::Bool(), NonceModeName);

// The digest field (bytes 6-21) of a logged request.
Md5Digest DigestOf(const emulator::LogEntry& e) {
  const auto bytes = FromHex(e.hex);
  Md5Digest d{};
  if (bytes.size() >= 22) std::copy_n(bytes.begin() + 6, d.size(), d.begin());
  return d;
}

TEST_P(LabExchangeTest, SequenceAndNonceAdvanceWithEveryReply) {
  ServerRecord& r = StartAndLogIn(5, 10, "secret");
  const auto search_nonce = r.nonce;
  lab_->ClearLog();

  ASSERT_TRUE(Command(*transport_, r, wire::kLogin, 1));
  EXPECT_EQ(r.sequence, 2u);
  const auto first_nonce = r.nonce;
  EXPECT_NE(first_nonce, search_nonce);
  ASSERT_TRUE(Command(*transport_, r, wire::kDhcp, 1));
  EXPECT_EQ(r.sequence, 3u);

  const auto log = Requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].code, wire::kLogin);
  EXPECT_EQ(log[0].sequence, 1);
  EXPECT_EQ(DigestOf(log[0]), frames::RequestDigest("secret", search_nonce));
  EXPECT_EQ(log[1].code, wire::kDhcp);
  EXPECT_EQ(log[1].sequence, 2);
  EXPECT_EQ(DigestOf(log[1]), frames::RequestDigest("secret", first_nonce));
  EXPECT_EQ(log[0].verdict, "ok");
  EXPECT_EQ(log[1].verdict, "ok");

  // Locate carries the sequence but no digest, and moves it on like the others.
  ASSERT_TRUE(Command(*transport_, r, wire::kLocateOn, 1));
  EXPECT_EQ(r.sequence, 4u);
  ASSERT_TRUE(Command(*transport_, r, wire::kLogin, 1));
}

TEST_P(LabExchangeTest, RefusalFailsAtOnceButAdvancesSoTheRetrySucceeds) {
  MakeLab({Server(5, 10)});
  const emulator::UdpHandler* login = lab_->udp_handlers().Find(wire::kLogin);
  ASSERT_NE(login, nullptr);
  emulator::UdpHandler h = *login;
  g_login = h.handle;
  h.handle = RefusingLogin;
  lab_->udp_handlers().Register(h);
  StartLab();
  OpenClient();
  ServerRecord& r = Found(5);
  lab_->ClearLog();

  // One attempt: refused, no second datagram within the wait, sequence moved on.
  g_refusals = 1;
  EXPECT_EQ(Exchange(*transport_, r, wire::kLogin, 1), LastCommandError::kWrongCodeOrRefused);
  EXPECT_EQ(r.sequence, 2u);
  EXPECT_EQ(Requests().size(), 1u);

  // Command: the first attempt is refused, the retry with sequence 3 and the
  // refusal's nonce is taken.
  lab_->ClearLog();
  g_refusals = 1;
  EXPECT_TRUE(Command(*transport_, r, wire::kLogin, 1));
  const auto log = Requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].sequence, 2);
  EXPECT_EQ(log[0].status, wire::kStatusRefused);
  EXPECT_EQ(log[1].sequence, 3);
  EXPECT_EQ(log[1].verdict, "ok");
  EXPECT_EQ(r.sequence, 4u);
  g_refusals = 0;
}

TEST_P(LabExchangeTest, WrongAndOverlongPasswords) {
  StartLab({Server(5, 10, "secret")});
  OpenClient();
  ServerRecord& r = Found(5);
  lab_->ClearLog();

  r.password = std::string(17, 'x');
  EXPECT_EQ(Command(*transport_, r, wire::kLogin, 1), LastCommandError::kPasswordTooLong);
  EXPECT_TRUE(lab_->Log().empty());
  EXPECT_EQ(r.sequence, 1u);

  // A wrong password is refused on every attempt, each moving the sequence on.
  r.password = "wrong";
  EXPECT_EQ(Command(*transport_, r, wire::kLogin, 1), LastCommandError::kWrongCodeOrRefused);
  EXPECT_EQ(Requests(wire::kLogin).size(), 3u);
  EXPECT_EQ(r.sequence, 4u);

  // The right one then works straight away.
  r.password = "secret";
  EXPECT_TRUE(Command(*transport_, r, wire::kLogin, 1));
}

// One lost reply costs one attempt: the server answers the retry (a SetPassword
// retry may carry a new time stamp) from its replay cache, and both stay in step.
TEST_P(LabExchangeTest, OneLostReplyIsRecoveredByTheRetry) {
  ServerRecord& r = StartAndLogIn(5, 10, "old");
  r.new_password = "fresh";
  lab_->ClearLog();
  ASSERT_TRUE(lab_->SetFaults(5, {.drop_next = 1}));
  ASSERT_TRUE(Command(*transport_, r, wire::kSetPassword, 1));
  ASSERT_TRUE(Command(*transport_, r, wire::kLogin, 1));
  const auto log = Requests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].verdict, "replayed");
  EXPECT_EQ(log[2].verdict, "ok");
}

// With half of the replies lost, Command's retries (answered from the server's
// replay cache) carry most commands through: a command fails only when three replies
// in a row are lost, one time in eight on average. The lab's seed fixes the loss
// pattern: with seeds 4 and 7, 36 and 35 of the 40 commands succeed. A slow machine
// that lets a reply miss its wait shifts the pattern, so the bound leaves room.
TEST_P(LabExchangeTest, CommandsSurviveHalfTheRepliesLost) {
  for (uint64_t seed : {4u, 7u}) {
    SCOPED_TRACE(seed);
    StartLab({Server(5, 10, "pw")}, seed);
    OpenClient();
    ServerRecord& r = Found(5);
    r.password = "pw";
    emulator::FaultSettings lossy;
    lossy.drop_share = 0.5;
    ASSERT_TRUE(lab_->SetFaults(5, lossy));
    constexpr int kCommands = 40;
    int ok = 0;
    int replayed_before = 0;
    for (int i = 0; i < kCommands; ++i) {
      if (const Status sent = Command(*transport_, r, wire::kLogin, 1)) {
        ++ok;
      } else {
        EXPECT_EQ(sent, LastCommandError::kTimeout);
      }
    }
    for (const auto& e : lab_->Log()) replayed_before += e.verdict.rfind("replayed", 0) == 0;
    EXPECT_GE(ok, kCommands * 3 / 4);
    EXPECT_GT(replayed_before, 0);
    // Client and server are still in step once the loss stops.
    ASSERT_TRUE(lab_->SetFaults(5, {}));
    EXPECT_TRUE(Command(*transport_, r, wire::kLogin, 1));
    transport_->CloseTransport();
    transport_.reset();
    lab_->Stop();
    lab_.reset();
  }
}

class LabConfigTest : public NonceModesLabTest {};
INSTANTIATE_TEST_SUITE_P(NonceModes, LabConfigTest, ::testing::Bool(), NonceModeName);

TEST_P(LabConfigTest, SettingsApplyOnlyAfterSaveAndTheServerAnswersAtItsNewAddress) {
  ServerRecord& r = StartAndLogIn(5, 10, "old");
  const Ipv4 new_ip = block_.Address(30);
  r.set_ip_address(new_ip);
  r.set_netmask(Ipv4FromOctets(255, 255, 0, 0));
  r.set_name("Harbour");
  r.set_port_kind(0, kPortWan);
  r.set_port_kind(1, kPortNoAccess);
  r.new_password = "fresh";
  ASSERT_TRUE(Command(*transport_, r, wire::kSetAddress, 1));
  ASSERT_TRUE(Command(*transport_, r, wire::kSetName, 1));
  ASSERT_TRUE(Command(*transport_, r, wire::kSetPortKinds, 1));
  ASSERT_TRUE(Command(*transport_, r, wire::kSetPassword, 1));

  auto before = lab_->Snapshot(5);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->applied.ip, block_.Address(10));
  EXPECT_EQ(before->applied.NameText(), "Server5");
  EXPECT_EQ(before->applied.password, "old");
  EXPECT_EQ(before->staged.ip, new_ip);
  EXPECT_EQ(before->staged.netmask, Ipv4FromOctets(255, 255, 0, 0));
  EXPECT_EQ(before->staged.NameText(), "Harbour");
  EXPECT_EQ(before->staged.password, "fresh");
  EXPECT_EQ(before->staged.port_kinds[0], kPortWan);
  EXPECT_EQ(before->staged.port_kinds[1], kPortNoAccess);
  EXPECT_EQ(before->staged.port_kinds[2], kPortMappable);

  ASSERT_TRUE(Command(*transport_, r, wire::kSaveAndRestart, 10));
  EXPECT_EQ(r.unicast_address, new_ip);
  auto after = lab_->Snapshot(5);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->applied, after->staged);
  EXPECT_EQ(after->restarts, 1);

  // Found at the new address with the new identity, and the new password logs in.
  ServerList probed;
  ASSERT_EQ(ProbeAddressRetry(*transport_, probed, new_ip, 1), 0);
  ServerRecord& n = probed.records[0];
  EXPECT_EQ(n.name(), "Harbour");
  EXPECT_EQ(n.netmask(), Ipv4FromOctets(255, 255, 0, 0));
  EXPECT_EQ(n.port_kind(0), kPortWan);
  EXPECT_TRUE(n.has_password());
  EXPECT_EQ(ProbeAddress(*transport_, probed, block_.Address(10), 1).status(),
            LastCommandError::kTimeout);
  n.password = "old";
  EXPECT_FALSE(Command(*transport_, n, wire::kLogin, 1));
  n.password = "fresh";
  EXPECT_TRUE(Command(*transport_, n, wire::kLogin, 1));

  // An empty new password removes it.
  n.new_password = "";
  ASSERT_TRUE(Command(*transport_, n, wire::kSetPassword, 1));
  ASSERT_TRUE(Command(*transport_, n, wire::kSaveAndRestart, 10));
  ServerList again;
  ASSERT_EQ(ProbeAddressRetry(*transport_, again, new_ip, 1), 0);
  EXPECT_FALSE(again.records[0].has_password());
  EXPECT_TRUE(Command(*transport_, again.records[0], wire::kLogin, 1));
}

TEST_P(LabConfigTest, AccessAndRouteTablesThroughTheWindows) {
  auto desc = Server(5, 10);
  for (uint8_t i = 0; i < 3; ++i)
    desc.access.push_back({Ipv4FromOctets(127, 1, 1, i), Ipv4FromOctets(255, 255, 255, 255),
                           static_cast<uint16_t>(1u << i)});
  desc.routes.push_back(
      {block_.Address(1), Ipv4FromOctets(127, 9, 0, 0), Ipv4FromOctets(255, 255, 0, 0), 3});
  StartLab({desc});
  OpenClient();
  ServerRecord& r = Found(5);

  ASSERT_TRUE(ReadAccessTable(*transport_, r, 1));
  EXPECT_EQ(r.access_total, 3);
  EXPECT_EQ(r.access_table[2], desc.access[2]);
  ASSERT_TRUE(ReadRouteTable(*transport_, r, 1));
  EXPECT_EQ(r.route_total, 1);
  EXPECT_EQ(r.route_table[0], desc.routes[0]);

  // Write 32 entries, read them back whole.
  for (uint8_t i = 0; i < 32; ++i)
    r.access_table[i] = {Ipv4FromOctets(127, 2, 0, static_cast<uint8_t>(i + 1)),
                         Ipv4FromOctets(255, 255, 255, 0), static_cast<uint16_t>(0xFFFF - i)};
  ASSERT_TRUE(WriteAccessTable(*transport_, r, 32, 1));
  EXPECT_EQ(lab_->Snapshot(5)->staged.access.size(), 32u);
  EXPECT_EQ(lab_->Snapshot(5)->applied.access.size(), 3u);
  r.access_table.fill({});
  ASSERT_TRUE(ReadAccessTable(*transport_, r, 1));
  EXPECT_EQ(r.access_total, 32);
  EXPECT_EQ(r.access_table[31].port_mask, 0xFFFF - 31);

  // An empty table is one datagram with count 0.
  lab_->ClearLog();
  ASSERT_TRUE(WriteAccessTable(*transport_, r, 0, 1));
  const auto set = Requests(wire::kSetAccessList);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].length, wire::kSetAccessListBaseSize);
  EXPECT_TRUE(lab_->Snapshot(5)->staged.access.empty());

  // Routes: add one, change its metric, remove it.
  r.route_to_send = {block_.Address(2), Ipv4FromOctets(127, 8, 0, 0),
                     Ipv4FromOctets(255, 255, 0, 0), 7};
  ASSERT_TRUE(Command(*transport_, r, wire::kAddRoute, 1));
  ASSERT_TRUE(ReadRouteTable(*transport_, r, 1));
  EXPECT_EQ(r.route_total, 2);
  EXPECT_EQ(r.route_table[1], r.route_to_send);
  r.route_to_send.metric = wire::kRouteEmptyMetric;
  ASSERT_TRUE(Command(*transport_, r, wire::kAddRoute, 1));
  ASSERT_TRUE(ReadRouteTable(*transport_, r, 1));
  EXPECT_EQ(r.route_total, 1);
}

TEST_P(LabConfigTest, CheckAddressDhcpAndLocate) {
  auto a = Server(5, 10);
  a.dhcp = 1;
  auto no_dhcp = Server(7, 12);
  no_dhcp.firmware = 0x021F0000;  // this model gains the setting with firmware 0x0220
  StartLab({a, Server(6, 11), no_dhcp});
  OpenClient();
  ServerRecord& r = Found(5);

  // Another server's address is in use, a free one is not.
  r.set_ip_address(block_.Address(11));
  ASSERT_TRUE(Command(*transport_, r, wire::kCheckAddress, 1));
  EXPECT_NE(r.flags() & wire::kFlagAddressConflict, 0);
  r.set_ip_address(block_.Address(50));
  ASSERT_TRUE(Command(*transport_, r, wire::kCheckAddress, 1));
  EXPECT_EQ(r.flags() & wire::kFlagAddressConflict, 0);

  // Query, then set.
  r.dhcp = wire::kDhcpQuery;
  ASSERT_TRUE(Command(*transport_, r, wire::kDhcp, 1));
  EXPECT_EQ(r.dhcp, 1);
  EXPECT_EQ(lab_->Snapshot(5)->staged.dhcp, 1);
  r.dhcp = 0;
  ASSERT_TRUE(Command(*transport_, r, wire::kDhcp, 1));
  EXPECT_EQ(r.dhcp, 0);
  EXPECT_EQ(lab_->Snapshot(5)->staged.dhcp, 0);
  EXPECT_EQ(lab_->Snapshot(5)->applied.dhcp, 1);
  // A server without the setting answers with an error status.
  ServerRecord& old = list_.records[static_cast<size_t>(list_.FindSerial(7))];
  old.dhcp = wire::kDhcpQuery;
  EXPECT_FALSE(Command(*transport_, old, wire::kDhcp, 1));
  EXPECT_EQ(Requests(wire::kDhcp, "7").back().status, 2);

  ASSERT_TRUE(Command(*transport_, r, wire::kLocateOn, 1));
  EXPECT_TRUE(lab_->Snapshot(5)->locating);
  EXPECT_FALSE(lab_->Snapshot(6)->locating);
  ASSERT_TRUE(Command(*transport_, r, wire::kLocateOff, 1));
  EXPECT_FALSE(lab_->Snapshot(5)->locating);
}

}  // namespace
}  // namespace zelin::testing
