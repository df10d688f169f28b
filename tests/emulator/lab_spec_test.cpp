// Lab descriptions: the JSON lab file and the --server flag, with their errors.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "emulator/lab_spec.hpp"
#include "emulator/request_log.hpp"

namespace zelin::emulator {
namespace {

std::string Problem(const std::string& text) {
  auto parsed = ParseLabJson(text);
  if (!parsed) return parsed.error;
  return CompleteAndCheck(*parsed.value);
}

TEST(LabSpecTest, ParsesAFullLabAndFillsDefaults) {
  auto parsed = ParseLabJson(R"({
    "broadcast": "127.0.42.255", "restart_ms": 40, "seed": 9, "strict_nonce": true,
    "occupied": ["127.0.42.60", {"ip": "127.0.42.61", "hardware": "02:aa:00:00:00:01"}],
    "servers": [
      {"type": 9480, "serial": 12, "ip": "127.0.42.10", "password": "pw", "firmware": "0x02200005",
       "access": [{"ip": "127.0.42.1", "ports": 3}],
       "routes": [{"gateway": "127.0.42.1", "destination": "127.5.0.0", "netmask": "255.255.0.0"}],
       "firmware_rule": {"prefix": "5a4c", "max_size": 1000, "upgraded_version": 7},
       "faults": {"drop": 0.25, "drop_next": 2, "refuse_code": 53, "tcp_challenge": "wrong-tag"}},
      {"type": 771, "serial": 13, "ip": "127.0.42.11", "name": "East", "ports": 4,
       "port_kinds": [2, 6, 18]}
    ]})");
  ASSERT_TRUE(parsed) << parsed.error;
  LabSpec lab = *parsed.value;
  ASSERT_EQ(CompleteAndCheck(lab), "");
  EXPECT_EQ(lab.restart_ms, 40);
  EXPECT_TRUE(lab.strict_nonce);
  ASSERT_EQ(lab.servers.size(), 2u);
  const ServerSpec& a = lab.servers[0];
  EXPECT_EQ(a.firmware, 0x02200005u);
  EXPECT_EQ(a.port_count, 8);  // from the model table
  EXPECT_EQ(a.port_kinds[7], 2);
  EXPECT_EQ(a.port_kinds[8], 0);
  EXPECT_EQ(a.name, "Server 12");
  EXPECT_EQ(a.access[0].netmask, kBroadcastAddress);
  EXPECT_EQ(a.routes[0].metric, 1);
  EXPECT_EQ(a.firmware_rule.prefix, (std::vector<uint8_t>{0x5A, 0x4C}));
  EXPECT_EQ(a.faults.drop_share, 0.25);
  EXPECT_EQ(a.faults.drop_next, 2);
  EXPECT_EQ(a.faults.refuse_code, 53);
  EXPECT_EQ(a.faults.tcp_challenge, ChallengeFault::kWrongTag);
  const ServerSpec& b = lab.servers[1];
  EXPECT_EQ(b.port_count, 4);
  EXPECT_EQ(b.port_kinds[1], 6);
  EXPECT_EQ(b.port_kinds[3], 0);  // kinds given: the rest stay "not available"
  EXPECT_NE(a.hardware, b.hardware);
  EXPECT_EQ(HardwareToText(lab.occupied[1].hardware), "02:aa:00:00:00:01");
}

TEST(LabSpecTest, RefusesBadLabsWithClearMessages) {
  const std::string ok_server = R"({"type": 771, "serial": 1, "ip": "127.0.42.10"})";
  auto lab = [](const std::string& servers, const std::string& broadcast = "127.0.42.255") {
    return R"({"broadcast": ")" + broadcast + R"(", "servers": [)" + servers + "]}";
  };
  EXPECT_EQ(Problem(lab(ok_server)), "");
  EXPECT_NE(Problem(lab(R"({"type": 771, "serial": 1, "ip": "127.0.42.300"})"))
                .find("\"127.0.42.300\" is not a valid IPv4 address"),
            std::string::npos);
  EXPECT_NE(Problem(lab(R"({"type": 771, "serial": 1, "ip": "192.168.1.10"})"))
                .find("192.168.1.10 is not a loopback address"),
            std::string::npos);
  EXPECT_NE(Problem(lab(ok_server, "255.255.255.255")).find("not a loopback address"),
            std::string::npos);
  EXPECT_NE(Problem(lab(R"({"type": 1234, "serial": 1, "ip": "127.0.42.10"})"))
                .find("unknown model code 1234"),
            std::string::npos);
  EXPECT_NE(Problem(lab(R"({"type": 771, "serial": 1, "ip": "127.0.42.10", "pasword": "x"})"))
                .find("unknown key \"pasword\""),
            std::string::npos);
  EXPECT_NE(Problem(lab(ok_server + "," + ok_server)).find("already used"), std::string::npos);
  EXPECT_NE(Problem(R"({"servers": [)" + ok_server + "]}").find("broadcast"), std::string::npos);
  EXPECT_NE(Problem("{\"servers\": [").find("not valid JSON"), std::string::npos);
  EXPECT_NE(Problem(lab(R"({"type": 771, "serial": 70000, "ip": "127.0.42.10"})")).find("65535"),
            std::string::npos);
  EXPECT_NE(Problem(lab(R"({"type": 771, "serial": 1, "ip": "127.0.42.10",
                            "password": "seventeen-chars!!"})"))
                .find("16 characters"),
            std::string::npos);

  std::string many;
  for (int i = 0; i < 33; ++i) {
    if (i) many += ",";
    many += R"({"type": 771, "serial": )" + std::to_string(i) + R"(, "ip": "127.0.42.)" +
            std::to_string(10 + i) + "\"}";
  }
  EXPECT_NE(Problem(lab(many)).find("at most 32 servers"), std::string::npos);
}

