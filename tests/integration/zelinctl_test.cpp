// The built zelinctl program against emulated servers: an in-process lab on the
// real clock (zelinctl waits the product's real times), and one devsim process.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "protocol/address.hpp"
#include "protocol/device_text.hpp"
#include "tests/integration/lab_fixture.hpp"
#include "tests/support/devsim_process.hpp"

namespace zelin::testing {
namespace {

struct RunResult : CommandResult {
  std::string err;
};

class ZelinctlProcessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (lab_) lab_->Stop();
  }

  emulator::ServerSpec Server(uint16_t serial, uint8_t host, const std::string& password = "") {
    return LabServer(serial, "Ctl" + std::to_string(serial), block_.Address(host), 9480, password);
  }

  void StartLab(std::vector<emulator::ServerSpec> servers,
                std::vector<emulator::OccupiedAddress> occupied = {}) {
    lab_ = StartBlockLab(block_, std::move(servers), SystemClock(),  // the real clock, as zelinctl's
                         {.restart_ms = 300, .occupied = std::move(occupied)});
  }

  // Runs zelinctl with `args` and the network options of the block (without its
  // broadcast stand-in when `with_broadcast` is false; with other host addresses
  // when `interfaces` is given).
  RunResult Run(const std::string& args, bool with_broadcast = true,
                const std::string& interfaces = "") {
    const std::string err_path =
        ::testing::TempDir() + "zelinctl_stderr_" + std::to_string(::getpid()) + ".txt";
    const std::string broadcast =
        with_broadcast ? " --broadcast " + AddressToText(block_.Broadcast()) : "";
    const std::string hosts = interfaces.empty() ? AddressToText(block_.Interface()) : interfaces;
    const std::string cmd = std::string(ZELINCTL_PATH) + " " + args + " --interfaces " + hosts +
                            broadcast + " --loopback-only 2>" + err_path;
    RunResult r{RunShellCommand(cmd), {}};
    std::ifstream in(err_path);
    std::stringstream s;
    s << in.rdbuf();
    r.err = s.str();
    std::remove(err_path.c_str());
    return r;
  }

  LoopbackBlock block_;
  std::unique_ptr<emulator::Lab> lab_;
};

TEST_F(ZelinctlProcessTest, SearchProbeAndLocate) {
  StartLab({Server(21, 10, "pw"), Server(22, 11)});

  RunResult r = Run("search --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto list = nlohmann::json::parse(r.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["serial"], 21);
  EXPECT_EQ(list[0]["model"], "QX408");
  EXPECT_EQ(list[0]["name"], "Ctl21");
  EXPECT_EQ(list[0]["ip_address"], AddressToText(block_.Address(10)));
  EXPECT_EQ(list[0]["ports"], 8);
  EXPECT_EQ(list[0]["password"], true);
  EXPECT_EQ(list[1]["password"], false);

  r = Run("probe " + AddressToText(block_.Address(11)) + " --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["serial"], 22);
  r = Run("probe " + AddressToText(block_.Address(12)));
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("no server answered"), std::string::npos) << r.err;
  EXPECT_EQ(Run("probe 1.2.3").exit_code, 2);

  r = Run("locate 22");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(lab_->Snapshot(22)->locating);
  r = Run("locate 22 --off");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(lab_->Snapshot(22)->locating);
}

// What a script relies on: help on every command, and distinct exit statuses with a
// message for bad input, a network it may not use and a server that does not answer.
TEST_F(ZelinctlProcessTest, HelpAndExitStatuses) {
  RunResult r = Run("--help");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Exit status:"), std::string::npos) << r.out;
  for (const std::string command : {"search", "probe", "locate", "set", "upgrade", "access",
                                    "route", "ports", "dhcp", "check-address"}) {
    r = Run(command + " --help");
    EXPECT_EQ(r.exit_code, 0) << command;
    EXPECT_EQ(r.out.rfind("usage: zelinctl " + command, 0), 0u) << r.out;
    r = Run("help " + command);
    EXPECT_EQ(r.exit_code, 0) << command;
    EXPECT_EQ(r.out.rfind("usage: zelinctl " + command, 0), 0u) << r.out;
  }
  r = Run("help route modify");
  EXPECT_EQ(r.out.rfind("usage: zelinctl route modify", 0), 0u) << r.out;
  EXPECT_EQ(Run("help nosuch").exit_code, 2);
  EXPECT_EQ(Run("nosuch").exit_code, 2);

  r = Run("probe 300.1.1.1");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("'300.1.1.1' is not an IPv4 address"), std::string::npos) << r.err;
  EXPECT_EQ(Run("probe 10.1.2.3").exit_code, 4);
  EXPECT_EQ(Run("locate 70000").exit_code, 2);
  r = Run("search --broadcast 1.2.3", false);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--broadcast: '1.2.3' is not an IPv4 address"), std::string::npos);

  // Nothing to change is a usage error, not a restart of the server.
  r = Run("set 21");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("nothing to change"), std::string::npos) << r.err;

  // Loopback-only without a loopback broadcast stand-in: said at once, before a search.
  for (const std::string command : {"search", "locate 21"}) {
    r = Run(command, false);
    EXPECT_EQ(r.exit_code, 4) << command;
    EXPECT_NE(r.err.find("broadcast address 255.255.255.255 is outside 127.0.0.0/8"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Refused to send"), std::string::npos) << r.err;
  }

  // No host address can be used (none of them is this host's).
  r = Run("search", true, "10.254.253.252");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_NE(r.err.find("no socket could be bound"), std::string::npos) << r.err;

  // Nobody there.
  r = Run("probe " + AddressToText(block_.Address(60)));
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("no server answered at " + AddressToText(block_.Address(60))),
            std::string::npos)
      << r.err;
}

