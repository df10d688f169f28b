// The TCP session on port 4000: login, firmware download and the acceptance rule.

#include <gtest/gtest.h>

#include "emulator/lab.hpp"
#include "protocol/wire.hpp"
#include "tests/emulator/raw_peer.hpp"

namespace zelin::testing {
namespace {

using emulator::ChallengeFault;
using emulator::Lab;
using emulator::LabSpec;
using emulator::ServerSpec;

class TcpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LabSpec desc = LabIn(block_);
    ServerSpec s = ServerAt(Server(), 9, 9491, "pw");
    s.firmware = 0x02200001;
    s.firmware_rule.prefix = {0x5A, 0x4C};
    s.firmware_rule.max_size = 1 << 20;
    s.firmware_rule.upgraded_version = 0x02300000;
    desc.servers.push_back(s);
    lab_ = std::make_unique<Lab>(std::move(desc));
    std::string error;
    ASSERT_TRUE(lab_->Start(&error)) << error;
  }
  Ipv4 Server() const { return block_.Address(10); }

  // Login request, challenge, answer; returns the login result bytes.
  Datagram Login(TcpPeer& t, std::string_view password) {
    const uint8_t request = 0x14;
    EXPECT_TRUE(t.Send(Bytes(&request, 1)));
    const Datagram challenge = t.Read(6);
    EXPECT_EQ(challenge.size(), 6u);
    if (challenge.size() != 6) return {};
    EXPECT_EQ(challenge[0], 0x14);
    EXPECT_EQ(challenge[1], 0x04);
    const Nonce nonce{challenge[2], challenge[3], challenge[4], challenge[5]};
    const Md5Digest digest = Md5({AsBytes(password), Bytes(nonce)});
    Datagram answer{0x00};
    answer.insert(answer.end(), digest.begin(), digest.end());
    EXPECT_TRUE(t.Send(answer));
    return t.Read(2);
  }

  // Download request, ready, image in 2048-byte pieces; returns the verdict bytes.
  Datagram Download(TcpPeer& t, const Datagram& image) {
    Datagram request{0x0D, 0, 0, 0, 0};
    PutLe32(request, 1, static_cast<uint32_t>(image.size()));
    EXPECT_TRUE(t.Send(request));
    EXPECT_EQ(t.Read(2), (Datagram{0x0D, 0x00}));
    for (size_t at = 0; at < image.size(); at += 2048)
      EXPECT_TRUE(t.Send(Bytes(image).subspan(at, std::min<size_t>(2048, image.size() - at))));
    return t.Read(2, 5000);
  }

