// The user's path across the manager, Server Properties and the Add Server Wizard:
// servers edited in Server Properties keep their edits through a wizard run (which
// searches the network again), Save Configuration sends them and the new server's
// settings, and the next start over the same hive finds every server at its new
// settings. A password the user typed once in the run is not asked again.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "mapwizard/core/wizard_flow.hpp"
#include "srvmanager/core/registry_store.hpp"
#include "srvmanager/properties/core/document_host.hpp"
#include "srvmanager/properties/core/property_sheet.hpp"
#include "store/hive_file.hpp"
#include "store/server_store.hpp"
#include "tests/srvmanager/lab_fixture.hpp"
#include "tests/srvmanager_properties/fakes.hpp"

namespace zelin::manager::testing {
namespace {

class PendingEditsTest : public LabDocTest {
 protected:
  // Server Properties for `serial` as the main window runs it, with the sheet's edits.
  void EditProperties(ManagerDocument& doc, uint16_t serial,
                      std::function<bool(PropertySheet&)> edit) {
    for (size_t i = 0; i < doc.server_tree().items().size(); ++i)
      if (doc.tables().server(doc.server_tree().items()[i].server_index).serial_number == serial)
        doc.server_tree().SelectTreeItem(static_cast<int>(i));
    DocumentHost host(doc);
    dialogs_.sheet = std::move(edit);
    ServerPropertiesCommand command(host, dialogs_);
    const PropertiesOutcome out = command.Run(doc.server_tree().selected_server(), doc.server_tree().selected_found());
    ASSERT_TRUE(out.accepted);
    doc.server_tree().SetItemLabel(doc.server_tree().selected_item(), out.tree_label);
    if (out.mark_modified) doc.tables().SetModified(true);
  }

