// Replace Server against the emulated lab: the candidate list, the identity takeover
// with this host's access entry and the DHCP warning, the password prompt, the
// address-conflict walk, and what stays unchanged when the dialog stays open.
#include <gtest/gtest.h>

#include <set>

#include "protocol/address.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "srvmanager/properties/core/replace_server.hpp"
#include "tests/srvmanager_properties/lab_fixture.hpp"

namespace zelin::manager::testing {
namespace {

class ReplaceServerTest : public LabTest {
 protected:
  // The configured server 100 at .50 is gone; the lab has candidates and others.
  void StandardLab(std::vector<emulator::ServerSpec> extra = {}) {
    std::vector<emulator::ServerSpec> servers = {Server(200, 60, 9476, "KivoServer"),
                                                 Server(300, 61, 8452), Server(400, 62),
                                                 Server(500, 63, 9476, " spaced")};
    servers[0].dhcp = 1;
    servers[0].port_kinds_given = true;
    servers[0].port_kinds = {18, 18, 6, 18};
    for (auto& s : extra) servers.push_back(s);
    StartLab(servers);
  }
  // Configures server 100 at .50 ("Old"), loads the document for `type`, and opens Replace
  // Server on it with the candidates found.
  ReplaceServerDialog& FindReplacementForOld(int type) {
    Configure(100, 50, 9476, "Old");
    LoadDoc(type);
    replace_dialog = std::make_unique<ReplaceServerDialog>(*doc_host, 0);
    replace_dialog->Find();
    return *replace_dialog;
  }
  std::set<std::string> RowNames(const ReplaceServerDialog& d) {
    std::set<std::string> out;
    for (const auto& r : d.rows()) out.insert(r.name + "|" + r.address + "|" + r.serial);
    return out;
  }
  void SelectSerial(ReplaceServerDialog& d, uint16_t serial) {
    for (size_t i = 0; i < d.rows().size(); ++i)
      if (d.rows()[i].serial == std::to_string(serial)) return d.SelectRow(static_cast<int>(i));
    ADD_FAILURE() << "no row for " << serial;
  }
  // The addresses that CheckAddress requests carried, in order.
  std::vector<Ipv4> CheckedAddresses() {
    std::vector<Ipv4> out;
    for (const auto& e : lab->Log()) {
      if (e.code != wire::kCheckAddress || e.hex.size() < 2 * 30) continue;
      uint8_t o[4];
      for (int i = 0; i < 4; ++i)
        o[i] = static_cast<uint8_t>(std::stoi(e.hex.substr(2 * (26 + i), 2), nullptr, 16));
      const Ipv4 a = Ipv4FromOctets(o[0], o[1], o[2], o[3]);
      if (out.empty() || out.back() != a) out.push_back(a);  // retries and copies once
    }
    return out;
  }

