// The exporter's answers without HTTP: the request parser, the 64-bit carry of the
// device's counters, and Exporter::Handle against emulated servers and a hostile peer
// on the test's own loopback block.

#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "exporter/core/exporter.hpp"
#include "exporter/core/probe_request.hpp"
#include "exporter/core/target_list.hpp"
#include "monitor/core/exposition.hpp"
#include "monitor/core/monitor_file.hpp"
#include "platform/text_format.hpp"
#include "protocol/address.hpp"
#include "protocol/wire.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/udp_peer.hpp"

namespace zelin::testing {
namespace {

using exporter::Exporter;
using exporter::ExporterOptions;
using exporter::HttpAnswer;

// The value of the sample `line` starts with (name and labels as written), or -1.
double Value(const std::string& body, const std::string& series) {
  const size_t at = body.find("\n" + series + " ");
  if (at == std::string::npos) return -1;
  return std::stod(body.substr(at + series.size() + 2));
}

TEST(ExporterRequestTest, MalformedTargetsAndQueriesAreRefusedWithAReason) {
  std::string error;
  const auto ok = exporter::ParseRequestTarget("/probe?target=127.0.0.9&ports=1%2C3-4", &error);
  ASSERT_TRUE(ok) << error;
  const auto probe = exporter::ParseProbeRequest(*ok, &error);
  ASSERT_TRUE(probe) << error;
  EXPECT_EQ(probe->address, *ParseHostAddress("127.0.0.9"));
  EXPECT_EQ(probe->ports, 0b1101u);

  for (const char* bad : {"/probe?target=127.0.0.9%", "/probe?target=127.0.0.9%4", "/probe?t%zz=1",
                          "probe?target=1.2.3.4", "/probe?target=1.2.3.4#x", "/pro be",
                          "/probe?target=1.2.3.4%00", "/\x80"}) {
    error.clear();
    EXPECT_FALSE(exporter::ParseRequestTarget(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_FALSE(exporter::ParseRequestTarget("/" + std::string(3000, 'a'), &error));
  for (const char* bad :
       {"/probe", "/probe?target=", "/probe?target=1.2.3", "/probe?target=1.2.3.4.5",
        "/probe?target=1.2.3.400", "/probe?target=1.2.3.4&target=1.2.3.5",
        "/probe?target=1.2.3.4&ports=0", "/probe?target=1.2.3.4&ports=17",
        "/probe?target=1.2.3.4&ports=4-2", "/probe?target=1.2.3.4&ports=",
        "/probe?target=1.2.3.4&ports=1,,2", "/probe?target=1.2.3.4&ports=1&ports=2",
        "/probe?target=1.2.3.4&password=secret", "/probe?target=1.2.3.4&module=x"}) {
    const auto t = exporter::ParseRequestTarget(bad, &error);
    ASSERT_TRUE(t) << bad;
    error.clear();
    EXPECT_FALSE(exporter::ParseProbeRequest(*t, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_EQ(exporter::ParseScrapeTimeout("2.5"), 2.5);
  for (const char* bad : {"", "0", "-1", "nan", "inf", "1e9", "3s", "1.2.3"})
    EXPECT_FALSE(exporter::ParseScrapeTimeout(bad)) << bad;
}

TEST(CounterCarryTest, WrapsAndRestartsKeepTheTotalGrowing) {
  monitor::CounterCarry c;
  EXPECT_EQ(c.Update(1000, 60000, 0), 1000u);           // starts at the device's value
  EXPECT_EQ(c.Update(0xFFFFFF00u, 61000, 1000), 0xFFFFFF00u);
  EXPECT_EQ(c.Update(0x100, 62000, 1000), 0x100000100u);  // a wrap: 0x200 more
  // The server restarted: its clock went back to 5 s and its counter to 300.
  EXPECT_EQ(c.Update(300, 5000, 3000), 0x100000100u + 300u);
  EXPECT_EQ(c.restarts(), 1u);
  // The device's own millisecond clock wrapping (49.7 days) is no restart.
  monitor::CounterCarry d;
  d.Update(10, 0xFFFFF000u, 0);
  EXPECT_EQ(d.Update(20, 0x100, 5000), 20u);
  EXPECT_EQ(d.restarts(), 0u);
}

TEST(ExpositionTest, LabelValuesAreValidUtf8AndEscaped) {
  monitor::ServerSample s;
  s.serial = 7;
  s.name = "Kai \xE4 \"N\"\\\n";  // a legacy code page byte, quotes, backslash, line feed
  s.state = monitor::kStateAnswered;
  const std::string text = monitor::WriteExposition({s});
  EXPECT_NE(text.find(R"(name="Kai )" "\xEF\xBF\xBD" R"( \"N\"\\\n")"), std::string::npos) << text;
  EXPECT_EQ(ValidUtf8(text), text);
  EXPECT_NE(text.find("zelin_server_state{serial=\"7\",state=\"answering\"} 1"), std::string::npos);
  EXPECT_NE(text.find("zelin_server_state{serial=\"7\",state=\"silent\"} 0"), std::string::npos);
}

TEST(TargetListTest, ListsAndPasswordFiles) {
  const auto list = exporter::ParseTargetList("# site A\n127.0.0.10 1201 ports=1-8\n\n127.0.0.11\r\n");
  ASSERT_TRUE(list) << list.status();
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[0].serial, 1201);
  EXPECT_EQ((*list)[0].ports, 0xFFu);
  EXPECT_FALSE((*list)[1].serial);
  const auto bad = exporter::ParseTargetList("127.0.0.10\n127.0.0.300\n");
  ASSERT_FALSE(bad);
  EXPECT_NE(bad.status().message().find("line 2"), std::string::npos);
  EXPECT_FALSE(exporter::ParseTargetList("127.0.0.10 1 2\n"));

  const std::string path = ::testing::TempDir() + "passwords_" + std::to_string(::getpid());
  {
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("# per server\n127.0.0.10 harbour quay\n", f);
    std::fclose(f);
  }
  ::chmod(path.c_str(), 0644);
  EXPECT_TRUE(exporter::ReadPasswordFile(path).status().Is(exporter::ListError::kUnsafeMode));
  ::chmod(path.c_str(), 0600);
  const auto passwords = exporter::ReadPasswordFile(path);
  ASSERT_TRUE(passwords) << passwords.status();
  EXPECT_EQ(passwords->at(*ParseHostAddress("127.0.0.10")), "harbour quay");
  std::remove(path.c_str());

  // A monitor file: its watched servers with their serial numbers and ports.
  auto config = monitor::MonitorConfig::New();
  config->server_count = 1;
  config->servers[0].serial_number = 3307;
  config->servers[0].ip_address = *ParseHostAddress("127.0.0.12");
  config->servers[0].port_count = 8;
  config->servers[0].watched_mask = 0x81;
  const std::string mnt = path + ".mnt";
  ASSERT_TRUE(monitor::WriteMonitorFile(mnt, *config).ok());
  const auto watched = exporter::ReadTargetList(mnt);
  ASSERT_TRUE(watched) << watched.status();
  ASSERT_EQ(watched->size(), 1u);
  EXPECT_EQ((*watched)[0].serial, 3307);
  EXPECT_EQ((*watched)[0].ports, 0x81u);
  std::remove(mnt.c_str());
}

class ExporterLabTest : public ::testing::Test {
 protected:
  ExporterOptions Options() const {
    ExporterOptions o;
    o.source = block_.Interface();
    o.loopback_only = true;
    o.timeout_offset_s = 0;
    return o;
  }
  LoopbackBlock block_;
};

TEST_F(ExporterLabTest, ProbesAnswerTheMonitorsRecordsAndFailuresAreProbesThatFailed) {
  emulator::ServerSpec a;
  a.type = 771;  // 16 ports
  a.serial = 1201;
  a.name = "Dock North";
  a.ip = block_.Address(10);
  emulator::ServerSpec b = a;
  b.type = 9476;  // 4 ports, short blocks
  b.serial = 3307;
  b.name = "Quay";
  b.ip = block_.Address(11);
  b.port_status.block_size = 92;
  b.port_status.silent = true;
  auto lab = StartedLab(BlockLab(block_, {a, b}), SystemClock());

  ExporterOptions o = Options();
  o.targets = {{block_.Address(12), 9999, std::nullopt}, {block_.Address(10), 1201, 0x3u}};
  Exporter ex(o, SystemClock());
  const std::string a_ip = AddressToText(block_.Address(10));

  // The listed ports (1-2) of the listed server.
  HttpAnswer r = ex.Handle("GET", "/probe?target=" + a_ip, "5");
  ASSERT_EQ(r.status, 200) << r.body;
  EXPECT_EQ(Value(r.body, "zelin_probe_success"), 1) << r.body;
  EXPECT_NE(r.body.find("zelin_server_info{serial=\"1201\",address=\"" + a_ip +
                        "\",name=\"Dock North\",model=\"VR-13\""),
            std::string::npos)
      << r.body;
  const double tx = Value(r.body, "zelin_port_tx_bytes_total{serial=\"1201\",port=\"2\"}");
  EXPECT_GT(tx, 0);
  EXPECT_EQ(Value(r.body, "zelin_port_tx_bytes_total{serial=\"1201\",port=\"3\"}"), -1);
  EXPECT_EQ(Value(r.body, "zelin_port_connection_state{serial=\"1201\",port=\"1\",state=\"connected\"}"), 1);
  // Ports asked in the query; the totals only grow from probe to probe.
  r = ex.Handle("GET", "/probe?target=" + a_ip + "&ports=2,16", "5");
  EXPECT_EQ(Value(r.body, "zelin_probe_success"), 1);
  EXPECT_GE(Value(r.body, "zelin_port_tx_bytes_total{serial=\"1201\",port=\"2\"}"), tx);
  EXPECT_GT(Value(r.body, "zelin_port_rx_bytes_total{serial=\"1201\",port=\"16\"}"), 0);

  // A server that answers the search but not the status queries: silent, within the
  // deadline of the scrape.
  r = ex.Handle("GET", "/probe?target=" + AddressToText(block_.Address(11)), "1.5");
  EXPECT_EQ(Value(r.body, "zelin_probe_success"), 0) << r.body;
  EXPECT_EQ(Value(r.body, "zelin_server_state{serial=\"3307\",state=\"silent\"}"), 1);
  // Nobody at the address.
  r = ex.Handle("GET", "/probe?target=" + AddressToText(block_.Address(13)), "1");
  EXPECT_EQ(Value(r.body, "zelin_probe_success"), 0);
  EXPECT_EQ(r.body.find("zelin_server_info"), std::string::npos);
  // Outside loopback, a bad query, a wrong method: error answers, failed probes.
  EXPECT_EQ(ex.Handle("GET", "/probe?target=192.0.2.1", "1").status, 400);
  EXPECT_EQ(ex.Handle("GET", "/probe?target=" + a_ip + "&ports=99", "1").status, 400);
  EXPECT_EQ(ex.Handle("GET", "/probe?target=" + a_ip, "soon").status, 400);
  EXPECT_EQ(ex.Handle("GET", "/probe?target=%", "1").status, 400);
  EXPECT_EQ(ex.Handle("POST", "/metrics", "").status, 405);
  EXPECT_EQ(ex.Handle("GET", "/nothing", "").status, 404);

  const std::string m = ex.Handle("GET", "/metrics", "").body;
  EXPECT_EQ(Value(m, "zelin_exporter_probes_total"), 8) << m;
  EXPECT_EQ(Value(m, "zelin_exporter_probe_failures_total{reason=\"bad_request\"}"), 3);
  EXPECT_EQ(Value(m, "zelin_exporter_probe_failures_total{reason=\"refused\"}"), 1);
  EXPECT_EQ(Value(m, "zelin_exporter_probe_failures_total{reason=\"no_status\"}"), 1);
  EXPECT_EQ(Value(m, "zelin_exporter_probe_failures_total{reason=\"no_answer\"}"), 1);
  EXPECT_EQ(Value(m, "zelin_exporter_servers_known"), 3);  // two listed, one found
  EXPECT_EQ(Value(m, "zelin_exporter_probe_duration_seconds_count"), 8);

  const HttpAnswer t = ex.Handle("GET", "/targets", "");
  EXPECT_EQ(t.content_type, "application/json");
  EXPECT_NE(t.body.find("\"targets\":[\"" + a_ip + "\"]"), std::string::npos) << t.body;
}

TEST_F(ExporterLabTest, AnotherSerialAtAListedAddressIsAConflict) {
  emulator::ServerSpec a;
  a.type = 771;
  a.serial = 1202;
  a.ip = block_.Address(10);
  auto lab = StartedLab(BlockLab(block_, {a}), SystemClock());
  ExporterOptions o = Options();
  o.targets = {{block_.Address(10), 1201, std::nullopt}};
  Exporter ex(o, SystemClock());
  const HttpAnswer r = ex.Handle("GET", "/probe?target=" + AddressToText(block_.Address(10)), "3");
  EXPECT_EQ(Value(r.body, "zelin_probe_success"), 0);
  EXPECT_EQ(Value(r.body, "zelin_server_state{serial=\"1202\",state=\"address_conflict\"}"), 1)
      << r.body;
}

// A server that restarts counts its bytes from zero again; the exporter's totals go on
// growing, so rate() sees no reset.
TEST_F(ExporterLabTest, TotalsKeepGrowingAcrossARestartOfTheServer) {
  emulator::ServerSpec a;
  a.type = 771;
  a.serial = 1201;
  a.ip = block_.Address(10);
  auto desc = BlockLab(block_, {a});
  desc.restart_ms = 300;
  auto lab = StartedLab(desc, SystemClock());
  Exporter ex(Options(), SystemClock());
  const std::string probe = "/probe?target=" + AddressToText(block_.Address(10)) + "&ports=1";
  const std::string series = "zelin_port_tx_bytes_total{serial=\"1201\",port=\"1\"}";
  const std::string uptime = "zelin_server_uptime_seconds{serial=\"1201\"}";
  HttpAnswer r = ex.Handle("GET", probe, "5");
  const double before = Value(r.body, series);
  const double up_before = Value(r.body, uptime);
  ASSERT_GT(before, 0) << r.body;
  ASSERT_TRUE(lab->Restart(1201));
  // Until it answers again with its clock started anew (generous: a loaded machine).
  double after = -1, up_after = -1;
  for (int i = 0; i < 100 && !(up_after >= 0 && up_after < up_before); ++i) {
    r = ex.Handle("GET", probe, "1");
    after = Value(r.body, series);
    up_after = Value(r.body, uptime);
  }
  ASSERT_GE(up_after, 0) << r.body;
  ASSERT_LT(up_after, up_before) << r.body;  // the device's own counters started again
  EXPECT_GE(after, before) << r.body;
}

// A peer that answers the search properly and the status queries with hostile bytes.
TEST_F(ExporterLabTest, HostileStatusRepliesFailTheProbeAndNeverCrash) {
  UdpPeer peer(block_.Address(10), wire::kServerUdpPort);
  std::mt19937 random(27);
  int round = 0;
  peer.Serve([&](const PeerDatagram& d) -> std::vector<std::vector<uint8_t>> {
    if (d.bytes.empty()) return {};
    if (d.bytes[0] == wire::kSearch) {
      std::vector<uint8_t> r(wire::kSearchReplySize, 0);
      r[wire::kOffCode] = wire::kSearch | wire::kReplyBit;
      PutBe16(r, wire::kOffLength, static_cast<uint16_t>(r.size()));
      PutLe16(r, wire::kSrDeviceType, 771);
      PutLe16(r, wire::kSrSerial, 44);
      for (size_t i = 0; i < 30; ++i) r[wire::kSrName + i] = static_cast<uint8_t>(0x80 + i);
      return {r};
    }
    // Status replies: every length, echoed places that name ports out of range or
    // twice, blocks cut short, error statuses, random bytes.
    std::vector<std::vector<uint8_t>> out;
    for (int k = 0; k < 6; ++k) {
      std::vector<uint8_t> r(random() % 420);
      for (auto& b : r) b = static_cast<uint8_t>(random());
      if (r.size() > 22 && k % 2 == 0) {
        r[0] = wire::kQueryPorts | wire::kReplyBit;
        r[1] = static_cast<uint8_t>(k == 4 ? 6 : 0);
        PutLe16(r, wire::kReplySerial, 44);
        // Places out of range or repeated, but never port 16, so no probe is complete.
        for (size_t p = 0; p < 4; ++p)
          r[wire::kQueryReplyPlaces + p] =
              static_cast<uint8_t>(random() % 2 == 0 ? random() % 15 : 16 + random() % 240);
      }
      out.push_back(std::move(r));
    }
    ++round;
    return out;
  });
  Exporter ex(Options(), SystemClock());
  for (int i = 0; i < 5; ++i) {
    const HttpAnswer r =
        ex.Handle("GET", "/probe?target=" + AddressToText(block_.Address(10)), "0.6");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(ValidUtf8(r.body), r.body);
    EXPECT_EQ(Value(r.body, "zelin_probe_success"), 0) << r.body;
  }
  peer.Stop();
  EXPECT_GT(round, 0);
}

}  // namespace
}  // namespace zelin::testing
