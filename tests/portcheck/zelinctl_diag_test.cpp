// zelinctl diag as a separate process against an in-process lab on the real clock
// (zelinctl waits the product's real times): the report, the JUnit file and the exit
// status, from server addresses and from a test configuration file.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

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

}  // namespace
}  // namespace zelin::portcheck