// A network-namespace lab takes private-range addresses and the real broadcast, nothing
// public (whether it may start at all is the lab's own check, in tests/netns).
TEST(LabSpecTest, ANetworkNamespaceLabTakesOnlyPrivateAddresses) {
  auto lab = [](const std::string& ip, const std::string& broadcast = "") {
    return R"({"network_namespace": true, )" +
           (broadcast.empty() ? std::string() : R"("broadcast": ")" + broadcast + R"(", )") +
           R"("servers": [{"type": 771, "serial": 1, "ip": ")" + ip + R"("}]})";
  };
  EXPECT_EQ(Problem(lab("10.77.1.10")), "");
  EXPECT_EQ(Problem(lab("172.31.0.5", "255.255.255.255")), "");
  EXPECT_EQ(Problem(lab("192.168.7.7")), "");
  EXPECT_NE(Problem(lab("172.32.0.5")).find("not a private-range address"), std::string::npos);
  EXPECT_NE(Problem(lab("8.8.8.8")).find("not a private-range address"), std::string::npos);
  EXPECT_NE(Problem(lab("10.77.1.10", "10.77.1.255")).find("255.255.255.255"), std::string::npos);
}

TEST(LabSerialPorts, KeysAndTheirLimits) {
  const auto serial = [](const std::string& ports, const std::string& more = "") {
    return Problem(R"({"broadcast": "127.0.42.255", "servers": [{"type": 9480, "serial": 1,
        "ip": "127.0.42.10")" + more + R"(, "serial_ports": )" + ports + "}]}");
  };
  EXPECT_EQ(serial(R"({"mode": "raw", "base": 5001, "pairs": [[1, 2], [8, 3]]})"), "");
  EXPECT_NE(serial(R"({"base": 3995})").find("include the command port 4000"), std::string::npos);
  EXPECT_NE(serial(R"({"base": 65530})").find("no room for 8 ports"), std::string::npos);
  EXPECT_EQ(serial(R"({"mode": "off", "base": 65530})"), "");
  EXPECT_NE(serial(R"({"pairs": [[1, 9]]})").find("1..8"), std::string::npos);
  EXPECT_NE(serial(R"({"pairs": [[1, 4]]})", R"(, "ports": 2)").find("1..2"), std::string::npos);
  EXPECT_NE(serial(R"({"pairs": [[1, 2], [2, 3]]})").find("one pair at most"), std::string::npos);
  EXPECT_NE(serial(R"({"mode": "telnet"})").find("\"rfc2217\", \"raw\""), std::string::npos);
  const auto flag = ParseServerFlag("type=9480,serial=2,ip=127.0.42.11,serial_mode=raw,serial_base=6001");
  ASSERT_TRUE(flag) << flag.error;
  EXPECT_EQ(flag.value->serial_ports.mode, SerialMode::kRaw);
  EXPECT_EQ(flag.value->serial_ports.base, 6001);
}

