// zelinctl monitor run as a program against emulated servers on the real clock: JSON
// lines and the Prometheus file, read back with a small parser of the text format.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "monitor/core/display_items.hpp"
#include "monitor/core/monitor_file.hpp"
#include "protocol/address.hpp"
#include "tests/support/lab_support.hpp"

namespace zelin::testing {
namespace {

struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

// Parses the exposition text: comments, then `name{k="v",...} value` lines. Every sample
// must belong to a family declared by a TYPE line before it.
std::vector<Sample> ParseExposition(const std::string& text, std::string* error) {
  std::vector<Sample> samples;
  std::map<std::string, std::string> types;
  std::istringstream in(text);
  std::string line;
  static const std::regex kType(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge))");
  static const std::regex kSample(R"(([a-zA-Z_:][a-zA-Z0-9_:]*)\{(.*)\} (-?[0-9.eE+]+))");
  static const std::regex kLabel(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)",?)re");
  std::smatch m;
  while (std::getline(in, line)) {
    if (line.rfind("# HELP ", 0) == 0) continue;
    if (std::regex_match(line, m, kType)) {
      types[m[1]] = m[2];
      continue;
    }
    if (!std::regex_match(line, m, kSample) || types.count(m[1]) == 0) {
      *error = "bad line: " + line;
      return {};
    }
    Sample s{m[1], {}, std::stod(m[3])};
    const std::string labels = m[2];
    for (std::sregex_iterator it(labels.begin(), labels.end(), kLabel), end; it != end; ++it)
      s.labels[(*it)[1]] = (*it)[2];
    samples.push_back(std::move(s));
  }
  return samples;
}