TEST_F(ZelinctlProcessTest, SetChangesTheServerAndRestartsIt) {
  StartLab({Server(21, 10, "pw")});
  RunResult r = Run("set 21 --password wrong --name X");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Password error!"), std::string::npos) << r.err;
  EXPECT_EQ(lab_->Snapshot(21)->staged.NameText(), "Ctl21");
  EXPECT_EQ(Run("set 21 --new-password 12345678901234567").exit_code, 2);
  // The old name of the login password is refused with a pointer to the new names.
  r = Run("set 21 --current-password pw --name X");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("now --password, a new one --new-password"), std::string::npos) << r.err;

  // Names and passwords the server would read as other bytes are refused before
  // anything is sent, even a search.
  const size_t requests = lab_->Log().size();
  for (const std::string args :
       {"--name 'Caf\xC3\xA9'", "--name 'A\tB'", "--password pw --new-password 'n\xC3\xA9w'",
        "--password 'p\xC3\xBC' --name X"}) {
    r = Run("set 21 " + args);
    EXPECT_EQ(r.exit_code, 2) << args;
    EXPECT_NE(r.err.find(kDeviceTextRefused), std::string::npos) << r.err;
  }
  EXPECT_EQ(lab_->Log().size(), requests);
  EXPECT_EQ(lab_->Snapshot(21)->staged.NameText(), "Ctl21");

  const Ipv4 new_ip = block_.Address(40);
  r = Run("set 21 --password pw --name Depot --ip " + AddressToText(new_ip) +
          " --new-password next");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("saved and restarted at " + AddressToText(new_ip)), std::string::npos)
      << r.out;
  const auto st = lab_->Snapshot(21);
  EXPECT_EQ(st->applied.NameText(), "Depot");
  EXPECT_EQ(st->applied.ip, new_ip);
  EXPECT_EQ(st->applied.password, "next");
  EXPECT_EQ(st->restarts, 1);
}

TEST_F(ZelinctlProcessTest, UpgradeReportsTheVerdict) {
  auto desc = Server(21, 10, "pw");
  desc.firmware_rule.prefix = {'Z', 'F'};
  StartLab({desc});
  const std::string good = ::testing::TempDir() + "ctl_good.rom";
  const std::string bad = ::testing::TempDir() + "ctl_bad.rom";
  std::ofstream(good, std::ios::binary) << "ZF" << std::string(9000, 'x');
  std::ofstream(bad, std::ios::binary) << "QQ" << std::string(9000, 'x');

  RunResult r = Run("upgrade 21 " + bad + " --password pw");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(
      r.err.find("Upgrade server firmware Fail! (code -7: the server did not accept the image)"),
      std::string::npos)
      << r.err;
  r = Run("upgrade 21 " + good + " --password nope");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("(code -4: login refused)"), std::string::npos) << r.err;
  EXPECT_EQ(Run("upgrade 21 " + ::testing::TempDir() + "missing.rom").exit_code, 3);
  r = Run("upgrade 21 " + good + " --password 'p\xC3\xBC'");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find(kDeviceTextRefused), std::string::npos) << r.err;
  EXPECT_EQ(lab_->Snapshot(21)->upgrades, 0);
  r = Run("upgrade 21 " + good + " --password pw");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Firmware accepted by server 21"), std::string::npos);
  EXPECT_NE(r.err.find("Downloading..."), std::string::npos);
  EXPECT_EQ(lab_->Snapshot(21)->upgrades, 1);
  EXPECT_EQ(lab_->Snapshot(21)->last_image->size, 9002u);
  std::remove(good.c_str());
  std::remove(bad.c_str());
}

