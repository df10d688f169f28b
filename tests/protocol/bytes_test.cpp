#include "protocol/bytes.hpp"

#include <gtest/gtest.h>

#include "protocol/device_types.hpp"
#include "protocol/md5.hpp"
#include "protocol/types.hpp"

namespace zelin {
namespace {

TEST(Bytes, EndianHelpersWriteAndReadExactBytes) {
  std::array<uint8_t, 8> b{};
  PutLe16(b, 0, 0x1234);
  PutBe16(b, 2, 0x1234);
  PutLe32(b, 4, 0xA1B2C3D4);
  EXPECT_EQ(b, (std::array<uint8_t, 8>{0x34, 0x12, 0x12, 0x34, 0xD4, 0xC3, 0xB2, 0xA1}));
  EXPECT_EQ(GetLe16(b, 0), 0x1234);
  EXPECT_EQ(GetBe16(b, 2), 0x1234);
  EXPECT_EQ(GetLe32(b, 4), 0xA1B2C3D4u);
  EXPECT_EQ(GetBe32(b, 4), 0xD4C3B2A1u);
}

TEST(Bytes, AddressesAreHeldInNetworkOrder) {
  const Ipv4 a = Ipv4FromOctets(192, 168, 1, 10);
  std::array<uint8_t, 4> mem;
  __builtin_memcpy(mem.data(), &a, 4);
  EXPECT_EQ(mem, (std::array<uint8_t, 4>{0xC0, 0xA8, 0x01, 0x0A}));
  EXPECT_EQ(Ipv4ToHostOrder(a), 0xC0A8010Au);
  EXPECT_EQ(Ipv4FromHostOrder(0xC0A8010Au), a);
  EXPECT_TRUE(IsLoopback(Ipv4FromOctets(127, 9, 9, 9)));
  EXPECT_FALSE(IsLoopback(kBroadcastAddress));
}

TEST(Md5, MatchesRfc1321Vectors) {
  const auto d = Md5({AsBytes("message "), AsBytes("digest")});
  const std::array<uint8_t, 16> want{0xf9, 0x6b, 0x69, 0x7d, 0x7c, 0xb7, 0x93, 0x8d,
                                     0x52, 0x5a, 0x2f, 0x31, 0xaa, 0xf1, 0x61, 0xd0};
  EXPECT_EQ(d, want);
  const auto empty = Md5({});
  EXPECT_EQ(empty[0], 0xd4);
  EXPECT_EQ(empty[15], 0x7e);
}

TEST(ModelTable, AcceptanceDependsOnTheProgram) {
  EXPECT_EQ(ModelTable().size(), 20u);
  EXPECT_TRUE(IsAcceptedBy(771, Deliverable::Manager));
  EXPECT_FALSE(IsAcceptedBy(769, Deliverable::Manager));
  EXPECT_FALSE(IsAcceptedBy(769, Deliverable::Wizard));
  EXPECT_TRUE(IsAcceptedBy(769, Deliverable::Monitor));
  EXPECT_FALSE(IsAcceptedBy(1234, Deliverable::Monitor));
  EXPECT_EQ(ModelName(9752), "QX608");
  EXPECT_EQ(ModelPortCount(8470), 16);
  EXPECT_EQ(ModelName(1), "");
  EXPECT_EQ(ModelPortCount(1), 0);
}

TEST(ServerRecord, NameIsReadInPlaceAndTruncatedTo29) {
  ServerRecord r;
  r.set_name(std::string(40, 'A'));
  EXPECT_EQ(r.name(), std::string(29, 'A'));
  r.set_name("abc");
  EXPECT_EQ(r.name(), "abc");
}

}  // namespace
}  // namespace zelin