TEST(ZelinctlMonitorTest, JsonLinesAndAPrometheusFileFromEmulatedServers) {
  LoopbackBlock block;
  emulator::ServerSpec a;
  a.type = 771;
  a.serial = 1;
  a.name = "Dock \"A\"";
  a.ip = block.Address(10);
  a.port_status.modem = 0x01;  // DTR only
  emulator::ServerSpec b = a;
  b.type = 9476;  // 4 ports
  b.serial = 2;
  b.name = "Quay";
  b.ip = block.Address(11);
  b.port_status.block_size = 92;
  auto lab = StartedLab(BlockLab(block, {a, b}), SystemClock());

  const std::string prom = ::testing::TempDir() + "monitor_" + std::to_string(::getpid()) + ".prom";
  const std::string cmd = std::string(ZELINCTL_PATH) + " monitor 1@" +
                          AddressToText(block.Address(10)) + "/1-2 2@" +
                          AddressToText(block.Address(11)) +
                          " --interval 1 --count 2 --json --items ip,port,state,tx_total,dtr"
                          " --prom " + prom + " --interfaces " + AddressToText(block.Interface()) +
                          " --loopback-only";
  auto run = [](const std::string& command) {
    std::FILE* p = ::popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = p != nullptr ? ::pclose(p) : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << out;
    return out;
  };
  const std::string out = run(cmd);

  // Two intervals of 2 + 4 ports.
  std::istringstream lines(out);
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(records.size(), 12u) << out;
  EXPECT_EQ(records[9]["port"], "2");
  EXPECT_EQ(records[9]["serial"], 2);
  EXPECT_EQ(records[9]["state"], "answering");
  EXPECT_EQ(records[6]["dtr"], "ON");

  std::ifstream in(prom);
  std::stringstream text;
  text << in.rdbuf();
  std::string error;
  const auto samples = ParseExposition(text.str(), &error);
  ASSERT_TRUE(error.empty()) << error;
  // `line` names the line of a modem-line sample or the state of a state sample.
  auto find = [&](const std::string& name, uint16_t serial, const std::string& port,
                  const std::string& line = "") -> const Sample* {
    for (const Sample& s : samples) {
      if (s.name != name || s.labels.at("serial") != std::to_string(serial)) continue;
      if (!port.empty() && s.labels.at("port") != port) continue;
      const std::string key = s.labels.count("state") != 0 ? "state" : "line";
      if (!line.empty() && s.labels.at(key) != line) continue;
      return &s;
    }
    return nullptr;
  };
  // The shared exposition (monitor/core/exposition.hpp): the name is in the info series
  // only, the state is a labelled series.
  ASSERT_NE(find("zelin_server_info", 1, ""), nullptr);
  EXPECT_EQ(find("zelin_server_info", 1, "")->labels.at("name"), R"(Dock \"A\")");
  EXPECT_EQ(find("zelin_server_state", 2, "", "answering")->value, 1);
  ASSERT_NE(find("zelin_port_tx_bytes_total", 2, "4"), nullptr);
  EXPECT_GT(find("zelin_port_tx_bytes_total", 2, "4")->value, 0);
  EXPECT_EQ(find("zelin_port_rx_bytes_total", 1, "3"), nullptr);  // not watched
  EXPECT_EQ(find("zelin_port_modem_line_on", 1, "2", "dtr")->value, 1);
  EXPECT_EQ(find("zelin_port_modem_line_on", 1, "2", "dcd")->value, 0);
  EXPECT_EQ(find("zelin_port_missed_samples_total", 2, "1")->value, 0);
  EXPECT_EQ(find("zelin_port_baud_rate", 1, "1")->value, 9600);
  EXPECT_NE(find("zelin_port_tx_bytes_per_second", 1, "1"), nullptr);
  // Written by replacement: no temporary file stays behind.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(::testing::TempDir()))
    files += e.path().filename().string().rfind("monitor_" + std::to_string(::getpid()), 0) == 0;
  EXPECT_EQ(files, 1u);
  std::remove(prom.c_str());

  // A monitor file: its servers, ports and columns.
  auto config = monitor::MonitorConfig::New();
  config->server_count = 1;
  config->column_mask = (1u << monitor::kItemPortNumber) | (1u << monitor::kItemBaudRate);
  config->servers[0].serial_number = 2;
  config->servers[0].ip_address = block.Address(11);
  config->servers[0].port_count = 4;
  config->servers[0].watched_mask = 0x8;
  const std::string mnt = ::testing::TempDir() + "watch_" + std::to_string(::getpid()) + ".mnt";
  ASSERT_TRUE(monitor::WriteMonitorFile(mnt, *config).ok());
  std::istringstream csv(run(std::string(ZELINCTL_PATH) + " monitor --file " + mnt +
                             " --interval 1 --count 1 --csv --loopback-only --interfaces " +
                             AddressToText(block.Interface())));
  std::string header, row, extra;
  std::getline(csv, header);
  std::getline(csv, row);
  EXPECT_EQ(header, "time,serial,port,baud");
  EXPECT_EQ(row.substr(row.find(',')), ",2,4,9600");
  EXPECT_FALSE(std::getline(csv, extra));
  std::remove(mnt.c_str());
}

TEST(ZelinctlMonitorTest, NamesThatAreNotUtf8StillMakeValidJson) {
  LoopbackBlock block;
  emulator::ServerSpec a;
  a.type = 771;
  a.serial = 7;
  a.name = "Kai\xff\xc3";  // a stray byte and a sequence cut short
  a.ip = block.Address(12);
  auto lab = StartedLab(BlockLab(block, {a}), SystemClock());
  const std::string cmd = std::string(ZELINCTL_PATH) + " monitor 7@" +
                          AddressToText(block.Address(12)) +
                          "/1 --interval 1 --count 1 --json --items name,port --interfaces " +
                          AddressToText(block.Interface()) + " --loopback-only";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  const nlohmann::json record = nlohmann::json::parse(out.substr(0, out.find('\n')));
  EXPECT_EQ(record["name"], "Kai\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(record["port"], "1");
}

}  // namespace
}  // namespace zelin::testing
