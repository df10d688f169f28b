// The document against emulated servers: load and matching, the password check,
// and Save Configuration as the servers see it in the lab's request log.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <sstream>

#include "protocol/device_text.hpp"
#include "srvmanager/core/registry_store.hpp"
#include "srvmanager/core/strings.hpp"
#include "store/hive_file.hpp"
#include "store/server_store.hpp"
#include "tests/srvmanager/lab_fixture.hpp"

namespace zelin::manager::testing {
namespace {

using wire::kAddRoute, wire::kDhcp, wire::kLogin, wire::kSaveAndRestart, wire::kSetAccessList,
    wire::kSetAddress, wire::kSetName, wire::kSetPassword, wire::kSetPortKinds;

// Reads the store file at `path` into `table`, which must then hold `count` servers.
void LoadStored(const std::filesystem::path& path, int count, std::span<ServerConfig> table) {
  HiveFile hive(path);
  ASSERT_EQ(LoadServerStore(hive, table), count);
}

bool Contains(const std::vector<int>& v, int code) {
  return std::find(v.begin(), v.end(), code) != v.end();
}

class ManagerLoadTest : public NonceModesLabDocTest {};
INSTANTIATE_TEST_SUITE_P(NonceModes, ManagerLoadTest, ::testing::Bool(), NonceModeName);

TEST_P(ManagerLoadTest, MatchingNeedsAddressOnlyInWriteStateZero) {
  StartLab({LabServer(101, "one", Addr(10)), LabServer(102, "two", Addr(11), 771)});
  // Entry 102 is stored with an old address: found by serial, but not matched.
  auto& doc =
      LoadDoc(kMultiHost, {MakeEntry(101, "one", Addr(10)), MakeEntry(102, "two", Addr(40), 771)});
  ASSERT_EQ(doc.server_tree().items().size(), 2u);
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOnline);
  EXPECT_EQ(doc.server_tree().items()[0].label, "one(QX404)");
  EXPECT_EQ(doc.server_tree().items()[1].icon, kIconOffline);
  EXPECT_EQ(doc.server_tree().items()[1].label, "two");
  EXPECT_TRUE(doc.server_tree().in_tree(FoundIndex(101)));
  EXPECT_FALSE(doc.server_tree().in_tree(FoundIndex(102)));

  // Once the wizard marks it to be written, the serial number alone matches.
  doc.tables().server(1).write_state = kWriteAlways;
  doc.server_tree().BuildTree();
  EXPECT_EQ(doc.server_tree().items()[1].icon, kIconOnline);
  EXPECT_EQ(doc.server_tree().items()[1].label, "two(VR-13)");
  EXPECT_TRUE(prompter_.texts().empty());
}

TEST_P(ManagerLoadTest, ServerReachableOnlyByDirectedRequestIsOnline) {
  StartLab({LabServer(101, "seen", Addr(10))});
  // This lab does not hear the test's broadcasts: only a probe of its address finds it.
  StartLab({LabServer(150, "hidden", Addr(50))}, Addr(200));
  auto& doc =
      LoadDoc(kMultiHost, {MakeEntry(150, "hidden", Addr(50)), MakeEntry(101, "seen", Addr(10))});
  ASSERT_EQ(doc.server_tree().items().size(), 2u);
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOnline);
  EXPECT_EQ(doc.server_tree().items()[0].label, "hidden(QX404)");
  const int fi = FoundIndex(150);
  ASSERT_GE(fi, 0);
  EXPECT_TRUE(doc.tables().found().records[static_cast<size_t>(fi)].unicast);
  EXPECT_EQ(doc.tables().saved_found().FindSerial(150), fi);
  EXPECT_FALSE(doc.tables().ServerChanged(0));
}

TEST_P(ManagerLoadTest, AdoptOfferIsMadeOnceAndDecliningLeavesServersOffline) {
  StartLab({LabServer(202, "new-a", Addr(10)), LabServer(204, "new-b", Addr(11))});
  prompter_.QueueAnswer(MsgAnswer::Cancel);
  auto& doc =
      LoadDoc(kMultiHost, {MakeEntry(201, "old-a", Addr(10)), MakeEntry(203, "old-b", Addr(11))});
  ASSERT_EQ(prompter_.shown().size(), 1u);
  EXPECT_EQ(prompter_.shown()[0].buttons, MsgButtons::OkCancel);
  EXPECT_EQ(prompter_.texts()[0], AdoptOffer("old-a", AddressToText(Addr(10)), 201, 202));
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOffline);
  EXPECT_EQ(doc.server_tree().items()[1].icon, kIconOffline);
  EXPECT_FALSE(doc.tables().modified());
  doc.server_tree().BuildTree();  // not offered again in this run
  EXPECT_EQ(prompter_.shown().size(), 1u);
}

