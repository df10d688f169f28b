#include "store/registry.hpp"

#include <gtest/gtest.h>

namespace zelin {
namespace {

TEST(MemoryRegistry, NamesCompareCaseInsensitivelyAndKeepTheirCase) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("SoftWare\\KIVO\\Zelin"));
  EXPECT_TRUE(reg.KeyExists("software\\kivo\\ZELIN"));
  ASSERT_TRUE(reg.CreateKey("SOFTWARE\\kivo\\zelin\\Parameters"));  // reuses the parents
  EXPECT_EQ(reg.EnumSubkey("", 0), "SoftWare");
  EXPECT_FALSE(reg.EnumSubkey("", 1));
  EXPECT_EQ(reg.EnumSubkey("software\\KIVO\\zelin", 0), "Parameters");

  ASSERT_TRUE(reg.WriteDword("SoftWare\\KIVO", "Servers", 3));
  ASSERT_TRUE(reg.WriteDword("SoftWare\\KIVO", "SERVERS", 4));  // same value, first spelling
  EXPECT_EQ(reg.ReadDword("software\\kivo", "servers"), 4u);
  EXPECT_EQ(reg.EnumValue("SoftWare\\KIVO", 0)->name, "Servers");
  EXPECT_FALSE(reg.EnumValue("SoftWare\\KIVO", 1));
}

TEST(MemoryRegistry, EnumerationKeepsCreationOrderAcrossDeletion) {
  MemoryRegistry reg;
  for (const char* k : {"P\\Server3", "P\\Server1", "P\\Server2"}) ASSERT_TRUE(reg.CreateKey(k));
  ASSERT_TRUE(reg.DeleteKey("P\\server1"));
  ASSERT_TRUE(reg.CreateKey("P\\Server1"));
  EXPECT_EQ(reg.EnumSubkey("P", 0), "Server3");
  EXPECT_EQ(reg.EnumSubkey("P", 1), "Server2");
  EXPECT_EQ(reg.EnumSubkey("P", 2), "Server1");
  EXPECT_FALSE(reg.EnumSubkey("P", 3));
}

TEST(MemoryRegistry, DeleteTakesTheSubtreeAndRefusesTheRoot) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("A\\B\\C"));
  ASSERT_TRUE(reg.WriteString("A\\B\\C", "x", "y"));
  EXPECT_FALSE(reg.DeleteKey(""));
  EXPECT_FALSE(reg.DeleteKey("A\\missing"));
  EXPECT_TRUE(reg.DeleteKey("a\\b"));
  EXPECT_FALSE(reg.KeyExists("A\\B\\C"));
  EXPECT_TRUE(reg.KeyExists("A"));
  ASSERT_TRUE(reg.CreateKey("A\\B\\C"));
  EXPECT_FALSE(reg.ReadString("A\\B\\C", "x"));  // a re-created key starts empty
}

TEST(MemoryRegistry, RefusesInvalidWrites) {
  MemoryRegistry reg;
  EXPECT_FALSE(reg.WriteDword("Missing", "v", 1));  // values need an existing key
  EXPECT_FALSE(reg.KeyExists("Missing"));
  EXPECT_FALSE(reg.CreateKey("A\\\\B"));  // empty component
  EXPECT_FALSE(reg.CreateKey("\\A"));
  EXPECT_FALSE(reg.CreateKey("A\\"));
  EXPECT_FALSE(reg.CreateKey("A\\B\tC"));
  EXPECT_FALSE(reg.CreateKey(std::string(kMaxRegNameLength + 1, 'k')));
  EXPECT_FALSE(reg.KeyExists("A"));  // nothing half-created
  ASSERT_TRUE(reg.CreateKey("A"));
  EXPECT_FALSE(reg.WriteString("A", "s", "two\nlines"));
  EXPECT_FALSE(reg.WriteString("A", "s", std::string("nul\0", 4)));
  EXPECT_FALSE(reg.WriteString("A", "bad\nname", "x"));
  EXPECT_FALSE(reg.WriteBinary("A", "big", std::vector<uint8_t>(kMaxRegValueSize + 1)));
  EXPECT_FALSE(reg.EnumValue("A", 0));
}

TEST(MemoryRegistry, TypedReadsTreatAnotherTypeAsMissing) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("K"));
  ASSERT_TRUE(reg.WriteString("K", "Servers", "abcd"));  // four bytes, but a string
  ASSERT_TRUE(reg.WriteBinary("K", "Bin", std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_FALSE(reg.ReadDword("K", "Servers"));
  EXPECT_FALSE(reg.ReadDword("K", "Bin"));
  EXPECT_FALSE(reg.ReadBinary("K", "Servers"));
  EXPECT_EQ(reg.ReadString("K", "Servers"), "abcd");
  EXPECT_EQ(reg.ReadBinary("K", "Bin"), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(MemoryRegistry, CopiesAreIndependentAndCompareEqual) {
  MemoryRegistry a;
  ASSERT_TRUE(a.CreateKey("X\\Y"));
  ASSERT_TRUE(a.WriteDword("X\\Y", "v", 1));
  MemoryRegistry b = a;
  EXPECT_TRUE(a == b);
  ASSERT_TRUE(b.WriteDword("x\\y", "v", 2));
  EXPECT_FALSE(a == b);
  EXPECT_EQ(a.ReadDword("X\\Y", "v"), 1u);
  ASSERT_TRUE(b.CreateKey("x\\y\\z"));
  EXPECT_TRUE(b.KeyExists("X\\Y\\Z"));  // the copy's name index works
}

TEST(FailingRegistry, FailsTheChosenWriteAndEveryLaterOne) {
  MemoryRegistry inner;
  FailingRegistry reg(inner, 3);
  EXPECT_TRUE(reg.CreateKey("A"));
  EXPECT_TRUE(reg.WriteDword("A", "one", 1));
  EXPECT_FALSE(reg.WriteDword("A", "two", 2));
  EXPECT_FALSE(reg.CreateKey("B"));
  EXPECT_EQ(reg.writes(), 4u);
  EXPECT_TRUE(reg.ReadDword("A", "one"));  // reads go through
  EXPECT_FALSE(inner.ReadDword("A", "two"));
  EXPECT_FALSE(inner.KeyExists("B"));
}

}  // namespace
}  // namespace zelin
