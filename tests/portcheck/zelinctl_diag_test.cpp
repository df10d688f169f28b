// zelinctl diag as a separate process against an in-process lab on the real clock
// (zelinctl waits the product's real times): the report, the JUnit file and the exit
// status, from server addresses and from a test configuration file.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#if ZELIN_TEST_QT_XML
#include <QString>
#include <QXmlStreamReader>
#endif

#include "portcheck/core/diag_config.hpp"
#include "protocol/address.hpp"
#include "tests/support/lab_support.hpp"
#include "tests/support/loopback.hpp"

namespace zelin::portcheck {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

#if ZELIN_TEST_QT_XML
// The JUnit file read by an XML parser: per test case "classname|name", with
// "|failure:MESSAGE" or "|error:MESSAGE"; and the totals of <testsuites>.
struct JUnit {
  std::vector<std::string> cases;
  std::string totals;  // "tests failures errors"
  std::string error;   // the parser's complaint, if any
};
std::string Dashed(std::string text) {
  std::replace(text.begin(), text.end(), '.', '_');
  return text;
}
JUnit ParseJUnit(const std::string& xml) {
  JUnit out;
  QXmlStreamReader r(QByteArray::fromStdString(xml));
  auto attr = [&r](const char* name) {
    return r.attributes().value(QString::fromLatin1(name)).toString().toStdString();
  };
  while (!r.atEnd()) {
    if (r.readNext() != QXmlStreamReader::StartElement) continue;
    const std::string element = r.name().toString().toStdString();
    if (element == "testsuites") {
      const std::string errors = attr("errors");
      out.totals = attr("tests") + " " + attr("failures") + " " + (errors.empty() ? "0" : errors);
    } else if (element == "testcase") {
      out.cases.push_back(attr("classname") + "|" + attr("name"));
    } else if ((element == "failure" || element == "error") && !out.cases.empty()) {
      out.cases.back() += "|" + element + ":" + attr("message");
    }
  }
  if (r.hasError()) out.error = r.errorString().toStdString();
  return out;
}
#endif

class ZelinctlDiagTest : public ::testing::Test {
 protected:
  // A four-port server whose ports 1-2 and 3-4 are wired together.
  emulator::ServerSpec Server(uint16_t serial, uint8_t host) {
    emulator::ServerSpec s;
    s.type = 771;
    s.serial = serial;
    s.name = "Rack " + std::to_string(serial);
    s.ip = block_.Address(host);
    s.port_count = 4;
    s.diag.pairs = {{0, 1}, {2, 3}};
    s.diag.step_ms = 2;
    return s;
  }
  int Run(const std::string& args, std::string* out) {
    const std::string cmd = std::string(ZELINCTL_PATH) + " diag " + args + " --quiet --interfaces " +
                            AddressToText(block_.Interface()) + " --loopback-only 2>&1";
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out->append(buf, n);
    const int status = ::pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // A test configuration file of `servers` (internal test of ports 1 and 2 only).
  std::string WriteConfig(const std::vector<std::pair<emulator::ServerSpec, std::string>>& servers) {
    DiagConfig config = DiagConfig::Defaults();
    config.test_flags = kTestInternal;
    for (const auto& [server, name] : servers) {
      ServerImage image;
      PutLe16(image.bytes, wire::kSrDeviceType, server.type);
      PutLe16(image.bytes, wire::kSrSerial, server.serial);
      PutIpv4(image.bytes, wire::kSrIpAddress, server.ip);
      image.bytes[wire::kSrPortCount] = 4;
      std::copy(name.begin(), name.end(), image.bytes.begin() + wire::kSrName);
      ServerTestSettings settings;
      settings.port_mask = 0x3;
      config.AddServer(image, settings);
    }
    const std::string cfg = Temp("ZELIN_" + std::to_string(servers.front().first.serial) + ".CFG");
    const DiagImage bytes = EncodeDiagConfig(config);
    std::ofstream(cfg, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return cfg;
  }
  std::string Temp(const std::string& name) {
    return ::testing::TempDir() + "/" + name + "_" + std::to_string(::getpid());
  }

  testing::LoopbackBlock block_;
};

TEST_F(ZelinctlDiagTest, ReportJUnitAndExitStatus) {
  emulator::ServerSpec good = Server(61, 10), bad = Server(62, 11);
  bad.diag.failures = {{wire::kItemExternal, wire::kSubRtsCts, 2, 31}};
  auto lab = testing::StartedLab(testing::BlockLab(block_, {good, bad}), SystemClock());

  const std::string junit = Temp("diag_junit.xml");
  std::string out;
  EXPECT_EQ(Run(AddressToText(good.ip) + " " + AddressToText(bad.ip) + " --junit " + junit, &out), 1)
      << out;
  EXPECT_NE(out.find("Rack 62"), std::string::npos) << out;
  EXPECT_NE(out.find("Port A RTS off but Port B CTS on"), std::string::npos) << out;
  const std::string xml = ReadFile(junit);
  // Per server: 4 internal steps, 2 pairs x (find, Tx/Rx, DTR/DSR, RTS/CTS).
  EXPECT_NE(xml.find("<testsuites name=\"zelinctl diag\" tests=\"24\" failures=\"1\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("name=\"port 3 - 4 RTS/CTS test\">\n      <failure message=\"E031 Port A RTS "
                     "off but Port B CTS on\"/>"),
            std::string::npos)
      << xml;
#if ZELIN_TEST_QT_XML
  // The same read by an XML parser; no class name holds a dot.
  const JUnit j = ParseJUnit(xml);
  EXPECT_EQ(j.error, "");
  EXPECT_EQ(j.totals, "24 1 0");
  const std::string failed = "Rack 62 (" + Dashed(AddressToText(bad.ip)) +
                             ")|port 3 - 4 RTS/CTS test|failure:E031 Port A RTS off but Port B CTS on";
  EXPECT_NE(std::find(j.cases.begin(), j.cases.end(), failed), j.cases.end());
  for (const std::string& c : j.cases) EXPECT_EQ(c.substr(0, c.find('|')).find('.'), std::string::npos) << c;
#endif

  // The same good server from a test configuration file: every test passes.
  DiagConfig config = DiagConfig::Defaults();
  ServerImage image;
  PutLe16(image.bytes, wire::kSrDeviceType, good.type);
  PutLe16(image.bytes, wire::kSrSerial, good.serial);
  PutIpv4(image.bytes, wire::kSrIpAddress, good.ip);
  ServerTestSettings settings;
  settings.port_mask = 0xF;
  config.AddServer(image, settings);
  const std::string cfg = Temp("ZELIN.CFG"), report = Temp("diag_report.txt");
  const DiagImage bytes = EncodeDiagConfig(config);
  std::ofstream(cfg, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  out.clear();
  EXPECT_EQ(Run("--config " + cfg + " --report " + report, &out), 0) << out;
  EXPECT_NE(ReadFile(report).find("Test Time"), std::string::npos);
  std::remove(junit.c_str());
  std::remove(cfg.c_str());
  std::remove(report.c_str());
}


// A server that falls silent (the silence limit ends it) and one that closes the
// connection part way fail with their reason in the screen output, the text report
// (compared byte for byte) and the JUnit file (an <error> of the server); a name with
// bytes that are not UTF-8, markup and a dot still gives well-formed XML and class
// names without dots.
TEST_F(ZelinctlDiagTest, SilentAndLostServersShowInEveryReport) {
  emulator::ServerSpec silent = Server(71, 10), lost = Server(72, 11), good = Server(73, 12);
  silent.diag.stop_after = 3;  // controller step, port 1 progress, port 1 result
  lost.diag.close_after = 5;   // ... port 2 progress, port 2 result
  auto lab = testing::StartedLab(testing::BlockLab(block_, {silent, lost, good}), SystemClock());
  const std::string odd = "Rack\xff<1>.A";
  const std::string cfg = WriteConfig({{silent, odd}, {lost, "Rack 72"}, {good, "Rack 73"}});
  const std::string report = Temp("faults_report.txt"), junit = Temp("faults_junit.xml");
  std::string out;
  EXPECT_EQ(Run("--config " + cfg + " --timeout 1 --report " + report + " --junit " + junit, &out), 1) << out;
  EXPECT_NE(out.find(odd + " no report for 1 s!"), std::string::npos) << out;
  EXPECT_NE(out.find("Rack 72 connection lost!"), std::string::npos) << out;

  const std::string text = ReadFile(report);
  const size_t time_at = text.rfind("(Test Time : ");
  ASSERT_NE(time_at, std::string::npos) << text;
  const std::string ip10 = AddressToText(silent.ip), ip11 = AddressToText(lost.ip), ip12 = AddressToText(good.ip);
  auto head = [](const std::string& name, const std::string& ip) {
    return "\r\nZelin Server " + name + " (" + ip +
           ")\r\nFirmware version = 0.00\r\nCommunication parameter=38400 NONE 8 1\r\n\r\n"
           "Internal LoopBack Test                \r\n===========================\r\n"
           "                [Tx/Rx]\r\n";
  };
  const std::string expected =
      head(odd, ip10) + "    Port 1       OK\r\n\r\n\r\nServer stopped reporting!\r\n" +
      head("Rack 72", ip11) + "    Port 1       OK\r\n    Port 2       OK\r\n\r\n\r\nConnection lost!\r\n" +
      head("Rack 73", ip12) + "    Port 1       OK\r\n    Port 2       OK\r\n\r\n\r\n\r\n" +
      text.substr(time_at);
  EXPECT_EQ(text, expected);

#if ZELIN_TEST_QT_XML
  const JUnit j = ParseJUnit(ReadFile(junit));
  EXPECT_EQ(j.error, "");
  const std::string c10 = "Rack\xEF\xBF\xBD<1>_A (" + Dashed(ip10) + ")";
  const std::string c11 = "Rack 72 (" + Dashed(ip11) + ")", c12 = "Rack 73 (" + Dashed(ip12) + ")";
  EXPECT_EQ(j.cases, (std::vector<std::string>{
                         c10 + "|port 1 Internal test", c10 + "|end of test|error:no report for 1 s",
                         c11 + "|port 1 Internal test", c11 + "|port 2 Internal test",
                         c11 + "|end of test|error:connection lost before the end of the test",
                         c12 + "|port 1 Internal test", c12 + "|port 2 Internal test"}));
  EXPECT_EQ(j.totals, "7 0 2");
#endif
  std::remove(cfg.c_str());
  std::remove(report.c_str());
  std::remove(junit.c_str());
}

// SIGTERM while a server is reporting acts as Cancel: the program ends soon, writes
// both reports with what was gathered, the servers not finished as "interrupted"
// errors, and exits with 1. The time from the signal to the exit is printed.
TEST_F(ZelinctlDiagTest, SigtermWritesTheReportsWithWhatWasGathered) {
  emulator::ServerSpec good = Server(81, 10), silent = Server(82, 11), later = Server(83, 12);
  silent.diag.stop_after = 3;
  auto lab = testing::StartedLab(testing::BlockLab(block_, {good, silent, later}), SystemClock());
  const std::string cfg = WriteConfig({{good, "Rack 81"}, {silent, "Rack 82"}, {later, "Rack 83"}});
  const std::string report = Temp("term_report.txt"), junit = Temp("term_junit.xml"), log = Temp("term_out.txt");
  const std::string interfaces = AddressToText(block_.Interface());
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execl(ZELINCTL_PATH, ZELINCTL_PATH, "diag", "--config", cfg.c_str(), "--report", report.c_str(),
            "--junit", junit.c_str(), "--quiet", "--interfaces", interfaces.c_str(), "--loopback-only",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until the silent server has its diagnose command and has sent its reports.
  bool diagnosing = false;
  for (int i = 0; i < 6000 && !diagnosing; ++i) {
    const auto st = lab->Snapshot(82);
    diagnosing = st && st->diagnoses > 0;
    if (!diagnosing) SystemClock().SleepMs(10);
  }
  ASSERT_TRUE(diagnosing);
  SystemClock().SleepMs(300);  // its three reports are 20 ms apart
  const auto sent = std::chrono::steady_clock::now();
  ::kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent).count();
  std::printf("[ measured ] SIGTERM to zelinctl's exit: %.1f ms\n", ms);
  RecordProperty("sigterm_to_exit_ms", static_cast<int>(ms));
  ASSERT_TRUE(WIFEXITED(status)) << ReadFile(log);
  EXPECT_EQ(WEXITSTATUS(status), 1) << ReadFile(log);
  EXPECT_NE(ReadFile(log).find("the test run was cancelled"), std::string::npos) << ReadFile(log);

  const std::string text = ReadFile(report);
  EXPECT_NE(text.find("Rack 82 (" + AddressToText(silent.ip) +
                      ")\r\nFirmware version = 0.00\r\nCommunication parameter=38400 NONE 8 1\r\n\r\n"
                      "Internal LoopBack Test                \r\n===========================\r\n"
                      "                [Tx/Rx]\r\n    Port 1       OK\r\n\r\n\r\nInterrupted!\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Rack 83 (" + AddressToText(later.ip) +
                      ")\r\nFirmware version = 0.00\r\nCommunication parameter=38400 NONE 8 1\r\n\r\n"
                      "Interrupted!\r\n"),
            std::string::npos)
      << text;
#if ZELIN_TEST_QT_XML
  const JUnit j = ParseJUnit(ReadFile(junit));
  EXPECT_EQ(j.error, "");
  EXPECT_EQ(j.totals, "5 0 2");  // 2 passed, 1 + error, error
  int interrupted = 0;
  for (const std::string& c : j.cases) interrupted += c.ends_with("|end of test|error:interrupted");
  EXPECT_EQ(interrupted, 2);
#endif
  std::remove(cfg.c_str());
  std::remove(report.c_str());
  std::remove(junit.c_str());
  std::remove(log.c_str());
}

}  // namespace
}  // namespace zelin::portcheck