TEST_P(ManagerLoadTest, AcceptedAdoptOfferTakesTheFoundSerialNumber) {
  StartLab({LabServer(202, "new-a", Addr(10))});
  auto& doc = LoadDoc(kCustom, {MakeEntry(201, "old-a", Addr(10))});
  ASSERT_EQ(prompter_.shown().size(), 1u);
  EXPECT_EQ(doc.tables().server(0).serial_number, 202);
  EXPECT_EQ(doc.tables().saved_server(0).serial_number, 202);
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOnline);
  EXPECT_TRUE(doc.tables().modified());
}

TEST_P(ManagerLoadTest, AdoptedSerialNumberReachesTheStoreAndCountsAsAChange) {
  const std::filesystem::path path =
      std::filesystem::path(::testing::TempDir()) / "manager-adopt-registry.reg";
  std::filesystem::remove(path);
  {
    HiveFile hive(path);
    ASSERT_TRUE(WriteInstallationType(hive, kMultiHost));
    ASSERT_TRUE(
        SaveServerStore(hive, std::vector<ServerConfig>{MakeEntry(201, "old-a", Addr(10))}, {}));
  }
  StartLab({LabServer(202, "new-a", Addr(10))});
  HiveManagerStore store(path);
  ManagerDocument doc(*transport_, prompter_, store, kMultiHost, [] {});
  doc.Load();  // the scripted prompter accepts the offer
  ASSERT_EQ(doc.tables().server(0).serial_number, 202);
  EXPECT_TRUE(doc.tables().ConfigurationChanged());  // the exit check asks

  prompter_.QueueAnswer(MsgAnswer::Yes);  // the restart warning
  ASSERT_TRUE(doc.writer().SaveConfiguration());
  EXPECT_FALSE(doc.tables().ConfigurationChanged());
  std::array<ServerConfig, 32> table{};
  ASSERT_NO_FATAL_FAILURE(LoadStored(path, 1, table));
  EXPECT_EQ(table[0].serial_number, 202);
  EXPECT_EQ(table[0].name(), "old-a");
  std::filesystem::remove(path);
}

TEST_P(ManagerLoadTest, MalformedHiveIsReportedWithItsLineAndLeftUntouched) {
  const std::filesystem::path path =
      std::filesystem::path(::testing::TempDir()) / "manager-malformed-registry.reg";
  const std::string text =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin\\Parameters]\n"
      "\"Servers\"=dword:zz\n";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }
  StartLab({LabServer(202, "new-a", Addr(10))});
  HiveManagerStore store(path);
  ManagerDocument doc(*transport_, prompter_, store, kMultiHost, [] {});
  doc.Load();
  EXPECT_EQ(doc.tables().count(), 0);
  ASSERT_FALSE(prompter_.texts().empty());
  const std::string shown = prompter_.texts().back();
  EXPECT_EQ(
      shown.rfind("Fail to load Zelin parameter from registery! Please reinstall Zelin Server "
                  "software! \n",
                  0),
      0u);
  EXPECT_NE(shown.find(path.string() + ":4"), std::string::npos) << shown;

  // Saving refuses to replace a file it could not read, and says why.
  prompter_.QueueAnswer(MsgAnswer::Yes);
  EXPECT_FALSE(doc.writer().SaveConfiguration());
  std::ifstream in(path, std::ios::binary);
  std::ostringstream kept;
  kept << in.rdbuf();
  EXPECT_EQ(kept.str(), text);
  std::filesystem::remove(path);
}

TEST_P(ManagerLoadTest, NoAdoptOfferForSingleHostOrAnotherModel) {
  StartLab({LabServer(202, "new-a", Addr(10)), LabServer(204, "other", Addr(11), 771)});
  auto& doc = LoadDoc(kSingleHost, {MakeEntry(201, "old-a", Addr(10))});
  EXPECT_TRUE(prompter_.texts().empty());
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOffline);
  auto& doc2 = LoadDoc(kMultiHost, {MakeEntry(203, "old", Addr(11), 9476)});
  EXPECT_TRUE(prompter_.texts().empty());
  EXPECT_EQ(doc2.server_tree().items()[0].icon, kIconOffline);
}

