// The Server Properties command against the emulated lab: what it reads from the
// server and when, Cancel, OK with its relabelling and modified rule, and Save
// Configuration after edits on every page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/exchange.hpp"
#include "srvmanager/properties/core/access_table.hpp"
#include "srvmanager/properties/core/properties_strings.hpp"
#include "srvmanager/properties/core/property_sheet.hpp"
#include "tests/srvmanager_properties/lab_fixture.hpp"

namespace zelin::manager::testing {
namespace {

using zelin::testing::TypeGrant;

class ServerPropertiesTest : public LabTest {
 protected:
  PropertiesOutcome Run() {
    ServerPropertiesCommand command(*doc_host, dialogs);
    return command.Run(doc->server_tree().selected_server(), doc->server_tree().selected_found());
  }

  // Server 10 configured and selected in an installation of `type`; opens its sheet,
  // cancels it and says how many pages it had.
  int OpenSheetOnce(int type, PropertiesOutcome* out = nullptr) {
    StartLab({Rich(10, 10)});
    Configure(10, 10);
    LoadDoc(type);
    Select(10);
    lab->ClearLog();
    int pages = 0;
    dialogs.sheet = [&](PropertySheet& s) {
      pages = s.page_count();
      return false;
    };
    const PropertiesOutcome result = Run();
    if (out != nullptr) *out = result;
    return pages;
  }
};

TEST_F(ServerPropertiesTest, SingleHostShowsTwoPagesAndReadsNoTables) {
  PropertiesOutcome out;
  EXPECT_EQ(OpenSheetOnce(kSingleHost, &out), 2);
  EXPECT_TRUE(out.opened);
  EXPECT_EQ(Codes(10), std::vector<int>{wire::kDhcp});
  EXPECT_EQ(doc->tables().server(0).tables_changed, 1u);
  EXPECT_EQ(doc->tables().saved_server(0).tables_changed, 1u);
  EXPECT_EQ(Found(10).dhcp, 1);
  EXPECT_EQ(Found(10).access_total, 0);
}

TEST_F(ServerPropertiesTest, TablesAreReadOnceUntilSaved) {
  EXPECT_EQ(OpenSheetOnce(kCustom), 4);
  EXPECT_EQ(Codes(10), (std::vector<int>{wire::kDhcp, wire::kGetRoutes, wire::kGetAccessList}));
  const ServerRecord& r = Found(10);
  ASSERT_EQ(r.access_total, 1);
  EXPECT_EQ(r.access_table[0].port_mask, 0x3);
  ASSERT_EQ(r.route_total, 1);
  EXPECT_EQ(r.route_table[0].metric, 2);
  // The saved copy holds the same tables, so nothing counts as changed yet.
  EXPECT_FALSE(doc->tables().ServerChanged(0));

  lab->ClearLog();
  Run();
  EXPECT_TRUE(Codes(10).empty());
  EXPECT_EQ(dialogs.sheets, 2);
}

TEST_F(ServerPropertiesTest, CancelRestoresTheRecord) {
  StartLab({Rich(10, 10)});
  Configure(10, 10);
  LoadDoc(kMultiHost);
  Select(10);
  ServerRecord at_open;
  dialogs.grant = TypeGrant("127.9.9.9", "");
  dialogs.sheet = [&](PropertySheet& s) {
    at_open = Found(10);
    s.general().name = "Changed";
    s.general().address_text = "127.0.0.99";
    EXPECT_TRUE(s.SetActivePage(2));
    s.access_control()->Select({0, -1});
    s.access_control()->AddIp();
    EXPECT_TRUE(s.Ok());  // the pages changed the record ...
    EXPECT_EQ(Found(10).name(), "Changed");
    return false;  // ... and Cancel puts it back
  };
  const PropertiesOutcome out = Run();
  EXPECT_FALSE(out.accepted);
  const ServerRecord& r = Found(10);
  EXPECT_EQ(r.search_reply, at_open.search_reply);
  EXPECT_EQ(r.access_table, at_open.access_table);
  EXPECT_EQ(r.access_total, 1);
}

TEST_F(ServerPropertiesTest, OkRelabelsAndMarksModifiedOnlyOnChange) {
  StartLab({Rich(10, 10)});
  Configure(10, 10, 9476, "Lab10");  // the name the server reports
  LoadDoc(kSingleHost);
  Select(10);
  dialogs.sheet = [](PropertySheet& s) { return s.Ok(); };
  PropertiesOutcome out = Run();
  EXPECT_TRUE(out.accepted);
  EXPECT_FALSE(out.mark_modified);
  EXPECT_EQ(out.tree_label, "Lab10(QX404)");

  dialogs.sheet = [](PropertySheet& s) {
    s.general().name = "Renamed";
    return s.Ok();
  };
  out = Run();
  EXPECT_TRUE(out.mark_modified);
  EXPECT_EQ(out.tree_label, "Renamed(QX404)");

  // The password check box alone (a flags change) also counts.
  Found(10).set_name("Lab10");
  doc->tables().server(0).set_name("Lab10");
  dialogs.sheet = [](PropertySheet& s) {
    EXPECT_TRUE(s.SetActivePage(1));
    s.password().auto_save = true;
    return s.Ok();
  };
  out = Run();
  EXPECT_TRUE(out.mark_modified);
}

TEST_F(ServerPropertiesTest, RefusalsBeforeTheSheetOpens) {
  emulator::ServerSpec s = Rich(10, 10);
  s.faults.refuse = true;
  StartLab({s, Server(11, 11, 8452)});
  Configure(10, 10);
  Configure(12, 12);  // not on the network
  LoadDoc(kCustom);

  Select(12);
  EXPECT_FALSE(Run().opened);
  EXPECT_TRUE(Shown(ManagerString(kStrNoServer)));

  Select(10);
  EXPECT_FALSE(Run().opened);
  EXPECT_TRUE(Shown(ManagerString(kStrGetDhcpError)));
  EXPECT_EQ(doc->tables().server(0).tables_changed, 0u);
  EXPECT_EQ(dialogs.sheets, 0);
}

TEST_F(ServerPropertiesTest, DhcpIsQueriedOnlyFromModelsThatCarryIt) {
  emulator::ServerSpec old_firmware = Rich(10, 10);
  old_firmware.firmware = 0x021FFFFF;
  StartLab({old_firmware, Server(11, 11, 8452)});
  Configure(10, 10);
  Configure(11, 11, 8452);
  LoadDoc(kSingleHost);
  bool radios = true;
  dialogs.sheet = [&](PropertySheet& s) {
    radios = s.general().dhcp_radios_enabled();
    return false;
  };
  for (uint16_t serial : {10, 11}) {
    Select(serial);
    lab->ClearLog();
    EXPECT_TRUE(Run().opened);
    EXPECT_TRUE(Codes(serial).empty()) << serial;
    EXPECT_EQ(Found(serial).dhcp, 1);
    EXPECT_FALSE(radios);
  }
}

// A table that cannot be read leaves the record and the flag as they were, so that no
// save writes a table cut short.
TEST_F(ServerPropertiesTest, UnreadableTablesKeepTheSheetClosed) {
  emulator::ServerSpec s = Server(11, 11, 8452);
  s.faults.refuse = true;
  StartLab({s});
  Configure(11, 11, 8452);
  LoadDoc(kMultiHost);
  Select(11);
  Found(11).access_total = 1;
  Found(11).access_table[0] = {Ipv4FromOctets(127, 1, 2, 3), 0xFFFFFFFFu, 0x1};
  const ServerRecord before = Found(11);
  EXPECT_FALSE(Run().opened);
  EXPECT_TRUE(Shown(kPsReadTablesFailed));
  EXPECT_EQ(doc->tables().server(0).tables_changed, 0u);
  EXPECT_EQ(Found(11).access_total, 1);
  EXPECT_EQ(Found(11).access_table, before.access_table);
  EXPECT_EQ(dialogs.sheets, 0);
}

TEST_F(ServerPropertiesTest, PasswordProtectedServerAsksFirst) {
  emulator::ServerSpec s = Rich(10, 10);
  s.password = "secret";
  StartLab({s});
  Configure(10, 10);
  LoadDoc(kSingleHost);
  Select(10);
  prompter.QueuePassword(std::nullopt);
  EXPECT_FALSE(Run().opened);
  prompter.QueuePassword("wrong");
  prompter.QueuePassword("secret");
  dialogs.sheet = [](PropertySheet&) { return false; };
  EXPECT_TRUE(Run().opened);
  EXPECT_EQ(doc->tables().server(0).password(), "secret");
  EXPECT_TRUE(Shown("Password error!"));
}

// Edits on every page, then Save Configuration: exactly the write sequence goes out,
// and the server applies it.
TEST_F(ServerPropertiesTest, SaveConfigurationSendsTheWriteSequence) {
  StartLab({Rich(10, 10)});
  Configure(10, 10);
  LoadDoc(kCustom);
  Select(10);
  dialogs.grant = TypeGrant("127.50.0.0", "255.255.0.0");
  dialogs.add_port = [](AddPortDialog& d) {
    d.selected[3] = true;
    return true;
  };
  dialogs.gateway = [this](GatewaySettingsDialog& d) {
    d.destination_text = "10.2.0.0";
    d.gateway_text = AddressToText(block.Address(1));
    d.netmask_text = "255.255.0.0";
    d.metric_text = "4";
    return d.Ok();
  };
  dialogs.sheet = [](PropertySheet& s) {
    s.general().name = "Edited";
    s.general().dhcp_enable = false;
    EXPECT_TRUE(s.SetActivePage(1));
    s.password().new_password = s.password().confirm_password = "newpw";
    EXPECT_TRUE(s.SetActivePage(2));
    s.access_control()->SetView(AccessView::kByAddress);
    s.access_control()->AddIp();
    EXPECT_TRUE(s.SetActivePage(3));
    s.advanced()->Add();
    return s.Ok();
  };
  const PropertiesOutcome out = Run();
  ASSERT_TRUE(out.accepted);
  ASSERT_TRUE(out.mark_modified);
  doc->tables().SetModified(true);
  lab->ClearLog();
  EXPECT_TRUE(doc->writer().SaveConfiguration());
  EXPECT_EQ(Codes(10), (std::vector<int>{wire::kSetName, wire::kSetPassword, wire::kSetAddress,
                                         wire::kAddRoute, wire::kAddRoute, wire::kSetAccessList,
                                         wire::kSetPortKinds, wire::kDhcp, wire::kSaveAndRestart}));
  const auto state = lab->Snapshot(10);
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->applied.NameText(), "Edited");
  EXPECT_EQ(state->applied.password, "newpw");
  EXPECT_EQ(state->applied.dhcp, 0);
  ASSERT_EQ(state->applied.access.size(), 2u);
  EXPECT_EQ(state->applied.access[1],
            (AccessEntry{Ipv4FromOctets(127, 50, 0, 0), Ipv4FromOctets(255, 255, 0, 0), 0x8}));
  ASSERT_EQ(state->applied.routes.size(), 2u);
  EXPECT_EQ(state->applied.routes[1].metric, 4);
  EXPECT_EQ(doc->tables().server(0).tables_changed, 0u);
}


// The routes that the server with `serial` took in AddRoute requests, in order.
std::vector<RouteEntry> RoutesSent(const emulator::Lab& lab, uint16_t serial) {
  std::vector<RouteEntry> sent;
  for (const auto& e : lab.Log()) {
    if (e.proto != "udp" || e.code != wire::kAddRoute || e.verdict.rfind("ok", 0) != 0 ||
        e.server != std::to_string(serial))
      continue;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < e.hex.size(); i += 2)
      bytes.push_back(static_cast<uint8_t>(std::stoi(e.hex.substr(i, 2), nullptr, 16)));
    if (bytes.size() < wire::kAddRouteSize) {
      ADD_FAILURE() << "short AddRoute: " << e.hex;
      continue;
    }
    sent.push_back(RouteEntry{GetIpv4(bytes, 26), GetIpv4(bytes, 30), GetIpv4(bytes, 34),
                              GetLe16(bytes, 38)});
  }
  return sent;
}

