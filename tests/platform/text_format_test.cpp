#include "platform/text_format.hpp"

#include <gtest/gtest.h>

namespace zelin {
namespace {

constexpr const char* kBad = "\xEF\xBF\xBD";

TEST(ValidUtf8Test, KeepsWellFormedTextAndReplacesEachBadByte) {
  // ASCII, two-, three- and four-byte sequences at the edges of their ranges pass as they are.
  const std::string good = "Dock North \xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
  EXPECT_EQ(ValidUtf8(good), good);
  EXPECT_EQ(ValidUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));

  struct Case { std::string in, out; };
  const Case cases[] = {
      {"\x80", kBad},                                        // stray continuation byte
      {"caf\xE9", std::string("caf") + kBad},                // a legacy code page's e-acute
      {"\xC0\xAF", std::string(kBad) + kBad},                // overlong '/'
      {"\xE0\x80\xAF", std::string(kBad) + kBad + kBad},     // overlong three-byte form
      {"\xED\xA0\x80", std::string(kBad) + kBad + kBad},     // a surrogate
      {"\xF4\x90\x80\x80", std::string(kBad) + kBad + kBad + kBad},  // past U+10FFFF
      {"\xE2\x82", std::string(kBad) + kBad},                // cut short at the end
      {"\xE2\x82x", std::string(kBad) + kBad + "x"},         // cut short before ASCII
      {"\xFF\xFE", std::string(kBad) + kBad},
  };
  for (const auto& c : cases) EXPECT_EQ(ValidUtf8(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace zelin