TEST_P(ManagerLoadTest, DoubleClickOnOfflineServerProbesItAgain) {
  auto& doc = LoadDoc(kMultiHost, {MakeEntry(101, "late", Addr(10))});
  ASSERT_EQ(doc.server_tree().items()[0].icon, kIconOffline);
  StartLab({LabServer(101, "late-now", Addr(10))});
  doc.server_tree().SelectTreeItem(0);
  EXPECT_FALSE(doc.server_tree().ActivateTreeItem(0));  // it becomes online; properties do not open yet
  EXPECT_EQ(doc.server_tree().items()[0].icon, kIconOnline);
  EXPECT_EQ(doc.server_tree().items()[0].label, "late-now(QX404)");
  EXPECT_EQ(doc.tables().server(0).name(), "late-now");
  EXPECT_NE(doc.server_tree().selected_record(), nullptr);
  EXPECT_TRUE(doc.server_tree().ActivateTreeItem(0));
}

TEST_P(ManagerLoadTest, ChangeDetectionCountsDhcpOnlyWhereTheServerCarriesIt) {
  StartLab({LabServer(101, "old-fw", Addr(10), 9476, "", 0x021F0000),
            LabServer(102, "new-fw", Addr(11), 9476, "", 0x02200000)});
  auto& doc = LoadDoc(kMultiHost, {MakeEntry(101, "a", Addr(10)), MakeEntry(102, "b", Addr(11))});
  EXPECT_FALSE(doc.tables().ServerChanged(0));
  EXPECT_FALSE(doc.tables().ConfigurationChanged());
  Found(101).dhcp = 1;
  Found(102).dhcp = 1;
  EXPECT_FALSE(doc.tables().ServerChanged(0));
  EXPECT_TRUE(doc.tables().ServerChanged(1));
  // Route and access blocks count once they hold entries; a pending password always.
  Found(102).dhcp = doc.tables().saved_found().records[static_cast<size_t>(FoundIndex(102))].dhcp;
  EXPECT_FALSE(doc.tables().ServerChanged(1));
  Found(101).access_total = 1;
  EXPECT_TRUE(doc.tables().ServerChanged(0));
  Found(101).access_total = 0;
  Found(101).route_table[3].metric = 7;
  EXPECT_FALSE(doc.tables().ServerChanged(0));  // route total 0: the block is not compared
  Found(101).route_total = 4;
  EXPECT_TRUE(doc.tables().ServerChanged(0));
  Found(102).password_change_pending = true;
  EXPECT_TRUE(doc.tables().ServerChanged(1));
  EXPECT_TRUE(doc.tables().ConfigurationChanged());
}

class ManagerPasswordTest : public NonceModesLabDocTest {};
INSTANTIATE_TEST_SUITE_P(NonceModes, ManagerPasswordTest, ::testing::Bool(), NonceModeName);

TEST_P(ManagerPasswordTest, StoredPasswordThenDialogUntilRightOrCancel) {
  auto& lab = StartLab({LabServer(101, "locked", Addr(10), 9476, "secret")});
  ServerConfig e = MakeEntry(101, "locked", Addr(10));
  e.flags = kServerFlagPasswordSaved;
  e.set_password("wrong");
  auto& doc = LoadDoc(kMultiHost, {e});
  ServerRecord& rec = Found(101);
  ASSERT_TRUE(rec.has_password());

  prompter_.QueuePassword("still-wrong");
  prompter_.QueuePassword("secret");
  EXPECT_TRUE(doc.passwords().RequestServerPassword(rec, kServerFlagPasswordSaved, doc.tables().server(0)));
  EXPECT_EQ(prompter_.texts(), (std::vector<std::string>{"Password error!", "Password error!"}));
  ASSERT_EQ(prompter_.password_prompts().size(), 2u);
  EXPECT_EQ(prompter_.password_prompts()[0],
            PasswordDialogText("locked", 101, AddressToText(Addr(10))));
  EXPECT_EQ(doc.tables().server(0).password(), "secret");

  // The stored password is tried without asking once it is right.
  prompter_.Clear();
  EXPECT_TRUE(doc.passwords().RequestServerPassword(rec, kServerFlagPasswordSaved, doc.tables().server(0)));
  EXPECT_TRUE(prompter_.texts().empty());
  EXPECT_TRUE(prompter_.password_prompts().empty());

  // Without the saved flag the dialog comes at once; Cancel fails the check.
  EXPECT_FALSE(doc.passwords().RequestServerPassword(rec, 0, doc.tables().server(0)));
  EXPECT_EQ(prompter_.password_prompts().size(), 1u);
  EXPECT_TRUE(Contains(Codes(lab, 101), kLogin));
}

