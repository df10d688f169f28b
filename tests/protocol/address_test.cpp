#include "protocol/address.hpp"
#include "protocol/address_search.hpp"

#include <gtest/gtest.h>

namespace zelin {
namespace {

TEST(AddressText, RoundTripsInMemoryOrder) {
  const Ipv4 a = TextToAddress("192.168.1.10");
  EXPECT_EQ(Ipv4Octets(a), (std::array<uint8_t, 4>{0xC0, 0xA8, 0x01, 0x0A}));
  EXPECT_EQ(AddressToText(a), "192.168.1.10");
  EXPECT_EQ(AddressToText(kBroadcastAddress), "255.255.255.255");
}

TEST(AddressText, TooFewPartsOrTooLongGiveZero) {
  EXPECT_EQ(TextToAddress("1.2.3"), 0u);
  EXPECT_EQ(TextToAddress(""), 0u);
  EXPECT_EQ(TextToAddress("0001.0002.0003.00004"), 0u);  // 20 characters
  EXPECT_EQ(TextToAddress("..."), 0u);
  // Non-digits read as atoi reads them.
  EXPECT_EQ(TextToAddress("1.2.3.x"), Ipv4FromOctets(1, 2, 3, 0));
}

TEST(AddressText, Validity) {
  EXPECT_TRUE(IsValidAddressText("..."));
  EXPECT_TRUE(IsValidAddressText("1.2.3.4"));
  EXPECT_TRUE(IsValidAddressText("1.2.3.4.5"));  // parts after the fourth are not checked
  EXPECT_TRUE(IsValidAddressText("255.255.255.0"));
  for (const char* bad :
       {"256.1.1.1", "1.2.3", "1.2.3.x", "1234.1.1.1", "1..3.4", "", "-1.2.3.4", "1.2.3. 4"})
    EXPECT_FALSE(IsValidAddressText(bad)) << bad;
}

// Typed addresses (options, environment) must name one host: the empty field and a
// fifth part, which the field check lets through, are refused.
TEST(AddressText, HostAddressesHaveExactlyFourParts) {
  EXPECT_EQ(ParseHostAddress("127.0.42.255"), Ipv4FromOctets(127, 0, 42, 255));
  for (const char* bad : {"...", "1.2.3.4.5", "1.2.3", "300.1.1.1", "", "1.2.3.4."})
    EXPECT_FALSE(ParseHostAddress(bad)) << bad;
}

}  // namespace
}  // namespace zelin

#include "protocol/device_text.hpp"

namespace zelin {
namespace {

TEST(DeviceText, OnlyPrintableAsciiTravels) {
  EXPECT_TRUE(IsDeviceText(""));
  EXPECT_TRUE(IsDeviceText("Dock North ~!@#"));
  EXPECT_FALSE(IsDeviceText("p\xC3\xA4ssword"));  // UTF-8 for a-umlaut
  EXPECT_FALSE(IsDeviceText("tab\there"));
  EXPECT_FALSE(IsDeviceText(std::string_view("nul\0", 4)));
  EXPECT_FALSE(IsDeviceText("\x7F"));
}

// The two callers of the free-address search differ only after .254.
TEST(AddressSearch, StepsThroughTheLastOctetWithEachRule) {
  for (auto rule : {AfterLastHost::kFirstHost, AfterLastHost::kNetwork}) {
    EXPECT_EQ(NextCandidateAddress(Ipv4FromOctets(10, 0, 0, 0), rule), Ipv4FromOctets(10, 0, 0, 1));
    EXPECT_EQ(NextCandidateAddress(Ipv4FromOctets(10, 0, 7, 253), rule),
              Ipv4FromOctets(10, 0, 7, 254));
    EXPECT_EQ(NextCandidateAddress(Ipv4FromOctets(10, 0, 7, 255), rule), Ipv4FromOctets(10, 0, 7, 0));
  }
  EXPECT_EQ(NextCandidateAddress(Ipv4FromOctets(10, 0, 7, 254), AfterLastHost::kFirstHost),
            Ipv4FromOctets(10, 0, 7, 1));
  EXPECT_EQ(NextCandidateAddress(Ipv4FromOctets(10, 0, 7, 254), AfterLastHost::kNetwork),
            Ipv4FromOctets(10, 0, 7, 0));
}

TEST(AddressList, LenientSkipsBlanksStrictRejectsThem) {
  const auto lenient = ParseAddressList(" 127.0.0.1,, 127.0.0.2 ,x", ListSyntax::kLenient);
  EXPECT_EQ(lenient.addresses,
            (std::vector<Ipv4>{Ipv4FromOctets(127, 0, 0, 1), Ipv4FromOctets(127, 0, 0, 2)}));
  EXPECT_EQ(lenient.rejected, std::vector<std::string>{"x"});
  const auto strict = ParseAddressList("127.0.0.1,, 127.0.0.2", ListSyntax::kStrict);
  EXPECT_EQ(strict.addresses, std::vector<Ipv4>{Ipv4FromOctets(127, 0, 0, 1)});
  EXPECT_EQ(strict.rejected, (std::vector<std::string>{"", " 127.0.0.2"}));
}

}  // namespace
}  // namespace zelin