TEST(LabSpecTest, ServerFlag) {
  auto s = ParseServerFlag(
      "type=776,serial=5,ip=127.0.42.10,password=secret,firmware=0x1234,"
      "name=Dock,kinds=02020606");
  ASSERT_TRUE(s) << s.error;
  EXPECT_EQ(s.value->type, 776);
  EXPECT_EQ(s.value->serial, 5);
  EXPECT_EQ(s.value->password, "secret");
  EXPECT_EQ(s.value->firmware, 0x1234u);
  EXPECT_EQ(s.value->name, "Dock");
  EXPECT_EQ(s.value->port_kinds[2], 6);
  EXPECT_FALSE(ParseServerFlag("type=776,serial=5"));  // no address
  EXPECT_NE(ParseServerFlag("type=776,serial").error.find("key=value"), std::string::npos);
  EXPECT_NE(ParseServerFlag("type=x,serial=1,ip=127.0.0.2").error.find("type"), std::string::npos);
}

// Hostile text is refused with a message, never an exception out of the parser (which
// would end devsim): a number beyond every integer type, and a flag value that is not
// UTF-8 (shown in the message with replacement characters).
TEST(LabSpecTest, RefusesHostileTextWithoutThrowing) {
  EXPECT_NE(Problem(std::string("[2e571\xd2.\0\0\0\0}\n", 14)).find("not valid JSON"),
            std::string::npos);
  EXPECT_NE(Problem(R"({"seed": 1e400})").find("not valid JSON"), std::string::npos);
  const auto flag = ParseServerFlag("type=771,serial=46\xff\xff,ip=127.0.0.2");
  EXPECT_FALSE(flag);
  EXPECT_NE(flag.error.find("serial"), std::string::npos);
  // A key that holds an object elsewhere, given as text and then reached into by another key
  // (the fuzzer's find), and keys that only a lab file can give.
  for (const char* text : {"type=771,serial=1,ip=127.0.0.2,serial_ports=x,serial_base=6001",
                           "type=771,serial=1,ip=127.0.0.2,port_status=1,block=94",
                           "type=771,serial=1,ip=127.0.0.2,faults=drop"}) {
    const auto nested = ParseServerFlag(text);
    EXPECT_FALSE(nested) << text;
    EXPECT_NE(nested.error.find("unknown key"), std::string::npos) << nested.error;
  }
}

TEST(LabSpecTest, LogLinesAreJson) {
  LogEntry e;
  e.server = "5";
  e.from = "127.0.0.1:1028";
  e.code = 0x41;
  e.length = 26;
  e.sequence = 3;
  e.verdict = "refused:digest";
  e.status = 6;
  e.hex = HexOf(std::vector<uint8_t>{0x41, 0x00});
  const auto j = nlohmann::json::parse(e.ToJson());
  EXPECT_EQ(j["server"], "5");
  EXPECT_EQ(j["code"], 0x41);
  EXPECT_EQ(j["sequence"], 3);
  EXPECT_EQ(j["status"], 6);
  EXPECT_EQ(j["hex"], "4100");
  e.status = -1;
  EXPECT_TRUE(nlohmann::json::parse(e.ToJson())["status"].is_null());
}

}  // namespace
}  // namespace zelin::emulator