// A typed password that is not printable ASCII would reach the server as other
// bytes than the user sees: it is refused and asked again, and never sent.
TEST_P(ManagerPasswordTest, TypedPasswordOutsidePrintableAsciiIsNotSent) {
  auto& lab = StartLab({LabServer(101, "locked", Addr(10), 9476, "secret")});
  auto& doc = LoadDoc(kMultiHost, {MakeEntry(101, "locked", Addr(10))});
  ServerRecord& rec = Found(101);
  const auto logins = [&] {
    const std::vector<int> codes = Codes(lab, 101);
    return std::count(codes.begin(), codes.end(), kLogin);
  };
  const auto before = logins();

  prompter_.QueuePassword(std::string("s\xC3\xA9") + "cret");
  prompter_.QueuePassword("secret\t");
  prompter_.QueuePassword("secret");
  EXPECT_TRUE(doc.passwords().RequestServerPassword(rec, 0, doc.tables().server(0)));
  EXPECT_EQ(prompter_.texts(), (std::vector<std::string>(2, std::string(kDeviceTextRefused))));
  EXPECT_EQ(prompter_.password_prompts().size(), 3u);
  EXPECT_EQ(logins(), before + 1);
  EXPECT_EQ(doc.tables().server(0).password(), "secret");

  // Cancel after a refusal still fails the check, with nothing sent.
  prompter_.Clear();
  prompter_.QueuePassword("\xE2\x82\xAC");
  EXPECT_FALSE(doc.passwords().RequestServerPassword(rec, 0, doc.tables().server(0)));
  EXPECT_EQ(logins(), before + 1);
  EXPECT_EQ(doc.tables().server(0).password(), "secret");
}

class ManagerSaveTest : public NonceModesLabDocTest {};
INSTANTIATE_TEST_SUITE_P(NonceModes, ManagerSaveTest, ::testing::Bool(), NonceModeName);

TEST_P(ManagerSaveTest, WriteSequenceOrderWithPasswordChange) {
  auto& lab = StartLab({LabServer(101, "dev", Addr(10), 771, "old")});
  ServerConfig e = MakeEntry(101, "dev", Addr(10), 771);
  e.flags = kServerFlagPasswordSaved;
  e.set_password("old");
  auto& doc = LoadDoc(kMultiHost, {e});
  ServerRecord& rec = Found(101);
  rec.new_password = "fresh";
  rec.password_change_pending = true;
  doc.tables().server(0).set_name("renamed");
  doc.tables().SetModified(true);
  lab.ClearLog();

  ASSERT_TRUE(doc.writer().SaveConfiguration());
  EXPECT_EQ(Codes(lab, 101), (std::vector<int>{kLogin, kSetName, kSetPassword, kSetAddress,
                                               kSetPortKinds, kDhcp, kSaveAndRestart}));
  const auto snap = lab.Snapshot(101);
  ASSERT_TRUE(snap);
  EXPECT_EQ(snap->applied.password, "fresh");
  EXPECT_EQ(snap->applied.NameText(), "renamed");
  EXPECT_EQ(doc.tables().server(0).password(), "fresh");
  EXPECT_EQ(doc.tables().saved_server(0).password(), "fresh");
  EXPECT_EQ(Found(101).password, "fresh");
  EXPECT_FALSE(Found(101).password_change_pending);
  EXPECT_FALSE(doc.tables().modified());
  EXPECT_EQ(store_.saves, 1);
  EXPECT_EQ(fresh_ports_, 1);
  // Written once: nothing has changed since.
  EXPECT_FALSE(doc.tables().ServerChanged(0));
  EXPECT_FALSE(doc.tables().ConfigurationChanged());
}

