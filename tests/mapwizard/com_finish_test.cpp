// COM mapping, the summary and Finish for the three installation types.
#include "mapwizard/core/strings.hpp"
#include "tests/mapwizard/wizard_fixture.hpp"

namespace zelin::wizard::testing {
namespace {

class ComFinishTest : public WizardFixture {
 protected:
  // Page 0 -> page 4 for the only server of a multi-host installation, logged in as
  // administrator with `password` (pages 1, 7, 8, 2, 4).
  WizardFlow& AtCompletePageAsAdministrator(const char* password) {
    WizardFlow& f = FlowAtList(kMultiHost);
    f.Next();
    f.multi_password().SetPassword(password);
    for (int page = 0; page < 3; ++page) f.Next();
    return f;
  }

  // Page 0 -> page 2 for the server `serial` on a single-host installation.
  WizardFlow& AtComPage(uint16_t serial, int type = kSingleHost) {
    WizardFlow& f = FlowAtList(type);
    SelectSerial(f, serial);
    f.Next();
    if (f.page() == kPageNewAddress) f.Next();
    EXPECT_EQ(f.page(), kPageComMap);
    return f;
  }
  void Choose(WizardFlow& f, int com) {
    const auto& c = f.com_map().choices();
    const auto it = std::find(c.begin(), c.end(), com);
    ASSERT_NE(it, c.end()) << "COM" << com << " is not offered";
    f.com_map().Select(static_cast<int>(it - c.begin()));
  }
  std::vector<int> Mapped() {
    std::vector<int> out;
    for (size_t i = 0; i < Staged().port_count; ++i)
      out.push_back(Staged().port_mapped[i] ? ComNumberOf(Staged().com_number[i]) : -1);
    return out;
  }
};

TEST_F(ComFinishTest, ConsecutiveMappingSkipsNumbersInUse) {
  StartLab({Server(1, 10)});
  Configure(900, block.Address(50), {5, 1});
  WizardFlow& f = AtComPage(1);
  const auto& c = f.com_map().choices();
  EXPECT_EQ(std::vector<int>(c.begin(), c.begin() + 4), (std::vector<int>{2, 3, 4, 6}));
  EXPECT_EQ(c.size(), 254u);
  EXPECT_EQ(f.com_map().choice_texts()[f.com_map().selected()], "COM3");  // first from COM3 on
  EXPECT_EQ(f.com_map().info(), "Name : Lab1    Serial No. : 1\nTotal Port : 4");
  f.Next();
  EXPECT_EQ(Mapped(), (std::vector<int>{3, 4, 6, 7}));
  f.Next();
  ASSERT_EQ(f.page(), kPageComplete);
  EXPECT_EQ(f.complete().summary(),
            "Model : QX104\nServer Name : Lab1\nPorts : COM3-COM7\nServer Serial Number : 1\n"
            "Server IP : " +
                AddressToText(block.Address(10)));
}

TEST_F(ComFinishTest, MappingStopsAtTheLimitOfCom256) {
  StartLab({Server(1, 10)});
  WizardFlow& f = AtComPage(1);
  Choose(f, 255);
  f.Next();
  EXPECT_EQ(Mapped(), (std::vector<int>{255, 256, -1, -1}));
  EXPECT_EQ(Staged().com_number[1], 0);  // COM256 is stored as 0
  EXPECT_EQ(prompter.texts(),
            std::vector<std::string>{"Your COM name have exceeded 256 limitation!"});
  f.Next();
  EXPECT_NE(f.complete().summary().find("\nPorts : COM255-COM256\n"), std::string::npos);
  // Coming back to the page offers the number chosen before, not the first free one.
  f.Back();
  f.Back();
  ASSERT_EQ(f.page(), kPageComMap);
  EXPECT_EQ(f.com_map().choice_texts()[static_cast<size_t>(f.com_map().selected())], "COM255");
}

TEST_F(ComFinishTest, WanPortsAreNotMappedAndTheSummarySaysNone) {
  auto wan = Server(1, 10);
  wan.port_kinds.fill(kPortWan);
  wan.port_kinds_given = true;
  auto mixed = Server(2, 11);
  mixed.port_kinds = {kPortWan, kPortNoAccess, kPortMappable, 0};
  mixed.port_kinds_given = true;
  StartLab({wan, mixed});
  WizardFlow& f = AtComPage(1);
  f.Next();
  EXPECT_EQ(Mapped(), (std::vector<int>{-1, -1, -1, -1}));
  f.Next();
  EXPECT_NE(f.complete().summary().find("\nPorts : None\n"), std::string::npos);

  f.Back();
  f.Back();
  f.Back();
  SelectSerial(f, 2);
  f.Next();
  f.Next();
  EXPECT_EQ(Mapped(), (std::vector<int>{-1, 3, 4, -1}));
  // Finish makes the ports mappable, but a WAN port stays one.
  f.Next();
  f.Finish();
  ASSERT_EQ(f.result(), 1);
  EXPECT_EQ(Record(2).port_kind(0), kPortWan);
  EXPECT_EQ(Record(2).port_kind(3), kPortMappable);
}

TEST_F(ComFinishTest, SingleHostFinishGrantsOnlyThisHostAndMakesEveryPortMappable) {
  auto s = Server(1, 10, 771);  // asks its DHCP setting on Finish
  s.dhcp = 1;
  s.access = {{block.Address(60), 0xFFFFFFFFu, 0x0001}};
  s.port_kinds.fill(kPortNoAccess);
  s.port_kinds_given = true;
  StartLab({s});
  WizardFlow& f = AtComPage(1);
  Staged().port_options.fill(3);
  f.Next();
  f.Next();
  f.Next();
  ASSERT_EQ(f.page(), kPageComplete);
  f.Finish();
  ASSERT_EQ(f.result(), 1);
  ASSERT_EQ(count, 1);
  const ServerConfig& added = config[0];
  EXPECT_EQ(added.serial_number, 1);
  EXPECT_EQ(added.write_state, kWriteAlways);
  EXPECT_EQ(added.port_count, 16u);
  EXPECT_EQ(added.port_options, (std::array<uint8_t, kMaxServerPorts>{}));
  EXPECT_EQ(ComNumberOf(added.com_number[0]), 3);
  const ServerRecord& r = Record(1);
  EXPECT_EQ(r.dhcp, 1);
  ASSERT_EQ(r.access_count, 1);
  EXPECT_EQ(r.access_total, 1);
  EXPECT_EQ(r.access_table[0], (AccessEntry{r.host_address(), 0xFFFFFFFFu, 0xFFFF}));
  for (size_t i = 0; i < wire::kMaxPorts; ++i) EXPECT_EQ(r.port_kind(i), kPortMappable) << i;
}

TEST_F(ComFinishTest, MultiHostFinishReadsTheServerTablesAndAddsThisHostOnce) {
  auto s = Server(1, 10, 8452, "pw");
  s.access = {{block.Address(60), 0xFFFFFFFFu, 0x0003}};
  s.routes = {{block.Address(1), block.Address(0), 0x00FFFFFF, 1}};
  s.port_kinds = {kPortWan, kPortNoAccess, kPortMappable, kPortMappable};
  s.port_kinds_given = true;
  StartLab({s});
  WizardFlow& f = AtCompletePageAsAdministrator("pw");
  ASSERT_EQ(f.page(), kPageComplete);
  f.Finish();
  ASSERT_EQ(f.result(), 1);
  const ServerRecord& r = Record(1);
  EXPECT_EQ(config[0].tables_changed, 1u);
  EXPECT_EQ(r.dhcp, 0);
  ASSERT_EQ(r.access_count, 2);
  EXPECT_EQ(r.access_table[0], (AccessEntry{block.Address(60), 0xFFFFFFFFu, 0x0003}));
  EXPECT_EQ(r.access_table[1], (AccessEntry{r.host_address(), 0xFFFFFFFFu, 0xFFFF}));
  EXPECT_EQ(r.route_count, 1);
  EXPECT_EQ(r.port_kind(0), kPortWan);  // a WAN port never becomes mappable
  for (size_t i = 1; i < wire::kMaxPorts; ++i) EXPECT_EQ(r.port_kind(i), kPortMappable) << i;
}

TEST_F(ComFinishTest, FinishThatCannotReadTheServerTablesKeepsThemAndThePage) {
  StartLab({Server(1, 10, 8452, "pw")});
  WizardFlow& f = AtCompletePageAsAdministrator("pw");
  ASSERT_EQ(f.page(), kPageComplete);
  ServerRecord& r = found->records[static_cast<size_t>(found->FindSerial(1))];
  r.access_table[0] = {block.Address(60), 0xFFFFFFFFu, 0x0003};
  r.access_total = r.access_count = 1;
  lab->Stop();
  f.Finish();
  // Saving a table read only in part would cut the server's access list short.
  EXPECT_TRUE(f.running());
  EXPECT_EQ(f.page(), kPageComplete);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(config[0].tables_changed, 0u);
  ASSERT_EQ(r.access_count, 1);
  EXPECT_EQ(r.access_table[0], (AccessEntry{block.Address(60), 0xFFFFFFFFu, 0x0003}));
  EXPECT_TRUE(Shown(kTextReadTablesFailed));
}

TEST_F(ComFinishTest, FinishWithoutAKnownInstallationTypeGrantsNothing) {
  auto s = Server(1, 10);
  s.access = {{block.Address(60), 0xFFFFFFFFu, 0x0003}};
  StartLab({s});
  WizardFlow& f = FlowAtList(0);
  f.Next();  // -> 8
  f.Next();  // -> 2
  f.Next();  // -> 3
  f.Next();  // -> 4
  ASSERT_EQ(f.page(), kPageComplete);
  f.Finish();
  ASSERT_EQ(f.result(), 1);
  EXPECT_EQ(Record(1).access_count, 0);  // neither read from the server nor granted
  EXPECT_EQ(config[0].tables_changed, 0u);
}

TEST_F(ComFinishTest, CustomFinishKeepsAHostEntryAlreadyPresentAndWanPorts) {
  auto s = Server(1, 10);
  s.port_kinds = {kPortWan, kPortNoAccess, kPortMappable, kPortWan};
  s.port_kinds_given = true;
  StartLab({s});
  // The server already grants this host (the client side's interface address).
  WizardFlow& f = AtComPage(1, kCustom);
  lab->Stop();
  auto with_host = lab->desc();
  with_host.servers[0].access = {{Record(1).host_address(), 0xFFFFFFFFu, 0x00FF}};
  lab = std::make_unique<emulator::Lab>(with_host, clock);
  std::string error;
  ASSERT_TRUE(lab->Start(&error)) << error;
  f.Next();
  f.Next();
  f.Next();
  f.Finish();
  ASSERT_EQ(f.result(), 1);
  const ServerRecord& r = Record(1);
  ASSERT_EQ(r.access_count, 1);
  EXPECT_EQ(r.access_table[0].port_mask, 0x00FF);
  EXPECT_EQ(r.port_kind(0), kPortWan);
  EXPECT_EQ(r.port_kind(1), kPortMappable);
  EXPECT_EQ(r.port_kind(3), kPortWan);
}

TEST_F(ComFinishTest, GeneralUserFinishLeavesTheServerTablesAlone) {
  auto s = Server(1, 10, 8452, "pw");
  s.port_kinds = {kPortNoAccess, kPortNoAccess, kPortMappable, kPortWan};
  s.port_kinds_given = true;
  StartLab({s});
  WizardFlow& f = FlowAtList(kCustom);
  f.Next();
  f.multi_password().ChooseGeneralUser();
  f.Next();
  f.Next();
  f.Next();
  f.Finish();
  ASSERT_EQ(f.result(), 1);
  EXPECT_EQ(config[0].write_state, kWriteNever);
  EXPECT_EQ(config[0].tables_changed, 0u);
  EXPECT_EQ(saved[0].flags, 0);
  const ServerRecord& r = Record(1);
  EXPECT_EQ(r.access_count, 0);
  EXPECT_EQ(r.port_kind(0), kPortNoAccess);
}

// Bounds: nothing read from a server or typed by the user writes past a table.
class BoundsTest : public WizardFixture {};

TEST_F(BoundsTest, FullConfigurationTableStagesNothing) {
  StartLab({Server(1, 10)});
  for (uint16_t i = 0; i < kMaxConfiguredServers; ++i)
    Configure(static_cast<uint16_t>(500 + i), block.Address(static_cast<uint8_t>(100 + i)));
  WizardFlow& f = FlowAtList(kSingleHost);
  f.Next();
  EXPECT_EQ(f.page(), kPageServerList);
  EXPECT_TRUE(Shown(kTextTableFull));
  EXPECT_EQ(count, 32);
}

TEST_F(BoundsTest, OversizedPortCountAndFullAccessTableStayInTheirTables) {
  OpenTransports();
  WizardFlow& f = Flow(kMultiHost);
  ServerRecord& r = found->records[0];
  found->count = 1;
  r.search_reply[wire::kSrPortCount] = 200;
  PutLe16(r.search_reply, wire::kSrSerial, 77);
  for (size_t i = 0; i < wire::kMaxPorts; ++i) r.set_port_kind(i, kPortMappable);
  r.access_count = 500;  // as a hostile reply may leave it
  f.context().state.selected = 0;
  ASSERT_TRUE(f.context().Stage(r));
  EXPECT_EQ(Staged().port_count, 200u);
  f.com_map().Activate();
  EXPECT_EQ(f.com_map().Next(), Step::Go(kPageSetPassword));
  for (size_t i = 0; i < kMaxServerPorts; ++i) EXPECT_EQ(Staged().port_mapped[i], 1) << i;
  f.complete().Activate();
  EXPECT_NE(f.complete().summary().find("Ports : COM3-COM18"), std::string::npos);
  EXPECT_TRUE(EnsureHostAccess(r, block.Interface()) == false);
}

}  // namespace
}  // namespace zelin::wizard::testing
