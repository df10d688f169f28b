// The port status query and the TCP reset, checked against the layouts with raw sockets.

#include <gtest/gtest.h>

#include <thread>

#include "emulator/lab.hpp"
#include "protocol/address.hpp"
#include "protocol/md5.hpp"
#include "protocol/wire.hpp"
#include "tests/emulator/raw_peer.hpp"

namespace zelin::testing {
namespace {

using emulator::Lab;
using emulator::LabSpec;

Datagram Query(uint16_t type, uint16_t serial, std::array<uint8_t, 4> ports) {
  Datagram d(30, 0);
  d[0] = 0x70;
  PutBe16(d, 2, 30);
  PutLe16(d, 4, 7);
  PutLe16(d, 22, type);
  PutLe16(d, 24, serial);
  std::copy(ports.begin(), ports.end(), d.begin() + 26);
  return d;
}

class MonitorCommandsTest : public ::testing::Test {
 protected:
  void Start(const std::string& port_status_json) {
    auto parsed = emulator::ParseLabJson(
        R"({"restart_ms": 20, "servers": [{"type": 771, "serial": 8, "ip": ")" +
        AddressToText(block_.Address(10)) + R"(", "password": "pw", "port_status": )" +
        port_status_json + "}]}");
    ASSERT_TRUE(parsed) << parsed.error;
    LabSpec desc = *parsed.value;
    desc.broadcast = block_.Broadcast();
    lab_ = std::make_unique<Lab>(desc);
    std::string error;
    ASSERT_TRUE(lab_->Start(&error)) << error;
  }
  Datagram Ask(std::array<uint8_t, 4> ports, uint16_t type = 0) {
    peer_.Send(block_.Address(10), Query(type, 8, ports));
    auto r = peer_.Receive();
    return r ? *r : Datagram{};
  }
  // Logs in over TCP and sends the reset command; returns what came back.
  Datagram Reset(uint8_t target) {
    TcpPeer t(block_.Interface(), block_.Address(10));
    const uint8_t login = 0x14;
    EXPECT_TRUE(t.Send(Bytes(&login, 1)));
    const Datagram challenge = t.Read(6);
    if (challenge.size() != 6) return {0xEE};
    const Nonce nonce{challenge[2], challenge[3], challenge[4], challenge[5]};
    const Md5Digest digest = Md5({AsBytes("pw"), Bytes(nonce)});
    Datagram answer{0x00};
    answer.insert(answer.end(), digest.begin(), digest.end());
    EXPECT_TRUE(t.Send(answer));
    EXPECT_EQ(t.Read(2), (Datagram{0x00, 0x01}));
    const Datagram reset{0x02, target};
    EXPECT_TRUE(t.Send(reset));
    return t.Read(2);
  }

  LoopbackBlock block_;
  UdpPeer peer_{block_.Interface()};
  std::unique_ptr<Lab> lab_;
};

TEST_F(MonitorCommandsTest, BlocksFollowThePlacesAndTheCountersAdvance) {
  Start(R"({"baud": 19200, "interface": 3, "tx_cps": [1000, 0, 4000]})");
  const Datagram a = Ask({2, 0, 0xFF, 0xFF});
  ASSERT_EQ(a.size(), 22u + 2 * 94);
  EXPECT_EQ(a[0], 0xF0);
  EXPECT_EQ(a[1], 0);
  EXPECT_EQ(GetLe16(a, 12), 8);
  EXPECT_EQ((Datagram(a.begin() + 18, a.begin() + 22)), (Datagram{2, 0, 0xFF, 0xFF}));
  EXPECT_EQ(GetLe32(a, 22 + 4), 19200u);
  EXPECT_EQ(GetLe16(a, 22 + 92), 3);
  const uint32_t stamp = GetLe32(a, 22 + 88);
  EXPECT_GE(stamp, 60000u);  // up for a minute when the lab started
  EXPECT_EQ(GetLe32(a, 22 + 72), stamp * 4);  // 4000 bytes a second on port 3
  EXPECT_EQ(GetLe32(a, 22 + 94 + 72), stamp);  // 1000 on port 1

  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const Datagram b = Ask({1, 0xFF, 0xFF, 0xFF}, 771);
  ASSERT_EQ(b.size(), 22u + 94);
  EXPECT_GT(GetLe32(b, 22 + 88), stamp);
  EXPECT_EQ(GetLe32(b, 22 + 72), 0u);  // port 2 sends nothing
  // A port beyond the server's 16 and a request for another model are not served.
  EXPECT_EQ(Ask({16, 0xFF, 0xFF, 0xFF}).size(), 22u);
  peer_.Send(block_.Address(10), Query(9491, 8, {0, 1, 2, 3}));
  EXPECT_FALSE(peer_.Receive(200));
}

TEST_F(MonitorCommandsTest, ShortFormAndARestartThatSetsTheTimeStampBack) {
  Start(R"({"block": 92})");
  const Datagram a = Ask({0, 1, 2, 3});
  ASSERT_EQ(a.size(), 22u + 4 * 92);
  const uint32_t before = GetLe32(a, 22 + 92 + 88);
  EXPECT_EQ(Reset(17), (Datagram{0x02, 0x00}));  // no such port
  EXPECT_EQ(Reset(0), (Datagram{0x02, 0x01}));
  ASSERT_TRUE(WaitRestarted(*lab_, 8, 1));
  const Datagram b = Ask({1, 0xFF, 0xFF, 0xFF});
  ASSERT_EQ(b.size(), 22u + 92);
  EXPECT_LT(GetLe32(b, 22 + 88), before);
}

}  // namespace
}  // namespace zelin::testing