TEST_P(ManagerSaveTest, AccessTablesByInstallationTypeAndDhcpByModelAndFirmware) {
  auto& lab = StartLab({LabServer(101, "old-fw", Addr(10), 9476, "", 0x021F0000),
                        LabServer(102, "new-fw", Addr(11), 9476, "", 0x02200000),
                        LabServer(103, "no-dhcp", Addr(12), 8452)});
  auto& doc = LoadDoc(kSingleHost, {MakeEntry(101, "a", Addr(10)), MakeEntry(102, "b", Addr(11)),
                                    MakeEntry(103, "c", Addr(12), 8452)});
  for (int i = 0; i < 3; ++i) doc.tables().server(i).write_state = kWriteAlways;
  lab.ClearLog();
  ASSERT_TRUE(doc.writer().SaveConfiguration());
  // Single-Host writes the access table of every server written.
  for (uint16_t s : {101, 102, 103}) EXPECT_TRUE(Contains(Codes(lab, s), kSetAccessList)) << s;
  EXPECT_FALSE(Contains(Codes(lab, 101), kDhcp));
  EXPECT_TRUE(Contains(Codes(lab, 102), kDhcp));
  EXPECT_FALSE(Contains(Codes(lab, 103), kDhcp));
  EXPECT_FALSE(Contains(Codes(lab, 101), kAddRoute));
  EXPECT_EQ(doc.tables().server(0).write_state, kWriteWhenChanged);
}

TEST_P(ManagerSaveTest, MultiHostSendsTablesOnlyWhenChanged) {
  auto& lab = StartLab({LabServer(101, "a", Addr(10)), LabServer(102, "b", Addr(11))});
  auto& doc = LoadDoc(kMultiHost, {MakeEntry(101, "a", Addr(10)), MakeEntry(102, "b", Addr(11))});
  doc.tables().server(0).write_state = kWriteAlways;
  doc.tables().server(1).write_state = kWriteAlways;
  doc.tables().server(1).tables_changed = 1;
  ServerRecord& rec = Found(102);
  rec.route_total = 2;
  rec.route_table[0] = RouteEntry{Addr(1), Addr(0), Ipv4FromOctets(255, 255, 255, 0), 1};
  rec.route_table[1] = RouteEntry{Addr(2), Addr(0), Ipv4FromOctets(255, 255, 0, 0), 2};
  rec.access_total = 1;
  rec.access_table[0] = AccessEntry{Addr(1), Ipv4FromOctets(255, 255, 255, 255), 0x000F};
  lab.ClearLog();
  ASSERT_TRUE(doc.writer().SaveConfiguration());
  EXPECT_FALSE(Contains(Codes(lab, 101), kSetAccessList));
  const auto codes = Codes(lab, 102);
  EXPECT_EQ(codes, (std::vector<int>{kSetName, kSetAddress, kAddRoute, kAddRoute, kSetAccessList,
                                     kSetPortKinds, kDhcp, kSaveAndRestart}));
  EXPECT_EQ(lab.Snapshot(102)->applied.access.size(), 1u);
  EXPECT_EQ(doc.tables().server(1).tables_changed, 0u);
}

TEST_P(ManagerSaveTest, FailedServerStillSavesStoreAndOfflineServerIsNotWritten) {
  auto& lab = StartLab({LabServer(101, "bad", Addr(10)), LabServer(102, "good", Addr(11))});
  emulator::FaultSettings refuse;
  refuse.refuse = true;
  ASSERT_TRUE(lab.SetFaults(101, refuse));
  ServerConfig offline = MakeEntry(150, "gone", Addr(50));
  auto& doc = LoadDoc(kMultiHost,
                      {MakeEntry(101, "bad", Addr(10)), MakeEntry(102, "good", Addr(11)), offline});
  ASSERT_EQ(doc.server_tree().items()[2].icon, kIconOffline);
  for (int i = 0; i < 3; ++i) doc.tables().server(i).write_state = kWriteAlways;
  doc.tables().server(2).port_mapped[0] = 1;
  doc.tables().server(2).com_number[0] = 12;
  doc.tables().SetModified(true);
  lab.ClearLog();
  prompter_.Clear();

  EXPECT_TRUE(doc.writer().SaveConfiguration());
  const auto texts = prompter_.texts();
  ASSERT_EQ(texts.size(), 2u);  // the warning, then the failure of server 101
  EXPECT_EQ(texts[1], ServerWriteFailed("bad", AddressToText(Addr(10)), kWriteStepName));
  EXPECT_TRUE(Contains(Codes(lab, 102), kSaveAndRestart));
  for (const auto& e : lab.Log())
    EXPECT_EQ(e.to.rfind(AddressToText(Addr(50)), 0), std::string::npos);
  EXPECT_FALSE(doc.tables().modified());
  EXPECT_EQ(store_.saves, 1);
  ASSERT_EQ(store_.servers.size(), 3u);
  EXPECT_EQ(store_.servers[2].port_mapped[0], 1);
  EXPECT_EQ(store_.servers[2].com_number[0], 12);
  EXPECT_EQ(fresh_ports_, 1);
}

