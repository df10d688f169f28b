// The report of a test run: the pair table, the texts of steps and codes, the saved
// text report byte for byte and the screen layout.

#include <gtest/gtest.h>

#include "portcheck/core/main_window_model.hpp"
#include "portcheck/core/report.hpp"

namespace zelin::portcheck {
namespace {

ServerImage Image(uint16_t type, std::string_view name, uint8_t host, uint32_t firmware) {
  ServerImage im;
  PutLe16(im.bytes, wire::kSrDeviceType, type);
  PutIpv4(im.bytes, wire::kSrIpAddress, Ipv4FromOctets(127, 0, 43, host));
  PutLe32(im.bytes, wire::kSrFirmware, firmware);
  for (size_t i = 0; i < name.size(); ++i) im.bytes[wire::kSrName + i] = static_cast<uint8_t>(name[i]);
  return im;
}

struct SampleRun {
  DiagConfig config = DiagConfig::Defaults();
  std::array<ResultStore, kMaxDiagServers> stores{};
  SampleRun() {
    ServerTestSettings s;
    s.port_mask = 0xFFFF;
    s.server_flags = kTestPrinter;
    config.AddServer(Image(771, "Dock North", 10, 0x02110000), s);
    config.AddServer(Image(9480, "Workshop", 11, 0x01200000), s);
    config.AddServer(Image(9752, "Spare", 12, 0x01200000), s);
    auto& r = stores[0];
    for (uint8_t p = 0; p < 16; ++p)
      r.Keep(ProgressReport::Make(kItemInternal, kSubLoopback, true, p == 9 ? 2 : 0, p));
    r.Keep(ProgressReport::Make(kItemExternal, kSubFindPair, true, 0, 0, 1));
    r.Keep(ProgressReport::Make(kItemExternal, kSubFindPair, true, 0, 4, kNoPort));
    r.Keep(ProgressReport::Make(kItemExternal, kSubFindPair, true, 0, 9, 12));
    r.Keep(ProgressReport::Make(kItemExternal, kSubTxRx, true, 0, 0, 1));
    r.Keep(ProgressReport::Make(kItemExternal, kSubRtsCts, true, 32, 0, 1));
    r.Keep(ProgressReport::Make(kItemExternal, kSubDtrDsr, true, 0, 9, 12));
    r.Keep(ProgressReport::Make(kItemExternal, kSubDtrDcd, true, 0, 7, 8));  // no such pair
    r.Keep(ProgressReport::Make(kItemPrinter, 1, true, 0, 0));
    r.Keep(ProgressReport::Make(kItemPrinter, 1, true, 51, 0));
    stores[1].MarkFailure(kMarkLoginFail);
  }
};

constexpr std::string_view kTime = "(Test Time : 12/07/26 18:05:09)------------------------";

TEST(TestTexts, StepsCodesAndTheTestWord) {
  EXPECT_EQ(DescribeStep(ProgressReport::Make(kItemExternal, kSubTxRx, true, 0, 0, 1)),
            "port 1 - 2 Tx/Rx test");
  EXPECT_EQ(DescribeStep(ProgressReport::Make(kItemInternal, kSubController, true, 0, 0)),
            "Unrecognized subitem!");
  EXPECT_EQ(DescribeStep(ProgressReport::Make(9, 2, true, 0, 0)), "Unrecognized test item");
  EXPECT_EQ(DescribeError(16), "Unknow error 16!");
  EXPECT_EQ(DescribeError(44), "Port B DTR on but Port A DCD off");
  EXPECT_EQ(ItemName(7), "Unknow");
  // External off drops the subitems; the printer bit comes from the server flags.
  EXPECT_EQ(TestWord(0x000000F2, kTestPrinter), 0x0006);
  EXPECT_EQ(TestWord(0x1000072, 0), 0x0072);
  DiagConfig c = DiagConfig::Defaults();
  c.server_count = 1;
  c.settings[0].port_mask = 0x1000F;
  const DiagnoseCommand cmd = BuildDiagnoseCommand(c, 0);
  EXPECT_EQ(cmd.Encode(), (std::array<uint8_t, 10>{0x0E, 0x72, 0x00, 0x0F, 0x00, 0x00, 0x96, 0x00, 0x00, 0x03}));
  std::tm t{};
  t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 7, t.tm_hour = 18, t.tm_min = 5, t.tm_sec = 9;
  EXPECT_EQ(TestTimeLine(t), kTime);
}

TEST(PairTable, KeepsSixteenPairsInArrivalOrder) {
  ResultStore store;
  for (uint8_t p = 0; p < 20; ++p)
    store.Keep(ProgressReport::Make(kItemExternal, kSubFindPair, true, 0, p, p));
  store.Keep(ProgressReport::Make(kItemExternal, kSubFindPair, true, 0, 0, 0));  // known pair
  store.Keep(ProgressReport::Make(kItemExternal, kSubDtrDcd, true, 43, 15, 15));
  store.Keep(ProgressReport::Make(kItemExternal, kSubTxRx, true, 1, 17, 17));  // dropped pair
  PairTable t;
  EXPECT_EQ(BuildPairTable(store, t), 16u);
  EXPECT_EQ(t.port_a[15], 15);
  EXPECT_EQ(t.cells[15][PairTable::kDtrDcd], 43);
  EXPECT_EQ(t.cells[15][PairTable::kTxRx], kNotTested);
  ResultStore failed;
  failed.MarkFailure(kMarkConnectFail);
  EXPECT_EQ(failed.failure(), kMarkConnectFail);
  EXPECT_EQ(BuildPairTable(failed, t), 0u);
}

TEST(TextReport, ByteForByte) {
  SampleRun run;
  const std::string text = TextReport(run.config, run.stores, kTime);
  std::string expected;
  auto l = [&](std::string_view s) { (expected += s) += "\r\n"; };
  l("");
  l("Zelin Server Dock North (127.0.43.10)");
  l("Firmware version = 2.11");
  l("Communication parameter=38400 NONE 8 1");
  l("");
  l("Internal LoopBack Test                ");
  l("===========================");
  l("                [Tx/Rx]");
  for (int p = 1; p <= 16; ++p)
    l((p < 10 ? "    Port " + std::to_string(p) + "       " : "    Port " + std::to_string(p) + "      ") +
      (p == 10 ? "E002" : "OK"));
  l("");
  l("External LoopBack Test                ");
  l("=========================");
  l("    Port ( 5 )");
  l("    Not connected, skip test.");
  l("");
  l("    Port A-B    [Tx/Rx]   [RTS/CTS]  [DTR/DSR]  [DTR/DCD]");
  l("         1-2      OK        E032        ---        ---       ");
  l("         10-13    ---        ---        OK         ---       ");
  l("");
  l("Printer Test                ");
  l("=========================");
  l("               ok");
  l("                 E051");
  l("");
  l("Zelin Server Workshop (127.0.43.11)");
  l("Firmware version = 1.20");
  l("Communication parameter=38400 NONE 8 1");
  l("");
  l("Login fail!");
  l("");
  l("Zelin Server Spare (127.0.43.12)");
  l("Firmware version = 1.20");
  l("Communication parameter=38400 NONE 8 1");
  l("");
  l("");
  l(kTime);
  EXPECT_EQ(text, expected);
}

TEST(ReportLayout, SectionsCellsAndFailures) {
  SampleRun run;
  const ReportLayout layout = LayoutReport(run.config, 0, run.stores[0], kTime);
  // The text at a place; a missing one fails the test and reads as an empty text.
  auto at = [&](int line, int column) -> const ReportText& {
    static const ReportText kMissing{};
    for (const auto& t : layout.texts)
      if (t.line == line && t.column == column) return t;
    ADD_FAILURE() << "no text at line " << line << ", column " << column;
    return kMissing;
  };
  EXPECT_EQ(at(1, 0).text, "Zelin Server Pro VR-13  Dock North (127.0.43.10)");
  EXPECT_EQ(at(5, 0).style, ReportText::Style::kBold);
  EXPECT_EQ(at(17, 15).code, 2);  // port 10, line 8 + 9
  // External from line 24: title 25, rule 26, unpaired 27-28, heading 30, rows 31-32.
  EXPECT_EQ(at(27, 4).text, "Port ( 5 )");
  EXPECT_EQ(at(30, 3).text, " Port A-B [Tx/Rx]   [RTS/CTS]  [DTR/DSR]  [DTR/DCD]");
  EXPECT_EQ(at(31, 9).text, "1-2 ");
  EXPECT_EQ(at(31, 26).style, ReportText::Style::kErrorCode);
  EXPECT_EQ(at(32, 15).text, "---");
  // Printer: title 34, rows 36 (OK at 16) and 37 (code at 15); time at 39.
  EXPECT_EQ(at(36, 16).style, ReportText::Style::kOk);
  EXPECT_EQ(at(37, 15).code, 51);
  EXPECT_EQ(at(39, 0).text, kTime);
  EXPECT_EQ(layout.lines, 41);

  const ReportLayout failed = LayoutReport(run.config, 1, run.stores[1], kTime);
  ASSERT_EQ(failed.texts.size(), 5u);
  EXPECT_EQ(failed.texts[3].text, "Login fail!");
  EXPECT_EQ(failed.texts[3].line, 5);

  // No results and a port mask of 0: titles only, no loopback sections.
  run.config.settings[2].port_mask = 0;
  const ReportLayout empty = LayoutReport(run.config, 2, run.stores[2], kTime);
  ASSERT_EQ(empty.texts.size(), 6u);
  EXPECT_EQ(empty.texts[3].text, "Printer Test                ");
  EXPECT_EQ(empty.texts[3].line, 5);
}

TEST(MainWindowModel, ModesMarksAndEnabling) {
  SampleRun run;
  DiagConfig none = DiagConfig::Defaults();
  MainWindowModel empty(none);
  EXPECT_FALSE(empty.IsEnabled(Command::kGo));
  EXPECT_FALSE(empty.IsEnabled(Command::kServerStatus));
  EXPECT_TRUE(empty.IsEnabled(Command::kConfig));

  run.config.settings[0].status = 1;
  run.config.settings[1].status = 0;
  run.config.settings[2].status = -1;
  MainWindowModel m(run.config);
  m.RefreshList(false);
  ASSERT_EQ(m.server_list().size(), 3u);
  EXPECT_EQ(m.server_list()[0].first, "VR-13 (Dock North)");
  EXPECT_EQ(m.server_list()[1].second, "SerialNo:0, 127.0.43.11");
  EXPECT_EQ(m.server_list()[1].mark, ServerMark::kOtherSerial);
  EXPECT_FALSE(m.IsEnabled(Command::kSaveReport));

  const std::array<ServerMark, 3> marks{ServerMark::kTestFailed, ServerMark::kTestPassed,
                                        ServerMark::kTestFailed};
  m.RunEnded(false, marks);
  EXPECT_TRUE(m.report_mode());
  EXPECT_TRUE(m.IsEnabled(Command::kPrintPreview));
  EXPECT_EQ(m.caption(), "Test Report");
  m.StatusCheckEnded();  // keeps the test marks in report mode
  EXPECT_EQ(m.server_list()[1].mark, ServerMark::kTestPassed);
  m.ConfigAccepted();  // the report is gone even when nothing changed
  EXPECT_FALSE(m.report_mode());
  EXPECT_EQ(m.server_list()[1].mark, ServerMark::kOtherSerial);
  EXPECT_NE(MainWindowModel::GoQuestion(true), MainWindowModel::GoQuestion(false));
}

}  // namespace
}  // namespace zelin::portcheck
