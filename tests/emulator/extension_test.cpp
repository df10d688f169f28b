// New commands slot into the handler tables without changes to the core.

#include <gtest/gtest.h>

#include "emulator/lab.hpp"
#include "tests/emulator/raw_peer.hpp"

namespace zelin::testing {
namespace {

using emulator::HandlerResult;
using emulator::TcpAction;

TEST(ExtensionTest, RegisteredHandlersServeNewCodes) {
  LoopbackBlock block;
  emulator::LabSpec desc = LabIn(block);
  desc.servers.push_back(ServerAt(block.Address(10), 4, 9752, "pw"));
  emulator::Lab lab(std::move(desc));
  // A datagram without digest check that echoes its four payload bytes, with a
  // reply length of the handler's choosing.
  lab.udp_handlers().Register(
      {0x70, emulator::FrameKind::kUnsigned, 30, 0, 22, [](emulator::UdpContext& ctx) {
         std::copy_n(ctx.request.begin() + 26, 4, ctx.reply.begin() + 18);
         ctx.reply.resize(22 + 94);
         return HandlerResult::Ok();
       }});
  // A TCP command after the login.
  lab.tcp_handlers().Register({0x0F, 1, [](emulator::TcpContext& ctx) {
                                 ctx.out.assign({0x0F, 0x00, 0x02, 0xAB, 0xCD});
                                 return TcpAction::kContinue;
                               }});
  std::string error;
  ASSERT_TRUE(lab.Start(&error)) << error;

  UdpPeer peer(block.Interface());
  Datagram q = AuthRequest(0x70, 9, "not checked", {}, 9752, 4, Datagram{0, 3, 0xFF, 0xFF});
  peer.Send(block.Broadcast(), q);
  auto r = peer.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->size(), 22u + 94u);
  EXPECT_EQ((*r)[0], 0xF0);
  EXPECT_EQ(GetBe16(*r, 2), 22 + 94);
  EXPECT_EQ(SequenceOf(*r), 9);
  EXPECT_EQ((*r)[19], 3);

  TcpPeer t(block.Interface(), block.Address(10));
  const uint8_t login = 0x14;
  ASSERT_TRUE(t.Send(Bytes(&login, 1)));
  const Datagram c = t.Read(6);
  ASSERT_EQ(c.size(), 6u);
  const Md5Digest digest = Md5({AsBytes("pw"), Bytes(c).subspan(2, 4)});
  Datagram answer{0x00};
  answer.insert(answer.end(), digest.begin(), digest.end());
  ASSERT_TRUE(t.Send(answer));
  ASSERT_EQ(t.Read(2), (Datagram{0x00, 0x01}));
  const uint8_t status = 0x0F;
  ASSERT_TRUE(t.Send(Bytes(&status, 1)));
  EXPECT_EQ(t.Read(5), (Datagram{0x0F, 0x00, 0x02, 0xAB, 0xCD}));

  // Run-time changes through Modify: a new password takes effect at once.
  ASSERT_TRUE(lab.Modify(4, [](emulator::DeviceState& s) { s.applied.password = "other"; }));
  EXPECT_EQ(lab.Snapshot(4)->applied.password, "other");
  EXPECT_FALSE(lab.Modify(99, [](emulator::DeviceState&) {}));
}

}  // namespace
}  // namespace zelin::testing