// The step a server refuses is the write's Status: its code is the step code the failure
// message shows, its message the step's text followed by the exchange's reason.
TEST_P(ManagerSaveTest, WriteServerFailsWithTheStepItStoppedAt) {
  auto& lab = StartLab({LabServer(101, "a", Addr(10))});
  auto& doc = LoadDoc(kMultiHost, {MakeEntry(101, "a", Addr(10))});
  const int fi = doc.tables().found().FindSerial(101);
  ASSERT_GE(fi, 0);
  const std::pair<uint8_t, WriteStep> steps[] = {{kSetName, kWriteStepName},
                                                 {kSetAddress, kWriteStepAddress},
                                                 {kSetPortKinds, kWriteStepPortKinds},
                                                 {kDhcp, kWriteStepDhcp},
                                                 {kSaveAndRestart, kWriteStepRestart}};
  for (const auto& [code, step] : steps) {
    ASSERT_TRUE(lab.SetFaults(101, {.refuse_code = code}));
    lab.ClearLog();
    const Status st = doc.writer().WriteServer(0, fi);
    EXPECT_EQ(st.domain(), StatusDomain::kServerWrite) << st;
    EXPECT_EQ(st.code(), static_cast<int>(step)) << st;
    const std::string_view text = StatusCode<WriteStep>::Describe(step);
    EXPECT_EQ(st.message().rfind(text, 0), 0u) << st;
    EXPECT_GT(st.message().size(), text.size() + 2) << "the exchange's reason follows: " << st;
    const std::vector<int> sent = Codes(lab, 101);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), code) << "nothing is sent after the refused step";
  }
  ASSERT_TRUE(lab.SetFaults(101, {}));
  EXPECT_TRUE(doc.writer().WriteServer(0, fi).ok());
  EXPECT_EQ(doc.writer().WriteServer(7, fi), kWriteStepPassword);
}

