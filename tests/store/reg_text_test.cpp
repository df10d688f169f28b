#include "store/reg_text.hpp"

#include <gtest/gtest.h>

#include "store/hive_file.hpp"

namespace zelin {
namespace {

MemoryRegistry Parsed(std::string_view text) {
  Result<MemoryRegistry> reg = ParseRegText(text);
  EXPECT_TRUE(reg.ok()) << reg.status();
  return reg.ok() ? std::move(*reg) : MemoryRegistry();
}

// A parse error as its message tells it: "LINE: what".
struct RegTextError {
  size_t line = 0;
  std::string message;
};
RegTextError ParseError(std::string_view text) {
  const Result<MemoryRegistry> reg = ParseRegText(text);
  EXPECT_FALSE(reg.ok()) << text;
  if (reg.ok()) return {};
  EXPECT_EQ(reg.status(), StoreError::kSyntax) << text;
  const std::string& m = reg.status().message();
  const size_t colon = m.find(": ");
  EXPECT_NE(colon, std::string::npos) << m;
  if (colon == std::string::npos) return {0, m};
  return {std::stoul(m.substr(0, colon)), m.substr(colon + 2)};
}

TEST(RegText, WritesEveryValueKindExactly) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("SoftWare\\KIVO\\Zelin\\Parameters"));
  const std::string k = "SoftWare\\KIVO\\Zelin\\Parameters";
  ASSERT_TRUE(reg.WriteDword(k, "Servers", 10));
  ASSERT_TRUE(reg.WriteDword(k, "IPAddress", 0xC0A8010A));
  ASSERT_TRUE(reg.WriteBinary(k, "ServerName", std::vector<uint8_t>{'A', 'b', 0x00, 0xff}));
  ASSERT_TRUE(reg.WriteBinary(k, "Empty", {}));
  ASSERT_TRUE(reg.WriteString(k, "PortDriver", "Ports\\0004"));
  ASSERT_TRUE(reg.WriteString(k, "Quote \"q\" \\", "say \"hi\"\\"));
  ASSERT_TRUE(reg.WriteString(k, "", "default"));
  ASSERT_TRUE(reg.WriteValue(k, RegValue{"Multi", 7, {'a', 0, 0}}));
  ASSERT_TRUE(reg.WriteValue(k, RegValue{"ShortDword", kRegDword, {1, 2}}));
  ASSERT_TRUE(reg.WriteValue(k, RegValue{"StringWithNul", kRegString, {'a', 0}}));

  EXPECT_EQ(FormatRegText(reg),
            "REGEDIT4\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters]\n"
            "\"Servers\"=dword:0000000a\n"
            "\"IPAddress\"=dword:c0a8010a\n"
            "\"ServerName\"=hex:41,62,00,ff\n"
            "\"Empty\"=hex:\n"
            "\"PortDriver\"=\"Ports\\\\0004\"\n"
            "\"Quote \\\"q\\\" \\\\\"=\"say \\\"hi\\\"\\\\\"\n"
            "@=\"default\"\n"
            "\"Multi\"=hex(7):61,00,00\n"
            "\"ShortDword\"=hex(4):01,02\n"
            "\"StringWithNul\"=hex(1):61,00\n"
            "\n");
}

TEST(RegText, WrapsLongHexValuesWithinEightyColumns) {
  RegValue dcb{"DCB", kRegBinary, {}};
  for (int i = 0; i < 60; ++i) dcb.data.push_back(static_cast<uint8_t>(i));
  const std::string text = FormatRegValue(dcb);
  EXPECT_EQ(text,
            "\"DCB\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
            "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\n"
            "  30,31,32,33,34,35,36,37,38,39,3a,3b");
  // And it reads back as the same bytes.
  MemoryRegistry reg = Parsed("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n" + text + "\n");
  EXPECT_EQ(reg.ReadBinary("K", "DCB"), dcb.data);
}

TEST(RegText, RoundTripsThroughText) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("Enum\\Root\\Ports\\0000"));
  ASSERT_TRUE(reg.CreateKey("System\\CurrentControlSet"));
  ASSERT_TRUE(reg.WriteString("", "", "root default"));
  ASSERT_TRUE(reg.WriteString("Enum\\Root\\Ports\\0000", "Name", "a\\\"b\"\\"));
  ASSERT_TRUE(reg.WriteBinary("Enum\\Root\\Ports\\0000", "Bytes", std::vector<uint8_t>(200, 0xAB)));
  ASSERT_TRUE(reg.WriteDword("System\\CurrentControlSet", "D", 0xFFFFFFFF));
  const std::string text = FormatRegText(reg);
  const MemoryRegistry back = Parsed(text);
  EXPECT_TRUE(back == reg);
  EXPECT_EQ(FormatRegText(back), text);
}

TEST(RegText, ReadsCrLfFilesTheVersion5HeaderAndComments) {
  const MemoryRegistry reg = Parsed(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; written by hand\r\n"
      "[HKEY_LOCAL_MACHINE\\A]\r\n"
      "\"v\"=dword:1\r\n"
      "\"h\"=hex:01,\\\r\n"
      "    02\r\n"
      "\r\n"
      "[hkey_local_machine\\A]\r\n"  // a repeated section adds to the key
      "\"s\"=\"x\"\r\n");
  EXPECT_EQ(reg.ReadDword("A", "v"), 1u);
  EXPECT_EQ(reg.ReadBinary("A", "h"), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(reg.ReadString("A", "s"), "x");
}

TEST(RegText, ReportsMalformedTextWithItsLine) {
  struct Case {
    const char* text;
    size_t line;
    const char* what;
  };
  const Case cases[] = {
      {"", 1, "header"},
      {"REGEDIT5\n", 1, "header"},
      {"REGEDIT4\n\n\"v\"=dword:1\n", 3, "outside a key"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n", 2, "HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n", 2, "']'"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 2, "key name"},
      {"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\A]\n", 2, "deletions"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"s\"=\"a\\nb\"\n", 3, "bad escape"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"s\"=\"open\n", 3, "unterminated"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"s\"=\"a\" x\n", 3, "after the string"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"d\"=dword:123456789\n", 3, "dword"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"d\"=dword:12g4\n", 3, "hex digit"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex:01,0\n", 3, "hex byte"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex:01,02,\n", 3, "truncated"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex:01,\\\n", 3, "truncated"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex:01,\\\n  02,\\\n\n", 5, "truncated"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex:01 02\n", 3, "','"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex(z):01\n", 3, "hex(N)"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=-\n", 3, "deletions"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=qword:1\n", 3, "unknown value type"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\" = dword:1\n", 3, "'='"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nstray\n", 3, "unexpected"},
      {"\xFF\xFEW\0i\0", 1, "UTF-16"},
  };
  for (const auto& c : cases) {
    const RegTextError e = ParseError(c.text);
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_NE(e.message.find(c.what), std::string::npos) << c.text << " -> " << e.message;
  }
}

TEST(RegText, ExportsChosenSubtreesWithStoredNames) {
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("SoftWare\\KIVO\\Zelin\\Parameters"));
  ASSERT_TRUE(reg.CreateKey("Other\\Key"));
  ASSERT_TRUE(reg.WriteDword("SoftWare\\KIVO\\Zelin\\Parameters", "Servers", 0));
  EXPECT_EQ(FormatRegText(reg, {"software\\kivo\\zelin", "Missing\\Key"}),
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin]\n\n"
            "[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters]\n"
            "\"Servers\"=dword:00000000\n\n");
}

}  // namespace
}  // namespace zelin