// The access-list commands follow the manager's table rules (an entry is known by its
// address and netmask, ports merge into it), and the server keeps what `access show` reads.
TEST_F(ZelinctlProcessTest, AccessCommandsEditTheListOnTheServer) {
  StartLab({Server(21, 10, "pw")});
  const std::string net = AddressToText(block_.Address(0));
  const std::string host = AddressToText(block_.Address(7));
  const std::string login = " --password pw";

  RunResult r =
      Run("access set 21 " + net + "/24:1-2 " + net + "/255.255.255.0:4 " + host + ":all" + login);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = Run("access add 21 " + net + "/24:6" + login);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = Run("access remove 21 " + host + login);
  ASSERT_EQ(r.exit_code, 0) << r.err;

  // Refused or unchanged: no restart.
  EXPECT_EQ(Run("access add 21 " + net + "/24:6" + login).exit_code, 0);
  EXPECT_EQ(Run("access remove 21 " + host + login).exit_code, 3);
  EXPECT_EQ(Run("access add 21 " + net + "/24:9" + login).exit_code, 2);  // 8 ports
  r = Run("access add 21 0.0.0.0:1" + login);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("cannot be granted access"), std::string::npos) << r.err;
  EXPECT_EQ(Run("access set 21" + login).exit_code, 2);  // an empty list takes --empty

  r = Run("access show 21 --json" + login);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out),
            nlohmann::json::parse(R"([{"ip_address": ")" + net +
                                  R"(", "netmask": "255.255.255.0", "ports": [1, 2, 4, 6]}])"));
  const auto st = lab_->Snapshot(21);
  const AccessEntry expected{block_.Address(0), Ipv4FromOctets(255, 255, 255, 0), 0b101011};
  EXPECT_EQ(st->applied.access, std::vector<AccessEntry>{expected});
  EXPECT_EQ(st->restarts, 3);
}

// Route edits end on the server as `route show` reads them; a metric change keeps the
// route (no removal of the same route after it), a new gateway replaces the old route.
TEST_F(ZelinctlProcessTest, RouteCommandsEditTheTableOnTheServer) {
  const Ipv4 mask16 = Ipv4FromOctets(255, 255, 0, 0);
  const RouteEntry first{block_.Address(1), Ipv4FromOctets(10, 1, 0, 0), mask16, 1};
  const RouteEntry second{block_.Address(1), Ipv4FromOctets(10, 2, 0, 0), mask16, 2};
  auto server = Server(21, 10, "pw");
  server.routes = {first, second};
  StartLab({server});
  auto key = [](const RouteEntry& e) {
    return " --destination " + AddressToText(e.destination) + " --gateway " +
           AddressToText(e.gateway) + " --netmask " + AddressToText(e.netmask) + " --password pw";
  };

  RunResult r = Run("route modify 21" + key(first) + " --metric 5");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  int add_routes = 0;  // a metric-only change is one AddRoute (RouteChangeEntries)
  for (const auto& e : lab_->Log())
    add_routes += e.code == wire::kAddRoute && e.verdict.rfind("ok", 0) == 0 ? 1 : 0;
  EXPECT_EQ(add_routes, 1);
  r = Run("route modify 21" + key(second) + " --new-gateway " + AddressToText(block_.Address(2)));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const RouteEntry third{block_.Address(1), Ipv4FromOctets(10, 3, 0, 0), mask16, 3};
  r = Run("route add 21" + key(third) + " --metric 3");
  ASSERT_EQ(r.exit_code, 0) << r.err;

  // Refused: no restart.
  EXPECT_EQ(Run("route add 21" + key(first) + " --metric 9").exit_code, 1);
  EXPECT_EQ(Run("route remove 21" + key(second)).exit_code, 3);
  EXPECT_EQ(Run("route add 21" + key(third) + " --metric 1000").exit_code, 2);

  RouteEntry moved = second;
  moved.gateway = block_.Address(2);
  const std::vector<RouteEntry> expected{
      {first.gateway, first.destination, mask16, 5}, moved, third};
  const auto st = lab_->Snapshot(21);
  EXPECT_EQ(st->applied.routes, expected);
  EXPECT_EQ(st->restarts, 3);
  r = Run("route show 21 --json --password pw");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto shown = nlohmann::json::parse(r.out);
  ASSERT_EQ(shown.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(shown[i]["destination"], AddressToText(expected[i].destination));
    EXPECT_EQ(shown[i]["gateway"], AddressToText(expected[i].gateway));
    EXPECT_EQ(shown[i]["metric"], expected[i].metric);
  }
}