// A metric-only change travels as one AddRoute with the new metric, the route named by
// its gateway, destination and netmask: from the Advanced page through Save
// Configuration exactly as from ChangeRoute, which `zelinctl route modify` sends.
TEST_F(ServerPropertiesTest, MetricOnlyChangeIsOneAddRouteFromThePageAsFromTheCommandLine) {
  StartLab({Rich(10, 10), Rich(11, 11)});
  Configure(10, 10);
  Configure(11, 11);
  LoadDoc(kCustom);
  const RouteEntry before{block.Address(1), Ipv4FromOctets(10, 1, 0, 0),
                          Ipv4FromOctets(255, 255, 0, 0), 2};
  RouteEntry after = before;
  after.metric = 7;

  Select(10);
  dialogs.gateway = [](GatewaySettingsDialog& d) {
    d.metric_text = "7";
    return d.Ok();
  };
  dialogs.sheet = [](PropertySheet& s) {
    EXPECT_TRUE(s.SetActivePage(3));
    s.advanced()->Modify();
    return s.Ok();
  };
  ASSERT_TRUE(Run().accepted);
  doc->tables().SetModified(true);
  lab->ClearLog();
  ASSERT_TRUE(doc->writer().SaveConfiguration());
  ASSERT_TRUE(ChangeRoute(*transport, Found(11), before, after, 1));

  EXPECT_EQ(RoutesSent(*lab, 10), std::vector<RouteEntry>{after});
  EXPECT_EQ(RoutesSent(*lab, 11), std::vector<RouteEntry>{after});
  const auto state = lab->Snapshot(10);
  ASSERT_TRUE(state.has_value());
  EXPECT_EQ(state->applied.routes, std::vector<RouteEntry>{after});
}