  std::unique_ptr<ReplaceServerDialog> replace_dialog;
};

TEST_F(ReplaceServerTest, ListsUnconfiguredServersOfTheSameModel) {
  StandardLab();
  Configure(100, 50, 9476, "Old");
  Configure(400, 62);
  LoadDoc(kSingleHost);
  ReplaceServerDialog d(*doc_host, 0);
  d.Find();
  EXPECT_EQ(RowNames(d),
            (std::set<std::string>{"Server200|" + AddressToText(block.Address(60)) + "|200",
                                   "Server500|" + AddressToText(block.Address(63)) + "|500"}));
  EXPECT_EQ(d.selected_row(), 0);
  const int i = d.scratch().FindSerial(200);
  ASSERT_GE(i, 0);
  EXPECT_EQ(d.scratch().records[static_cast<size_t>(i)].name(), "Server200");
  EXPECT_EQ(ReplaceServerDialog::Columns().size(), 3u);
}

TEST_F(ReplaceServerTest, TakeoverGrantsThisHostAndSavesToTheNewServer) {
  StandardLab();
  ServerConfig& old = Configure(100, 50, 9476, "Old");
  old.port_mapped[0] = 1;
  old.com_number[0] = 7;
  LoadDoc(kSingleHost);
  ReplaceServerDialog d(*doc_host, 0);
  d.Find();
  SelectSerial(d, 200);
  ASSERT_TRUE(d.Ok());

  const ServerConfig& entry = doc->tables().server(0);
  EXPECT_EQ(entry.serial_number, 200);
  EXPECT_EQ(entry.com_number[0], 7);  // the COM mapping stays
  ASSERT_GE(d.chosen_found_index(), 0);
  const ServerRecord& r = doc->tables().found().records[static_cast<size_t>(d.chosen_found_index())];
  EXPECT_EQ(r.serial_number(), 200);
  EXPECT_EQ(r.name(), "Old");
  EXPECT_EQ(r.ip_address(), block.Address(50));
  ASSERT_EQ(r.access_total, 1);
  EXPECT_EQ(r.access_table[0], (AccessEntry{r.host_address(), 0xFFFFFFFFu, 0xFFFF}));
  EXPECT_EQ(r.host_address(), block.Interface());
  // Mappable ports open for this host; the WAN port stays what it is.
  EXPECT_EQ(r.port_kind(0), kPortMappable);
  EXPECT_EQ(r.port_kind(2), kPortWan);
  EXPECT_EQ(r.port_kind(3), kPortMappable);
  EXPECT_EQ(r.dhcp, 0);
  EXPECT_TRUE(Shown(ManagerString(kStrReplaceDhcpWarning)));

  // The tree now shows the entry online, and saving writes the new server.
  doc->server_tree().BuildTree();
  ASSERT_EQ(doc->server_tree().items().size(), 1u);
  EXPECT_EQ(doc->server_tree().items()[0].icon, kIconOnline);
  doc->tables().SetModified(true);
  lab->ClearLog();
  ASSERT_TRUE(doc->writer().SaveConfiguration());
  EXPECT_EQ(Codes(200),
            (std::vector<int>{wire::kSetName, wire::kSetAddress, wire::kSetAccessList,
                              wire::kSetPortKinds, wire::kDhcp, wire::kSaveAndRestart}));
  const auto state = lab->Snapshot(200);
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->applied.ip, block.Address(50));
  EXPECT_EQ(state->applied.NameText(), "Old");
  EXPECT_EQ(state->applied.dhcp, 0);
  EXPECT_EQ(state->applied.access.size(), 1u);
}

TEST_F(ReplaceServerTest, PasswordIsAskedUntilRightOrCancelled) {
  emulator::ServerSpec locked = Server(600, 64);
  locked.password = "pw";
  StartLab({locked});
  ReplaceServerDialog& d = FindReplacementForOld(kSingleHost);
  SelectSerial(d, 600);
  prompter.QueuePassword("bad");
  prompter.QueuePassword(std::nullopt);
  EXPECT_FALSE(d.Ok());
  EXPECT_TRUE(Shown(ManagerString(kStrPasswordError)));
  EXPECT_EQ(doc->tables().server(0).serial_number, 100);
  EXPECT_EQ(doc->tables().server(0).password(), "");
  EXPECT_EQ(Found(600).name(), "Lab600");  // as the load found it

  prompter.QueuePassword("pw");
  EXPECT_TRUE(d.Ok());
  EXPECT_EQ(doc->tables().server(0).serial_number, 600);
  EXPECT_EQ(doc->tables().server(0).password(), "pw");
  EXPECT_FALSE(Shown(ManagerString(kStrReplaceDhcpWarning)));  // DHCP was off
}

TEST_F(ReplaceServerTest, AddressConflictWalkWrapsPast254) {
  StartLab({Server(700, 254)}, {{block.Address(0), {0x02, 0xEE, 0, 0, 0, 0}}});
  Configure(100, 50, 9476, "Old");
  Configure(800, 254, 8452, "Other");  // another entry uses .254
  LoadDoc(kSingleHost);
  ReplaceServerDialog d(*doc_host, 0);
  d.Find();
  SelectSerial(d, 700);
  lab->ClearLog();
  ASSERT_TRUE(d.Ok());
  EXPECT_EQ(CheckedAddresses(),
            (std::vector<Ipv4>{block.Address(254), block.Address(0), block.Address(1)}));
  // The takeover gives the server the replaced entry's address in any case.
  EXPECT_EQ(doc->tables().found().records[static_cast<size_t>(d.chosen_found_index())].ip_address(),
            block.Address(50));
}

TEST_F(ReplaceServerTest, AddressWalkGivesUpAfter255Tries) {
  emulator::ServerSpec s = Server(700, 20);
  s.flags = wire::kFlagAddressConflict;
  std::vector<emulator::OccupiedAddress> everywhere;
  for (int host = 0; host < 256; ++host)
    everywhere.push_back({block.Address(static_cast<uint8_t>(host)), {0x02, 0xEE, 0, 0, 0, 1}});
  StartLab({s}, everywhere);
  ReplaceServerDialog& d = FindReplacementForOld(kSingleHost);
  SelectSerial(d, 700);
  lab->ClearLog();
  EXPECT_FALSE(d.Ok());
  EXPECT_TRUE(Shown(kPsNoFreeAddress));
  EXPECT_EQ(CheckedAddresses().size(), 255u);
  EXPECT_EQ(doc->tables().server(0).serial_number, 100);
}

TEST_F(ReplaceServerTest, FailuresKeepTheDialogOpenAndChangeNothing) {
  emulator::ServerSpec refusing = Server(900, 65);
  refusing.flags = wire::kFlagAddressConflict;
  refusing.faults.refuse = true;
  StartLab({refusing, Server(300, 61, 8452)});
  Configure(100, 50, 9476, "Old");
  LoadDoc(kSingleHost);
  const ServerConfig before = doc->tables().server(0);
  const int found_before = doc->tables().found().count;

  ReplaceServerDialog d(*doc_host, 0);
  d.Find();
  SelectSerial(d, 900);
  EXPECT_FALSE(d.Ok());
  EXPECT_TRUE(Shown(kPsConflictCheckFailed));
  EXPECT_EQ(doc->tables().server(0), before);
  EXPECT_EQ(doc->tables().found().count, found_before);

  // No candidate at all: the list is empty and OK asks for a selection.
  ServerConfig& other = doc->tables().server(0);
  other.device_type = 9747;
  d.Find();
  EXPECT_TRUE(d.rows().empty());
  prompter.Clear();
  EXPECT_FALSE(d.Ok());
  EXPECT_EQ(prompter.texts(),
            std::vector<std::string>{std::string(ManagerString(kStrSelectServerFirst))});
}

TEST_F(ReplaceServerTest, MultiHostKeepsTheServerTablesAndAddsThisHost) {
  emulator::ServerSpec s = Server(200, 60);
  s.access = {{Ipv4FromOctets(127, 200, 0, 0), Ipv4FromOctets(255, 255, 0, 0), 0x1}};
  s.routes = {{block.Address(1), Ipv4FromOctets(10, 1, 0, 0), Ipv4FromOctets(255, 255, 0, 0), 3}};
  StartLab({s});
  ReplaceServerDialog& d = FindReplacementForOld(kMultiHost);
  SelectSerial(d, 200);
  ASSERT_TRUE(d.Ok());
  const ServerRecord& r = doc->tables().found().records[static_cast<size_t>(d.chosen_found_index())];
  ASSERT_EQ(r.access_total, 2);
  EXPECT_EQ(r.access_table[0].address, Ipv4FromOctets(127, 200, 0, 0));
  EXPECT_EQ(r.access_table[1], (AccessEntry{block.Interface(), 0xFFFFFFFFu, 0xFFFF}));
  EXPECT_EQ(r.route_total, 1);
  EXPECT_EQ(doc->tables().server(0).tables_changed, 1u);
  EXPECT_EQ(doc->tables().saved_server(0).tables_changed, 0u);
}

// A password typed once in the run (in Server Properties or Replace Server) is not asked
// again before or at the first Save Configuration; a stored password that is not saved
// for logging in is still asked for.
TEST_F(ReplaceServerTest, PasswordTypedInThisRunIsNotAskedAgain) {
  emulator::ServerSpec typed = Server(10, 10), replacement = Server(600, 64),
                       untyped = Server(20, 20);
  typed.password = "pa";
  replacement.password = "pr";
  untyped.password = "pc";
  StartLab({typed, replacement, untyped});
  Configure(10, 10).set_password("pa");
  ServerConfig& old = Configure(100, 50, 9476, "Old");
  old.flags = kServerFlagPasswordSaved;  // saved for the server that is gone
  old.set_password("gone");
  Configure(20, 20).set_password("pc");
  LoadDoc(kSingleHost);

  Select(10);
  ServerPropertiesCommand properties(*doc_host, dialogs);
  prompter.QueuePassword("pa");
  dialogs.sheet = [](PropertySheet& s) {
    s.general().name = "Renamed";
    return s.Ok();
  };
  ASSERT_TRUE(properties.Run(doc->server_tree().selected_server(), doc->server_tree().selected_found()).accepted);
  dialogs.sheet = [](PropertySheet&) { return false; };
  EXPECT_TRUE(properties.Run(doc->server_tree().selected_server(), doc->server_tree().selected_found()).opened);
  ASSERT_EQ(prompter.password_prompts().size(), 1u);

  ReplaceServerDialog d(*doc_host, 1);
  d.Find();
  SelectSerial(d, 600);
  prompter.QueuePassword("pr");
  ASSERT_TRUE(d.Ok());
  ASSERT_EQ(prompter.password_prompts().size(), 2u);
  doc->server_tree().BuildTree();

  doc->tables().server(2).write_state = kWriteAlways;
  doc->tables().SetModified(true);
  prompter.QueuePassword("pc");
  ASSERT_TRUE(doc->writer().SaveConfiguration());
  ASSERT_EQ(prompter.password_prompts().size(), 3u);
  EXPECT_NE(prompter.password_prompts()[2].find("Serial No. : 20\n"), std::string::npos);
  EXPECT_FALSE(Shown(ManagerString(kStrPasswordError)));
  for (uint16_t serial : {10, 600, 20}) EXPECT_EQ(lab->Snapshot(serial)->restarts, 1) << serial;
  EXPECT_EQ(lab->Snapshot(10)->applied.NameText(), "Renamed");
  EXPECT_EQ(lab->Snapshot(600)->applied.NameText(), "Old");
}

}  // namespace
}  // namespace zelin::manager::testing