  zelin::testing::ScriptedDialogs dialogs_;
};

TEST_F(PendingEditsTest, WizardLeavesEditsPendingAndTheNextStartFindsEveryServerAsSaved) {
  const std::filesystem::path path =
      std::filesystem::path(::testing::TempDir()) / "manager-pending-edits.reg";
  std::filesystem::remove(path);
  ServerConfig alpha = MakeEntry(301, "Alpha", Addr(10));
  alpha.set_password("alpha");  // kept in the store, but not saved for logging in
  {
    HiveFile hive(path);
    ASSERT_TRUE(WriteInstallationType(hive, kMultiHost));
    ASSERT_TRUE(SaveServerStore(
        hive, std::vector<ServerConfig>{alpha, MakeEntry(303, "Hidden", Addr(50))}, {}));
  }
  auto& lab = StartLab({LabServer(301, "Alpha", Addr(10), 9476, "alpha"),
                        LabServer(302, "Bravo", Addr(11), 9476, "bravo")});
  // This lab does not hear broadcasts: only a directed request reaches its server.
  auto& hidden = StartLab({LabServer(303, "Hidden", Addr(50))}, Addr(200));
  HiveManagerStore store(path);
  ManagerDocument doc(*transport_, prompter_, store, kMultiHost, [] {});
  doc.Load();

  prompter_.QueuePassword("alpha");
  dialogs_.grant = zelin::testing::TypeGrant("127.60.0.0", "255.255.0.0");
  dialogs_.add_port = [](AddPortDialog& d) {
    d.selected[3] = true;
    return true;
  };
  EditProperties(doc, 301, [this](PropertySheet& s) {
    s.general().name = "Alpha2";
    s.general().address_text = AddressToText(Addr(20));
    EXPECT_TRUE(s.SetActivePage(2));
    s.access_control()->SetView(AccessView::kByAddress);
    s.access_control()->AddIp();
    return s.Ok();
  });
  EditProperties(doc, 303, [this](PropertySheet& s) {
    s.general().name = "Hidden2";
    s.general().address_text = AddressToText(Addr(60));
    return s.Ok();
  });

  // The Add Server Wizard on the document's tables and sockets, as the library runs it:
  // a multi-host administrator adds Bravo, its only row, at its address from COM3 on.
  Transport borrowed(
      *clock_, notices_, Deliverable::Wizard,
      {.interfaces = {block_.Interface()}, .broadcast = block_.Broadcast(), .loopback_only = true});
  const int socket = transport_->socket(0);
  const Ipv4 local = transport_->local_address(0);
  ASSERT_TRUE(borrowed.AdoptSockets(&socket, &local, 1));
  wizard::PrompterDialogs wizard_dialogs(prompter_);
  const WizardArguments& raw = doc.wizard().Arguments();
  wizard::WizardFlow flow(borrowed, prompter_,
                          {raw.found, raw.saved_found, raw.configuration, raw.saved_configuration,
                           raw.configuration_count},
                          kMultiHost, wizard_dialogs);
  flow.Start();
  flow.Next();
  ASSERT_EQ(flow.server_list().rows().size(), 1u);
  flow.Next();
  flow.multi_password().SetPassword("bravo");
  for (int page = 0; page < 3; ++page) flow.Next();  // address, COM names, summary
  flow.Finish();
  ASSERT_EQ(flow.result(), 1);
  doc.wizard().WizardReturned(flow.result());

  // Both edits are still pending, and all three servers show online.
  EXPECT_TRUE(doc.tables().ServerChanged(0));
  EXPECT_TRUE(doc.tables().ServerChanged(1));
  ASSERT_EQ(doc.server_tree().items().size(), 3u);
  for (const TreeItem& item : doc.server_tree().items()) EXPECT_EQ(item.icon, kIconOnline) << item.label;

  prompter_.QueueAnswer(MsgAnswer::Yes);  // the restart warning
  ASSERT_TRUE(doc.writer().SaveConfiguration());
  const auto a = lab.Snapshot(301), b = lab.Snapshot(302), h = hidden.Snapshot(303);
  ASSERT_TRUE(a && b && h);
  EXPECT_EQ(a->applied.NameText(), "Alpha2");
  EXPECT_EQ(a->applied.ip, Addr(20));
  EXPECT_NE(std::find(a->applied.access.begin(), a->applied.access.end(),
                      AccessEntry{zelin::testing::Ip("127.60.0.0"),
                                  zelin::testing::Ip("255.255.0.0"), 0x8}),
            a->applied.access.end());
  EXPECT_EQ(h->applied.NameText(), "Hidden2");
  EXPECT_EQ(h->applied.ip, Addr(60));
  EXPECT_EQ(b->restarts, 1);
  EXPECT_NE(std::find_if(b->applied.access.begin(), b->applied.access.end(),
                         [&](const AccessEntry& e) { return e.address == block_.Interface(); }),
            b->applied.access.end());

  // The next start over the same hive and lab: every server online at its new settings.
  HiveManagerStore next_store(path);
  ManagerDocument next(*transport_, prompter_, next_store, kMultiHost, [] {});
  next.Load();
  ASSERT_EQ(next.server_tree().items().size(), 3u);
  EXPECT_EQ(next.server_tree().items()[0].label, "Alpha2(QX404)");
  EXPECT_EQ(next.server_tree().items()[1].label, "Hidden2(QX404)");
  EXPECT_EQ(next.server_tree().items()[2].label, "Bravo(QX404)");
  for (const TreeItem& item : next.server_tree().items()) EXPECT_EQ(item.icon, kIconOnline) << item.label;
  EXPECT_EQ(next.tables().server(0).ip_address, Addr(20));
  EXPECT_EQ(next.tables().server(2).com_number[0], 3);

  // One password prompt in all: Alpha's, in Server Properties.
  EXPECT_EQ(prompter_.password_prompts().size(), 1u);
  const std::vector<std::string> texts = prompter_.texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Password error!"), 0);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace zelin::manager::testing