// Runs of Add, Modify and Remove on the Advanced page, then Save Configuration: a fresh
// read of each server's routes gives the one route its page listed. Every server starts
// with 10.1.0.0/16 at metric 2.
TEST_F(ServerPropertiesTest, SavedRouteEditsLeaveTheServerWithTheListedRoutes) {
  struct Edit {
    char action;  // Add, Modify or Remove list row `row`
    int row;
    const char* destination = "";
    const char* metric = "";
  };
  const std::vector<std::pair<std::vector<Edit>, std::string>> cases = {
      {{{'M', 0, "10.1.0.0", "7"}}, "10.1.0.0/7"},
      {{{'M', 0, "10.1.0.0", "4"}, {'M', 0, "10.1.0.0", "6"}}, "10.1.0.0/6"},
      {{{'M', 0, "10.9.0.0", "4"}, {'M', 0, "10.1.0.0", "5"}}, "10.1.0.0/5"},
      {{{'M', 0, "10.9.0.0", "4"}}, "10.9.0.0/4"},
      {{{'R', 0}, {'A', 0, "10.1.0.0", "3"}}, "10.1.0.0/3"},
      {{{'A', 0, "10.1.0.0", "8"}, {'R', 1}}, "10.1.0.0/2"},
      {{{'A', 0, "10.9.0.0", "3"}, {'R', 1}}, "10.1.0.0/2"},
  };
  const auto n = static_cast<uint8_t>(cases.size());
  std::vector<emulator::ServerSpec> servers;
  for (uint8_t i = 0; i < n; ++i) servers.push_back(Rich(10 + i, 10 + i));
  StartLab(servers);
  for (uint8_t i = 0; i < n; ++i) Configure(10 + i, 10 + i);
  LoadDoc(kCustom);
  for (uint8_t i = 0; i < n; ++i) {
    Select(10 + i);
    dialogs.sheet = [&](PropertySheet& s) {
      EXPECT_TRUE(s.SetActivePage(3));
      for (const Edit& e : cases[i].first) {
        dialogs.gateway = [&](GatewaySettingsDialog& d) {
          d.destination_text = e.destination;
          d.gateway_text = AddressToText(block.Address(1));
          d.netmask_text = "255.255.0.0";
          d.metric_text = e.metric;
          return d.Ok();
        };
        s.advanced()->SelectRow(e.row);
        if (e.action == 'A') s.advanced()->Add();
        if (e.action == 'M') s.advanced()->Modify();
        if (e.action == 'R') s.advanced()->Remove();
      }
      return s.Ok();
    };
    ASSERT_TRUE(Run().accepted);
  }
  doc->tables().SetModified(true);
  ASSERT_TRUE(doc->writer().SaveConfiguration());
  for (uint8_t i = 0; i < n; ++i) {
    ServerRecord fresh = Found(10 + i);
    ASSERT_TRUE(ReadServerTables(*transport, fresh));
    std::string routes;
    for (int r = 0; r < fresh.route_total; ++r) {
      const RouteEntry& e = fresh.route_table[static_cast<size_t>(r)];
      routes += AddressToText(e.destination) + "/" + std::to_string(e.metric) + " ";
    }
    EXPECT_EQ(routes, cases[i].second + " ") << "case " << int{i};
  }
}

}  // namespace
}  // namespace zelin::manager::testing
