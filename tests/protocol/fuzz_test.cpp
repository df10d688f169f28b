// Random, truncated and oversized inputs through every decoder and encoder of the
// client side, with a fixed seed. Under AddressSanitizer an over-read shows up as a
// crash; the invariants below catch quieter faults.
#include <gtest/gtest.h>

#include <random>

#include "protocol/frames.hpp"
#include "tests/protocol/fixtures.hpp"

namespace zelin {
namespace {

constexpr int kRounds = 6000;

class Fuzz {
 public:
  explicit Fuzz(uint32_t seed) : rng_(seed) {}

  uint32_t Next(uint32_t bound) {
    return std::uniform_int_distribution<uint32_t>(0, bound - 1)(rng_);
  }

  // A heap block of exactly the chosen size, so that a read past it is caught.
  std::vector<uint8_t> Bytes() {
    static const size_t kSizes[] = {0,  1,  5,   6,   9,   10,  13,  14,  17,  18,
                                    19, 21, 22,  23,  24,  27,  28,  33,  34,  85,
                                    86, 87, 423, 424, 425, 583, 584, 585, 2048};
    const size_t size = Next(4) == 0 ? Next(2049) : kSizes[Next(std::size(kSizes))];
    std::vector<uint8_t> b(size);
    for (auto& x : b) x = static_cast<uint8_t>(Next(256));
    // Plausible headers often enough to get past the first checks.
    if (size > 1 && Next(2) == 0) b[1] = 0;
    if (size > 0 && Next(2) == 0)
      b[0] = static_cast<uint8_t>(kCodes[Next(std::size(kCodes))] | 0x80);
    if (size >= 24 && Next(2) == 0) {
      PutLe16(b, 18, static_cast<uint16_t>(Next(80)));
      PutLe16(b, 20, static_cast<uint16_t>(Next(80)));
      PutLe16(b, 22, static_cast<uint16_t>(Next(80)));
    }
    return b;
  }

  static constexpr uint8_t kCodes[] = {0x01, 0x31, 0x32, 0x33, 0x35, 0x36, 0x37, 0x38, 0x39,
                                       0x3A, 0x3B, 0x3C, 0x3D, 0x41, 0x45, 0x00, 0xFF};

 private:
  std::mt19937 rng_;
};

TEST(FuzzTest, RepliesNeverReadPastTheirBytesNorStorePastTheTables) {
  Fuzz f(20260101);
  for (int round = 0; round < kRounds; ++round) {
    const auto reply = f.Bytes();
    const uint8_t code = Fuzz::kCodes[f.Next(std::size(Fuzz::kCodes))];
    ServerRecord r = testing::Record({});
    const size_t full = reply.size() + (f.Next(4) == 0 ? f.Next(3000) : 0);
    const LastCommandError e = frames::CheckReply(reply, full, code, r);
    (void)frames::ReplySequence(reply);
    if (reply.size() >= 10) (void)frames::ReplyNonce(reply);

    const auto before = r;
    const Result<frames::Messages> applied = frames::ApplyReplyPayload(code, reply, r);
    const bool taken = applied.ok();
    const frames::Messages messages = applied.value_or(frames::Messages{});
    if (!taken) {
      EXPECT_EQ(r.route_table, before.route_table);
      EXPECT_EQ(r.route_total, before.route_total);
    }
    EXPECT_LE(r.access_total, 40) << "valid entries come from the 40 slots";
    EXPECT_LE(messages.size(), 2u);
    if (e == LastCommandError::kNone) {
      EXPECT_GE(reply.size(), wire::kReplyHeaderSize);
    }

    (void)frames::ParseGetRoutesReply(reply, r);
    (void)frames::ParseGetAccessListReply(reply, r);
    frames::ParseCheckAddressReply(reply, r);
    frames::ParseDhcpReply(reply, r);
    // The identity read in place is untouched by every parser.
    EXPECT_EQ(r.serial_number(), before.serial_number());
    EXPECT_EQ(r.name(), before.name());
  }
}

TEST(FuzzTest, SearchRepliesAndTcpMessages) {
  Fuzz f(7);
  for (int round = 0; round < kRounds; ++round) {
    auto bytes = f.Bytes();
    if (f.Next(3) == 0) {
      bytes = testing::SearchReply({});
      for (size_t i = 28; i < 58; ++i)
        bytes[i] = static_cast<uint8_t>(f.Next(3) == 0 ? ' ' : f.Next(256));
    }
    if (frames::IsSearchReplyShape(bytes, bytes.size())) {
      frames::CleanSearchReplyName(bytes);
      ServerRecord r;
      std::copy(bytes.begin(), bytes.end(), r.search_reply.begin());
      EXPECT_LE(r.name().size(), 29u);
    } else {
      frames::CleanSearchReplyName(bytes);  // short spans are left alone
    }
    const auto challenge = frames::ParseTcpChallenge(bytes);
    if (challenge) {
      EXPECT_EQ(bytes.size(), 6u);
    }
    if (frames::IsTcpPair(bytes, 0x0D, 0x01)) {
      EXPECT_EQ(bytes.size(), 2u);
    }
  }
}

TEST(FuzzTest, RequestsFromHostileRecords) {
  Fuzz f(99);
  for (int round = 0; round < kRounds; ++round) {
    ServerRecord r = testing::Record({});
    for (auto& b : r.search_reply) b = static_cast<uint8_t>(f.Next(256));
    r.password = std::string(f.Next(20), 'p');
    r.new_password = std::string(f.Next(20), 'n');
    r.access_start = static_cast<uint16_t>(f.Next(70000));
    r.access_count = static_cast<uint16_t>(f.Next(70000));
    r.route_start = static_cast<uint16_t>(f.Next(70000));
    r.sequence = f.Next(0xFFFFFFFFu);
    const uint8_t code = static_cast<uint8_t>(f.Next(256));
    const auto request = frames::BuildRequest(r, code, f.Next(0xFFFFFFFFu));
    if (!request) {
      const Status& e = request.status();
      EXPECT_TRUE(e == LastCommandError::kPasswordTooLong ||
                  e == LastCommandError::kUnknownCommand);
      continue;
    }
    ASSERT_GE(request->size(), 10u);
    EXPECT_EQ(GetBe16(*request, 2), request->size());
    EXPECT_EQ((*request)[0], code);
    EXPECT_LE(request->size(), wire::kSetAccessListBaseSize + 32 * wire::kAccessEntrySize);
  }
}

}  // namespace
}  // namespace zelin