// A server that refuses its restart keeps its old settings: the hive records those for
// it (with its new mapping) while the other server is saved with its new ones, the user
// is told, the exit check keeps the program open, a start from that hive finds the
// server online, and the next save sends the same edits (password and routes included).
TEST_P(ManagerSaveTest, ServerThatKeptItsOldSettingsIsStoredWithThemAndSentAgain) {
  const std::string tag = AddressToText(Addr(0)) + (GetParam() ? "-strict" : "-lenient");
  const auto dir = std::filesystem::path(::testing::TempDir());
  const auto path = dir / ("manager-kept-old-" + tag + ".reg");
  const auto next_start = dir / ("manager-kept-old-next-" + tag + ".reg");
  ServerConfig north = MakeEntry(101, "north", Addr(10));
  north.flags = kServerFlagPasswordSaved;
  north.set_password("old");
  {
    HiveFile hive(path);
    ASSERT_TRUE(WriteInstallationType(hive, kMultiHost));
    ASSERT_TRUE(SaveServerStore(
        hive, std::vector<ServerConfig>{north, MakeEntry(102, "south", Addr(11))}, {}));
  }
  auto& lab = StartLab({LabServer(101, "north", Addr(10), 9476, "old"),
                        LabServer(102, "south", Addr(11))});
  ASSERT_TRUE(lab.SetFaults(101, {.refuse_code = kSaveAndRestart}));
  HiveManagerStore store(path);
  ManagerDocument doc(*transport_, prompter_, store, kMultiHost, [] {});
  doc.Load();
  ASSERT_EQ(doc.tables().count(), 2);
  const auto found = [&doc](uint16_t serial) -> ServerRecord& {
    const int i = doc.tables().found().FindSerial(serial);
    if (i < 0) throw std::runtime_error("server " + std::to_string(serial) + " was not found");
    return doc.tables().found().records[static_cast<size_t>(i)];
  };
  // The edits as the General, Password and Advanced pages and Map Port leave them.
  const auto edit = [&](int i, uint16_t serial, const char* name, Ipv4 ip) {
    ServerConfig& e = doc.tables().server(i);
    ServerRecord& rec = found(serial);
    e.set_name(name);
    e.ip_address = ip;
    rec.set_name(name);
    rec.set_ip_address(ip);
  };
  edit(0, 101, "north-2", Addr(20));
  edit(1, 102, "south-2", Addr(21));
  found(101).new_password = "new";
  found(101).password_change_pending = true;
  found(101).route_total = 1;
  found(101).route_table[0] = RouteEntry{Addr(1), Addr(0), Ipv4FromOctets(255, 255, 255, 0), 3};
  doc.tables().server(0).tables_changed = 1;
  doc.tables().server(0).port_mapped[0] = 1;
  doc.tables().server(0).com_number[0] = 5;
  doc.tables().SetModified(true);
  prompter_.Clear();

  EXPECT_TRUE(doc.writer().SaveConfiguration());  // the store was written
  ASSERT_EQ(prompter_.texts().size(), 2u);
  EXPECT_EQ(prompter_.texts()[1],
            ServerWriteFailed("north-2", AddressToText(Addr(10)), kWriteStepRestart));
  EXPECT_NE(prompter_.texts()[1].find("This server keeps its old settings"), std::string::npos);
  const auto kept = lab.Snapshot(101);
  const auto took = lab.Snapshot(102);
  ASSERT_TRUE(kept && took);
  EXPECT_EQ(kept->applied.NameText(), "north");
  EXPECT_EQ(kept->applied.ip, Addr(10));
  EXPECT_EQ(kept->applied.password, "old");
  EXPECT_EQ(took->applied.NameText(), "south-2");
  EXPECT_EQ(took->applied.ip, Addr(21));
  {
    std::array<ServerConfig, 32> table{};
    ASSERT_NO_FATAL_FAILURE(LoadStored(path, 2, table));
    EXPECT_EQ(table[0].name(), "north");
    EXPECT_EQ(table[0].ip_address, Addr(10));
    EXPECT_EQ(table[0].password(), "old");
    EXPECT_EQ(table[0].port_mapped[0], 1);  // the mapping is the host's: stored as edited
    EXPECT_EQ(table[0].com_number[0], 5);
    EXPECT_EQ(table[1].name(), "south-2");
    EXPECT_EQ(table[1].ip_address, Addr(21));
  }
  std::filesystem::copy_file(path, next_start, std::filesystem::copy_options::overwrite_existing);
  // The edits stay, to be sent again.
  EXPECT_TRUE(doc.tables().modified());
  EXPECT_EQ(doc.tables().server(0).name(), "north-2");
  EXPECT_EQ(doc.tables().server(0).password(), "old");

  // Exit: Yes saves again, the server still refuses, the program stays open.
  prompter_.Clear();
  EXPECT_FALSE(doc.CanClose());
  ASSERT_EQ(prompter_.texts().size(), 3u);
  EXPECT_EQ(prompter_.texts()[0], ManagerString(kStrSaveBeforeExit));
  EXPECT_EQ(prompter_.texts()[2],
            ServerWriteFailed("north-2", AddressToText(Addr(10)), kWriteStepRestart));

  // Once the server takes its restart, the same save sends everything again.
  ASSERT_TRUE(lab.SetFaults(101, {}));
  lab.ClearLog();
  prompter_.Clear();
  ASSERT_TRUE(doc.writer().SaveConfiguration());
  EXPECT_TRUE(prompter_.password_prompts().empty());
  EXPECT_EQ(prompter_.texts().size(), 1u);  // the warning only
  EXPECT_EQ(Codes(lab, 101), (std::vector<int>{kLogin, kSetName, kSetPassword, kSetAddress,
                                               kAddRoute, kSetAccessList, kSetPortKinds, kDhcp,
                                               kSaveAndRestart}));
  EXPECT_TRUE(Codes(lab, 102).empty());
  const auto now = lab.Snapshot(101);
  ASSERT_TRUE(now);
  EXPECT_EQ(now->applied.NameText(), "north-2");
  EXPECT_EQ(now->applied.ip, Addr(20));
  EXPECT_EQ(now->applied.password, "new");
  ASSERT_EQ(now->applied.routes.size(), 1u);
  EXPECT_EQ(now->applied.routes[0].metric, 3);
  EXPECT_FALSE(doc.tables().modified());
  EXPECT_TRUE(doc.CanClose());
  {
    std::array<ServerConfig, 32> table{};
    ASSERT_NO_FATAL_FAILURE(LoadStored(path, 2, table));
    EXPECT_EQ(table[0].name(), "north-2");
    EXPECT_EQ(table[0].ip_address, Addr(20));
    EXPECT_EQ(table[0].password(), "new");
  }

  // A start from the hive the first save left finds the server at the address it kept.
  lab.Stop();
  auto& moved_back = StartLab({LabServer(101, "north", Addr(10), 9476, "old"),
                               LabServer(102, "south-2", Addr(21))});
  (void)moved_back;
  HiveManagerStore next_store(next_start);
  ManagerDocument next(*transport_, prompter_, next_store, kMultiHost, [] {});
  next.Load();
  ASSERT_EQ(next.server_tree().items().size(), 2u);
  EXPECT_EQ(next.server_tree().items()[0].icon, kIconOnline);
  EXPECT_EQ(next.server_tree().items()[1].icon, kIconOnline);
  std::filesystem::remove(path);
  std::filesystem::remove(next_start);
}

