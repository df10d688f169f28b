// Injected faults, set at run time and from the lab description.

#include <gtest/gtest.h>

#include "emulator/lab.hpp"
#include "protocol/wire.hpp"
#include "tests/emulator/raw_peer.hpp"

namespace zelin::testing {
namespace {

using emulator::FaultSettings;
using emulator::Lab;

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emulator::LabSpec desc = LabIn(block_);
    desc.servers.push_back(ServerAt(Server(), 3, 776, "k"));
    lab_ = std::make_unique<Lab>(std::move(desc));
    std::string error;
    ASSERT_TRUE(lab_->Start(&error)) << error;
    ASSERT_TRUE(session_.Search());
  }
  Ipv4 Server() const { return block_.Address(10); }
  void Set(const FaultSettings& f) { ASSERT_TRUE(lab_->SetFaults(3, f)); }

  LoopbackBlock block_;
  std::unique_ptr<Lab> lab_;
  UdpPeer peer_{block_.Interface()};
  Session session_{peer_, block_.Address(10), 776, 3, "k"};
};

TEST_F(FaultTest, DroppedReplyIsRecoveredByRetransmission) {
  Set({.drop_share = 1.0});
  const Datagram request =
      AuthRequest(wire::kLogin, session_.sequence, "k", session_.nonce, 776, 3);
  peer_.Send(Server(), request);
  EXPECT_FALSE(peer_.Receive(150));
  EXPECT_NE(lab_->Log().back().verdict.find("reply dropped"), std::string::npos);
  Set({});
  peer_.Send(Server(), request);
  const auto r = peer_.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[1], 0);
  EXPECT_EQ(lab_->Log().back().verdict, "replayed");
  EXPECT_EQ(lab_->Stats().replies_dropped, 1u);
}

TEST_F(FaultTest, PartialDropIsSeededAndPartial) {
  Set({.drop_share = 0.5});
  for (int i = 0; i < 40; ++i) peer_.Send(Server(), SearchRequest());
  const size_t got = peer_.Drain(500).size();
  EXPECT_GT(got, 0u);
  EXPECT_LT(got, 40u);
  EXPECT_EQ(lab_->Stats().replies_dropped, 40u - got);
}

TEST_F(FaultTest, DelayedReplyArrivesLater) {
  Set({.delay_ms = 300});
  peer_.Send(Server(), SearchRequest());
  EXPECT_FALSE(peer_.Receive(0));  // not there at once
  const auto r = peer_.Receive(3000);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->size(), 86u);
}

TEST_F(FaultTest, DuplicateAndStaleReplies) {
  Set({.duplicate = true});
  peer_.Send(Server(), AuthRequest(wire::kLogin, session_.sequence, "k", session_.nonce, 776, 3));
  auto all = peer_.Collect(2);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], all[1]);
  const Datagram earlier = all[0];
  session_.nonce = NonceOf(earlier);
  ++session_.sequence;

  Set({.stale = true});
  peer_.Send(Server(), AuthRequest(wire::kLogin, session_.sequence, "k", session_.nonce, 776, 3));
  all = peer_.Collect(2);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], earlier);  // the stale one first, skipped by a client for its sequence
  EXPECT_EQ(SequenceOf(all[1]), session_.sequence);
  EXPECT_EQ(all[1][1], 0);
}

TEST_F(FaultTest, RefuseAnswersEveryAuthenticatedRequestWithStatusSix) {
  Set({.refuse = true});
  for (int i = 0; i < 3; ++i) {
    const auto r = session_.Request(wire::kLogin);
    ASSERT_TRUE(r);
    EXPECT_EQ((*r)[1], 6);
  }
  // Search and the short requests are not authenticated and still work.
  peer_.Send(Server(), ShortRequest(wire::kLocateOn, session_.sequence, 776, 3));
  const auto r = peer_.Receive();
  ASSERT_TRUE(r);
  EXPECT_EQ((*r)[1], 0);
  Set({});
  session_.nonce = NonceOf(*r);
  ++session_.sequence;
  EXPECT_EQ((*session_.Request(wire::kLogin))[1], 0);
}

}  // namespace
}  // namespace zelin::testing
