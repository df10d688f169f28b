// Hostile input: random, truncated, mutated and oversized datagrams and TCP byte
// streams (fixed seed). Afterwards the lab must still serve a normal client.

#include <gtest/gtest.h>

#include <random>

#include "emulator/lab.hpp"
#include "protocol/wire.hpp"
#include "tests/emulator/raw_peer.hpp"

namespace zelin::testing {
namespace {

TEST(FuzzTest, LabSurvivesHostileDatagramsAndStreams) {
  LoopbackBlock block;
  emulator::LabSpec desc = LabIn(block);
  desc.servers.push_back(ServerAt(block.Address(10), 21, 9747, "pw"));
  desc.servers.push_back(ServerAt(block.Address(11), 22, 8452));
  emulator::Lab lab(std::move(desc));
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;

  std::mt19937 rng(20240607);
  auto byte = [&rng] { return static_cast<uint8_t>(rng()); };
  UdpPeer peer(block.Interface());
  const Nonce nonce{1, 2, 3, 4};
  const std::vector<Datagram> valid = {
      SearchRequest({{9747, 21}}),
      ShortRequest(wire::kLocateOn, 1, 9747, 21),
      AuthRequest(wire::kSetAccessList, 1, "pw", nonce, 9747, 21, Datagram(6 + 30, 0)),
      AuthRequest(wire::kSetPassword, 1, "pw", nonce, 9747, 21, Datagram(40, 0)),
      AuthRequest(wire::kGetRoutes, 1, "", nonce, 8452, 22, Datagram(2, 0)),
      AuthRequest(wire::kDhcp, 1, "", nonce, 8452, 22, Datagram{7, 0}),
  };
  const Ipv4 targets[] = {block.Broadcast(), block.Address(10), block.Address(11)};
  for (int i = 0; i < 4000; ++i) {
    Datagram d;
    switch (rng() % 4) {
      case 0:  // random bytes of random length
        d.resize(rng() % 120);
        for (auto& b : d) b = byte();
        break;
      case 1: {  // a valid frame cut short
        d = valid[rng() % valid.size()];
        d.resize(rng() % d.size());
        break;
      }
      case 2: {  // a valid frame with a few bytes changed, the length field kept right
        d = valid[rng() % valid.size()];
        for (int k = 0; k < 3; ++k) d[rng() % d.size()] = byte();
        if (rng() % 2) PutBe16(d, 2, static_cast<uint16_t>(d.size()));
        break;
      }
      default:  // oversized
        d.resize(2000 + rng() % 6000);
        for (auto& b : d) b = byte();
        d[0] = valid[rng() % valid.size()][0];
        d[1] = 0;
        PutBe16(d, 2, static_cast<uint16_t>(d.size()));
        break;
    }
    peer.Send(targets[rng() % 3], d);
    if (i % 100 == 99) peer.Drain(5);
  }
  peer.Drain(50);

  for (int i = 0; i < 40; ++i) {
    TcpPeer t(block.Interface(), block.Address(10 + (i % 2)));
    if (!t.connected()) continue;
    Datagram stream(1 + rng() % 300);
    for (auto& b : stream) b = byte();
    if (i % 3 == 0) stream[0] = 0x14;  // past the login request into the answer
    if (i % 3 == 1) {                  // a real login, then garbage commands
      const uint8_t request = 0x14;
      t.Send(Bytes(&request, 1));
      const Datagram c = t.Read(6, 1000);
      if (c.size() == 6) {
        const Md5Digest digest = Md5({AsBytes(i % 2 ? "" : "pw"), Bytes(c).subspan(2, 4)});
        Datagram answer{0x00};
        answer.insert(answer.end(), digest.begin(), digest.end());
        t.Send(answer);
        t.Read(2, 1000);
      }
      stream[0] = 0x0D;  // a download whose image is cut off by the close
    }
    t.Send(stream);
  }

  // A normal client is still served.
  Session s{peer, block.Address(10), 9747, 21, "pw"};
  ASSERT_TRUE(s.Search());
  const auto r = s.Request(wire::kLogin);
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[1], 0);
  peer.Send(block.Broadcast(), SearchRequest());
  EXPECT_EQ(peer.Collect(2).size(), 2u);
  const auto stats = lab.Stats();
  EXPECT_GT(stats.ignored, 1000u);
  EXPECT_LE(lab.Log().size(), emulator::kLogCapacity);
  for (const auto& snap : lab.Snapshots()) EXPECT_TRUE(snap.bound);
}

}  // namespace
}  // namespace zelin::testing