TEST_P(ManagerSaveTest, UnchangedServerIsNotWrittenAndWriteStateTwoNever) {
  auto& lab = StartLab({LabServer(101, "a", Addr(10)), LabServer(102, "b", Addr(11))});
  auto& doc = LoadDoc(kSingleHost, {MakeEntry(101, "a", Addr(10)), MakeEntry(102, "b", Addr(11))});
  doc.tables().server(1).write_state = kWriteNever;
  Found(102).set_name("changed");
  doc.tables().SetModified(true);
  lab.ClearLog();
  ASSERT_TRUE(doc.writer().SaveConfiguration());
  EXPECT_TRUE(Codes(lab, 101).empty());
  EXPECT_TRUE(Codes(lab, 102).empty());
  EXPECT_EQ(store_.saves, 1);
}

TEST_P(ManagerSaveTest, ProgressNamesServerAndStepAndCountsDownTheRestartWaits) {
  auto& lab = StartLab({LabServer(101, "north", Addr(10)), LabServer(102, "south", Addr(11))});
  auto& doc = LoadDoc(kMultiHost, {MakeEntry(101, "north", Addr(10)), MakeEntry(102, "south", Addr(11))});
  doc.tables().server(0).write_state = kWriteAlways;
  doc.tables().server(1).write_state = kWriteAlways;
  doc.tables().server(0).set_name("Dock North");
  lab.ClearLog();
  prompter_.Clear();
  const int64_t start = clock_->NowMs();

  ASSERT_TRUE(doc.writer().SaveConfiguration());
  // Both restart waits (6 s in the exchange, then 5 s) of both servers were waited in full.
  EXPECT_GE(clock_->NowMs() - start, 2 * (6000 + 5000));
  // One window for the save; each run of count-down texts is folded into one line here.
  std::vector<std::string> shown;
  std::map<std::string, std::vector<int>> left;
  for (const std::string& text : prompter_.progress()) {
    const size_t colon = text.find(": ");
    if (text.starts_with("Restarting ") && colon != std::string::npos) {
      const std::string server = text.substr(11, colon - 11);
      if (left[server].empty()) shown.push_back("Restarting " + server);
      left[server].push_back(std::stoi(text.substr(colon + 2)));
      EXPECT_TRUE(text.ends_with(" s left")) << text;
    } else {
      shown.push_back(text);
    }
  }
  std::vector<std::string> expected{"[Save Configuration]"};
  for (const char* server : {"Dock North", "south"}) {
    for (const char* step : {"logging in", "server name", "IP address", "port settings",
                             "DHCP setting", "saving and restarting"})
      expected.push_back(std::string("Writing ") + server + ": " + step);
    expected.push_back(std::string("Restarting ") + server);
  }
  expected.push_back("[closed]");
  EXPECT_EQ(shown, expected);
  for (const auto& [server, seconds] : left) {
    ASSERT_GE(seconds.size(), 3u) << server;
    EXPECT_EQ(seconds.front(), 11) << server;
    EXPECT_GE(seconds.back(), 1) << server;
    EXPECT_TRUE(std::is_sorted(seconds.rbegin(), seconds.rend())) << server;
  }
}

}  // namespace
}  // namespace zelin::manager::testing