  static Datagram Image(size_t size) {
    Datagram d(size);
    for (size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(i * 7 + 3);
    if (size >= 2) d[0] = 0x5A, d[1] = 0x4C;
    return d;
  }

  LoopbackBlock block_;
  std::unique_ptr<Lab> lab_;
};

TEST_F(TcpTest, AcceptedImageChangesTheFirmwareAndRestartsTheServer) {
  // A setting staged before the upgrade: only SaveAndRestart would apply it.
  UdpPeer staging_peer(block_.Interface());
  Session staging{staging_peer, Server(), 9491, 9, "pw"};
  ASSERT_TRUE(staging.Search());
  Datagram name(30, ' ');
  name[0] = 'X';
  ASSERT_EQ((*staging.Request(wire::kSetName, name))[1], 0);

  TcpPeer t(block_.Interface(), Server());
  ASSERT_TRUE(t.connected());
  ASSERT_EQ(Login(t, "pw"), (Datagram{0x00, 0x01}));
  const Datagram image = Image(20000);
  EXPECT_EQ(Download(t, image), (Datagram{0x0D, 0x01}));
  ASSERT_TRUE(WaitRestarted(*lab_, 9, 1));
  const auto s = lab_->Snapshot(9);
  EXPECT_EQ(s->firmware, 0x02300000u);
  EXPECT_EQ(s->upgrades, 1);
  ASSERT_TRUE(s->last_image);
  EXPECT_EQ(s->last_image->size, 20000u);
  EXPECT_EQ(s->last_image->md5_hex, emulator::HexOf(Md5({Bytes(image)})));
  // The restart dropped the staged name.
  EXPECT_EQ(s->staged, s->applied);
  EXPECT_EQ(s->applied.NameText(), "Server 9");
  // The new version is what the search reports.
  UdpPeer u(block_.Interface());
  u.Send(Server(), SearchRequest());
  const auto r = u.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(GetLe32(*r, 22), 0x02300000u);
}

TEST_F(TcpTest, TheAcceptanceRuleJudgesPrefixAndSize) {
  {
    TcpPeer t(block_.Interface(), Server());
    ASSERT_EQ(Login(t, "pw"), (Datagram{0x00, 0x01}));
    Datagram wrong = Image(3000);
    wrong[1] = 0x00;
    EXPECT_EQ(Download(t, wrong), (Datagram{0x0D, emulator::kDefaultRejectStatus}));
    // The session stays usable: a second, good image on the same connection.
    EXPECT_EQ(Download(t, Image(100)), (Datagram{0x0D, 0x01}));
  }
  ASSERT_TRUE(WaitRestarted(*lab_, 9, 1));
  TcpPeer t(block_.Interface(), Server());
  ASSERT_EQ(Login(t, "pw"), (Datagram{0x00, 0x01}));
  // A header the server cannot take (no image, or more than it holds) is answered
  // "not ready" alone; the session goes on with the next download.
  Datagram request{0x0D, 0, 0, 0, 0};
  ASSERT_TRUE(t.Send(request));
  EXPECT_EQ(t.Read(2), (Datagram{0x0D, emulator::kDownloadNotReady}));
  PutLe32(request, 1, (1u << 20) + 1);
  ASSERT_TRUE(t.Send(request));
  EXPECT_EQ(t.Read(2), (Datagram{0x0D, emulator::kDownloadNotReady}));
  EXPECT_EQ(Download(t, Image(1)), (Datagram{0x0D, emulator::kDefaultRejectStatus}));
  EXPECT_EQ(lab_->Snapshot(9)->upgrades, 1);
}

TEST_F(TcpTest, WrongPasswordIsRefusedAndTheConnectionClosed) {
  TcpPeer t(block_.Interface(), Server());
  EXPECT_EQ(Login(t, "nope"), (Datagram{0x00, 0x00}));
  EXPECT_TRUE(t.ClosedByPeer());
  // Anything but a login request first: closed without an answer.
  TcpPeer u(block_.Interface(), Server());
  const uint8_t download = 0x0D;
  ASSERT_TRUE(u.Send(Bytes(&download, 1)));
  EXPECT_TRUE(u.ClosedByPeer());
}

TEST_F(TcpTest, SlowClientsAndPartialMessages) {
  TcpPeer t(block_.Interface(), Server());
  const uint8_t request = 0x14;
  ASSERT_TRUE(t.Send(Bytes(&request, 1)));
  const Datagram challenge = t.Read(6);
  ASSERT_EQ(challenge.size(), 6u);
  const Nonce nonce{challenge[2], challenge[3], challenge[4], challenge[5]};
  const Md5Digest digest = Md5({AsBytes("pw"), Bytes(nonce)});
  Datagram answer{0x00};
  answer.insert(answer.end(), digest.begin(), digest.end());
  for (uint8_t b : answer) {  // one byte at a time
    ASSERT_TRUE(t.Send(Bytes(&b, 1)));
    SystemClock().SleepMs(1);
  }
  ASSERT_EQ(t.Read(2), (Datagram{0x00, 0x01}));
  // Request and image in one write, the image split at odd places.
  const Datagram image = Image(5000);
  Datagram all{0x0D, 0, 0, 0, 0};
  PutLe32(all, 1, 5000);
  all.insert(all.end(), image.begin(), image.begin() + 777);
  ASSERT_TRUE(t.Send(all));
  ASSERT_TRUE(t.Send(Bytes(image).subspan(777)));
  EXPECT_EQ(t.Read(4, 5000), (Datagram{0x0D, 0x00, 0x0D, 0x01}));
  EXPECT_EQ(lab_->Snapshot(9)->last_image->md5_hex, emulator::HexOf(Md5({Bytes(image)})));
}

TEST_F(TcpTest, ClientLeavingMidImageLeavesTheServerServing) {
  {
    TcpPeer t(block_.Interface(), Server());
    ASSERT_EQ(Login(t, "pw"), (Datagram{0x00, 0x01}));
    Datagram request{0x0D, 0, 0, 1, 0};  // 65536 bytes announced
    ASSERT_TRUE(t.Send(request));
    ASSERT_EQ(t.Read(2), (Datagram{0x0D, 0x00}));
    ASSERT_TRUE(t.Send(Image(1000)));
  }
  TcpPeer t(block_.Interface(), Server());
  EXPECT_EQ(Login(t, "pw"), (Datagram{0x00, 0x01}));
  EXPECT_EQ(lab_->Snapshot(9)->upgrades, 0);
}

TEST_F(TcpTest, ChallengeAndLoginFaults) {
  emulator::FaultSettings f;
  f.tcp_challenge = ChallengeFault::kSevenBytes;
  ASSERT_TRUE(lab_->SetFaults(9, f));
  {
    TcpPeer t(block_.Interface(), Server());
    const uint8_t request = 0x14;
    ASSERT_TRUE(t.Send(Bytes(&request, 1)));
    const Datagram c = t.Read(16, 300);
    EXPECT_EQ(c.size(), 7u);
  }
  f.tcp_challenge = ChallengeFault::kWrongTag;
  ASSERT_TRUE(lab_->SetFaults(9, f));
  {
    TcpPeer t(block_.Interface(), Server());
    const uint8_t request = 0x14;
    ASSERT_TRUE(t.Send(Bytes(&request, 1)));
    const Datagram c = t.Read(6);
    ASSERT_EQ(c.size(), 6u);
    EXPECT_EQ(c[1], 0x05);
  }
  f = {};
  f.tcp_refuse_login = true;
  ASSERT_TRUE(lab_->SetFaults(9, f));
  TcpPeer t(block_.Interface(), Server());
  EXPECT_EQ(Login(t, "pw"), (Datagram{0x00, 0x00}));
  const auto log = lab_->Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().proto, "tcp");
  EXPECT_EQ(log.back().verdict, "login refused (fault)");
}

}  // namespace
}  // namespace zelin::testing