// Port kinds (WAN ports keep theirs), DHCP only where the model has it, and the address
// check with the hardware address of the host that uses the address.
TEST_F(ZelinctlProcessTest, PortsDhcpAndCheckAddress) {
  auto server = Server(21, 10);
  server.port_kinds = {2, 2, 6, 2, 2, 2, 2, 2};
  server.port_kinds_given = true;
  auto old_model = Server(22, 11);
  old_model.type = 9476;
  old_model.firmware = 0x021F0000;  // DHCP came with 0x0220
  const emulator::OccupiedAddress occupied{block_.Address(50), {0x02, 0xaa, 0, 0, 0, 1}};
  StartLab({server, old_model}, {occupied});

  RunResult r = Run("ports set 21 --unavailable 2,5");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = Run("ports set 21 --mappable 3");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("port 3 of server 21 is a WAN port"), std::string::npos) << r.err;
  r = Run("ports show 21 --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto ports = nlohmann::json::parse(r.out);
  ASSERT_EQ(ports.size(), 8u);
  EXPECT_EQ(ports[1]["state"], "unavailable");
  EXPECT_EQ(ports[2]["state"], "wan");
  EXPECT_EQ(ports[4]["kind"], 0);
  EXPECT_EQ(ports[5]["state"], "mappable");
  const auto kinds = lab_->Snapshot(21)->applied.port_kinds;
  EXPECT_EQ(std::vector<int>(kinds.begin(), kinds.begin() + 8),
            (std::vector<int>{2, 0, 6, 2, 0, 2, 2, 2}));

  r = Run("dhcp set 21 on");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = Run("dhcp show 21 --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["dhcp"], true);
  EXPECT_EQ(lab_->Snapshot(21)->applied.dhcp, 1);
  EXPECT_EQ(lab_->Snapshot(21)->restarts, 2);
  r = Run("dhcp set 22 on");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("server 22 (QX404, firmware 2.1F.0000) has no DHCP setting"),
            std::string::npos)
      << r.err;
  for (const auto& e : lab_->Log()) EXPECT_FALSE(e.server == "22" && e.code == wire::kDhcp);

  r = Run("check-address 21 " + AddressToText(occupied.address) + " --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto check = nlohmann::json::parse(r.out);
  EXPECT_EQ(check["in_use"], true);
  EXPECT_EQ(check["hardware"], "02:aa:00:00:00:01");
  r = Run("check-address 21 " + AddressToText(block_.Address(51)));
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find(" is free"), std::string::npos) << r.out;
}

// A name in a legacy code page (as a device or a store may hold it) is printed as valid
// JSON, with U+FFFD for the byte that is not UTF-8, instead of ending zelinctl.
TEST_F(ZelinctlProcessTest, JsonOfANameThatIsNotUtf8) {
  auto server = Server(41, 10);
  server.name = "Caf\xe9";
  StartLab({server});
  const RunResult r = Run("search --json");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto list = nlohmann::json::parse(r.out);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["name"], "Caf\xEF\xBF\xBD");
}

// devsim as its own process: started with servers on the block, found by zelinctl.
TEST_F(ZelinctlProcessTest, SearchFindsTheServersOfADevsimProcess) {
  const std::string broadcast = AddressToText(block_.Broadcast());
  const std::string s1 = "type=771,serial=31,name=Alpha,ip=" + AddressToText(block_.Address(10));
  const std::string s2 = "type=8452,serial=32,ip=" + AddressToText(block_.Address(11));
  std::string ready;
  const pid_t pid = SpawnDevsim(DEVSIM_PATH, block_.Broadcast(), {s1, s2}, &ready);
  ASSERT_GE(pid, 0) << ready;
  EXPECT_NE(ready.find("ready broadcast=" + broadcast + " servers=2"), std::string::npos) << ready;

  const RunResult r = Run("search --json");
  const int status = StopChild(pid);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto list = nlohmann::json::parse(r.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["name"], "Alpha");
  EXPECT_EQ(list[1]["model"], "QX104");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace zelin::testing
