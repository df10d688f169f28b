// The real path: zelin-exporter as a program against emulated servers on the test's
// loopback block, checked by promtool and scraped by a Prometheus server of the test's
// own (Debian's `prometheus`, on a loopback address with a temporary data folder and
// the example configuration from packaging/exporter/ pointed at them). What the test asks
// Prometheus's HTTP API is what an administrator will see.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "platform/text_format.hpp"
#include "protocol/address.hpp"
#include "tests/exporter/process_util.hpp"
#include "tests/support/lab_support.hpp"

namespace zelin::testing {
namespace {

namespace fs = std::filesystem;

const std::string kPackaging = std::string(ZELIN_SOURCE_DIR) + "/packaging/exporter/";

bool Have(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Replaces every `from` in `text`; fails the test when there is none.
void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << "the example no longer holds " << from;
  for (; at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

class TempFolder {
 public:
  TempFolder() {
    path_ = fs::path(::testing::TempDir()) / ("zelin_exporter_" + std::to_string(::getpid()) + "_" +
                                             std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

// The exporter on the block's address 2, any free port.
struct RunningExporter {
  explicit RunningExporter(const LoopbackBlock& block, std::vector<std::string> extra = {})
      : host(AddressToText(block.Address(2))) {
    std::vector<std::string> argv = {ZELIN_EXPORTER_PATH, "--listen", host + ":0", "--source",
                                     AddressToText(block.Interface()), "--loopback-only"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process = std::make_unique<ChildProcess>(argv);
    std::string line;
    if (process->ReadLine(&line, 30000) && line.rfind("listening on ", 0) == 0)
      port = std::stoi(line.substr(line.rfind(':') + 1));
  }
  std::string Get(const std::string& target, int* status, const std::string& headers = "") const {
    return HttpGet(host, port, target, status, headers);
  }
  std::string address() const { return host + ":" + std::to_string(port); }

  std::string host;
  int port = 0;
  std::unique_ptr<ChildProcess> process;
};

// promtool check metrics on `text`; its exit status.
int CheckMetrics(const std::string& text) {
  const int status = RunWithInput("promtool check metrics", text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<emulator::ServerSpec> TwoServers(const LoopbackBlock& block) {
  emulator::ServerSpec a;
  a.type = 771;  // 16 ports
  a.serial = 1201;
  a.name = "Dock \xC4 North";  // a name in a legacy code page
  a.ip = block.Address(10);
  emulator::ServerSpec b = a;
  b.type = 9480;  // 8 ports
  b.serial = 3307;
  b.name = "Workshop";
  b.ip = block.Address(11);
  b.port_status.connection = 12;  // every port disconnected
  return {a, b};
}

TEST(ExporterProgramTest, ProbeAndMetricsAreCleanUnderPromtoolAndTheExamplesCheck) {
  if (!Have("promtool")) GTEST_SKIP() << "promtool missing: scripts/setup.sh --prometheus";
  LoopbackBlock block;
  auto lab = StartedLab(BlockLab(block, TwoServers(block)), SystemClock());
  RunningExporter exporter(block);
  ASSERT_GT(exporter.port, 0);

  int status = 0;
  const std::string probe = exporter.Get(
      "/probe?target=" + AddressToText(block.Address(10)), &status,
      "X-Prometheus-Scrape-Timeout-Seconds: 5\r\n");
  ASSERT_EQ(status, 200) << probe;
  EXPECT_NE(probe.find("zelin_probe_success 1"), std::string::npos) << probe;
  EXPECT_EQ(ValidUtf8(probe), probe);
  EXPECT_NE(probe.find("name=\"Dock \xEF\xBF\xBD North\""), std::string::npos) << probe;
  EXPECT_EQ(CheckMetrics(probe), 0) << probe;
  const std::string failed = exporter.Get(
      "/probe?target=" + AddressToText(block.Address(99)), &status,
      "X-Prometheus-Scrape-Timeout-Seconds: 1\r\n");
  EXPECT_EQ(status, 200);
  EXPECT_NE(failed.find("zelin_probe_success 0"), std::string::npos) << failed;
  EXPECT_EQ(CheckMetrics(failed), 0) << failed;
  exporter.Get("/probe?target=%zz", &status);
  EXPECT_EQ(status, 400);
  exporter.Get("/probe?target=" + AddressToText(block.Address(10)) + "&password=x", &status);
  EXPECT_EQ(status, 400);
  const std::string own = exporter.Get("/metrics", &status);
  EXPECT_EQ(status, 200);
  EXPECT_NE(own.find("zelin_exporter_probes_total 4"), std::string::npos) << own;
  EXPECT_EQ(CheckMetrics(own), 0) << own;

  // The packaged alert rules and example configuration.
  const int rules = std::system(("promtool check rules " + kPackaging + "zelin-alerts.yml").c_str());
  EXPECT_EQ(rules, 0);
  const int config =
      std::system(("promtool check config " + kPackaging + "prometheus.yml").c_str());
  EXPECT_EQ(config, 0);
  // The rules fire when they should (and not otherwise): promtool's rule unit tests.
  TempFolder dir;
  fs::copy_file(kPackaging + "zelin-alerts.yml", dir.path() / "zelin-alerts.yml");
  fs::copy_file(std::string(ZELIN_SOURCE_DIR) + "/tests/exporter/zelin-alerts.test.yml",
                dir.path() / "zelin-alerts.test.yml");
  const int fired = std::system(
      ("cd " + dir.path().string() + " && promtool test rules zelin-alerts.test.yml").c_str());
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(exporter.process->Stop(), 0);
}

// The value of the first result of an instant query, or nullopt while there is none.
std::optional<double> Query(const std::string& host, int port, const std::string& promql) {
  int status = 0;
  const std::string body = HttpGet(host, port, "/api/v1/query?query=" + UrlEncode(promql), &status);
  if (status != 200) return std::nullopt;
  const auto j = nlohmann::json::parse(body, nullptr, false);
  if (j.is_discarded() || j.value("status", "") != "success") return std::nullopt;
  const auto& result = j["data"]["result"];
  if (!result.is_array() || result.empty()) return std::nullopt;
  return std::stod(result[0]["value"][1].get<std::string>());
}

TEST(ExporterProgramTest, PrometheusScrapesTheExampleConfigurationThroughTheExporter) {
  if (!Have("prometheus")) GTEST_SKIP() << "prometheus missing: scripts/setup.sh --prometheus";
  LoopbackBlock block;
  auto lab = StartedLab(BlockLab(block, TwoServers(block)), SystemClock());
  TempFolder dir;
  const fs::path targets = dir.path() / "targets";
  std::ofstream(targets) << AddressToText(block.Address(10)) << " 1201 ports=1-4\n"
                         << AddressToText(block.Address(11)) << " 3307\n";
  RunningExporter exporter(block, {"--targets", targets.string()});
  ASSERT_GT(exporter.port, 0);

  // The example, pointed at this exporter and these servers, scraping every second.
  std::string config = ReadText(kPackaging + "prometheus.yml");
  ReplaceAll(config, "127.0.0.1:9879", exporter.address());
  ReplaceAll(config, "'127.0.42.10', '127.0.42.11', '127.0.42.12'",
             "'" + AddressToText(block.Address(10)) + "', '" + AddressToText(block.Address(11)) +
                 "'");
  ReplaceAll(config, "scrape_interval: 15s", "scrape_interval: 1s");
  ReplaceAll(config, "scrape_timeout: 10s", "scrape_timeout: 1s");
  ReplaceAll(config, "evaluation_interval: 15s", "evaluation_interval: 1s");
  std::ofstream(dir.path() / "prometheus.yml") << config;
  fs::copy_file(kPackaging + "zelin-alerts.yml", dir.path() / "zelin-alerts.yml");
  ASSERT_EQ(std::system(("promtool check config " + (dir.path() / "prometheus.yml").string() +
                         " >/dev/null").c_str()),
            0);

  const std::string web_host = AddressToText(block.Address(3));
  const int web_port = 9090;
  ChildProcess prometheus({"/usr/bin/prometheus",
                           "--config.file=" + (dir.path() / "prometheus.yml").string(),
                           "--storage.tsdb.path=" + (dir.path() / "data").string(),
                           "--web.listen-address=" + web_host + ":" + std::to_string(web_port),
                           "--log.level=warn"});
  ASSERT_TRUE(prometheus.running());

  // Waits up to two minutes (a loaded machine) for `promql` to give a value that `ok` takes.
  auto wait_for = [&](const std::string& promql, auto ok) -> std::optional<double> {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    std::optional<double> v;
    while (std::chrono::steady_clock::now() < until && prometheus.alive()) {
      v = Query(web_host, web_port, promql);
      if (v && ok(*v)) return v;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    ADD_FAILURE() << promql << " gave " << (v ? std::to_string(*v) : std::string("nothing"));
    return v;
  };
  const std::string a = "instance=\"" + AddressToText(block.Address(10)) + "\"";
  const std::string b = "instance=\"" + AddressToText(block.Address(11)) + "\"";
  // Two scrapes of each server.
  wait_for("count_over_time(zelin_probe_success{" + a + "}[5m])", [](double v) { return v >= 2; });
  wait_for("count_over_time(zelin_probe_success{" + b + "}[5m])", [](double v) { return v >= 2; });
  EXPECT_EQ(Query(web_host, web_port, "zelin_probe_success{" + a + "}"), 1.0);
  EXPECT_EQ(Query(web_host, web_port, "zelin_probe_success{" + b + "}"), 1.0);
  // Port 1 of Dock North sends 120 bytes a second (the emulator's default).
  const auto bytes = wait_for("zelin_port_tx_bytes_total{" + a + ",port=\"1\"}",
                              [](double v) { return v > 0; });
  // rate() divides by the whole window: it comes near 120 once the window is full of
  // scrapes (the band is wide for a loaded machine's late scrapes).
  const auto rate = wait_for("rate(zelin_port_tx_bytes_total{" + a + ",port=\"1\"}[10s])",
                             [](double v) { return v > 120 / 3.0 && v < 120 * 3.0; });
  ASSERT_TRUE(bytes && rate);
  // Only the listed ports 1-4 of Dock North; the name, in valid UTF-8, only on the info.
  EXPECT_EQ(Query(web_host, web_port, "count(zelin_port_tx_bytes_total{" + a + "})"), 4.0);
  int status = 0;
  const std::string info = HttpGet(
      web_host, web_port, "/api/v1/query?query=" + UrlEncode("zelin_server_info{" + a + "}"), &status);
  EXPECT_NE(info.find("Dock \xEF\xBF\xBD North"), std::string::npos) << info;
  // Workshop's ports are disconnected: the alert rule's expression sees them, and the
  // exporter's own figures are scraped too.
  EXPECT_EQ(Query(web_host, web_port,
                  "count(zelin_port_connection_state{" + b + ",state=\"disconnect\"} == 1)"),
            8.0);
  wait_for("zelin_exporter_probes_total", [](double v) { return v >= 4; });
  EXPECT_EQ(Query(web_host, web_port, "zelin_exporter_servers_known"), 2.0);

  // Every query of the packaged Grafana dashboard is one Prometheus takes.
  const auto dashboard = nlohmann::json::parse(ReadText(kPackaging + "grafana-dashboard.json"));
  size_t queries = 0;
  for (const auto& panel : dashboard["panels"]) {
    if (!panel.contains("targets")) continue;
    for (const auto& t : panel["targets"]) {
      std::string expr = t["expr"];
      for (const auto& [from, to] : {std::pair<std::string, std::string>{"$instance", ".*"},
                                     {"$port", ".*"}, {"$__rate_interval", "10s"}})
        for (size_t at; (at = expr.find(from)) != std::string::npos;) expr.replace(at, from.size(), to);
      const std::string answer =
          HttpGet(web_host, web_port, "/api/v1/query?query=" + UrlEncode(expr), &status);
      EXPECT_EQ(status, 200) << expr << "\n" << answer;
      ++queries;
    }
  }
  EXPECT_GT(queries, 10u);

  const int stopped = prometheus.Stop();
  EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << stopped;
  EXPECT_EQ(exporter.process->Stop(), 0);
}

// zelinctl monitor --prom writes through the same exposition: a server name that is not
// UTF-8 reaches the file as valid UTF-8, and promtool takes the file.
TEST(ExporterProgramTest, ZelinctlPromFileHasValidLabelsForANameThatIsNotUtf8) {
  LoopbackBlock block;
  auto servers = TwoServers(block);
  servers[0].name = "\xFF\xFE Bad \"\\ name";
  auto lab = StartedLab(BlockLab(block, servers), SystemClock());
  TempFolder dir;
  const std::string prom = (dir.path() / "zelin.prom").string();
  const std::string cmd = std::string(ZELINCTL_PATH) + " monitor 1201@" +
                          AddressToText(block.Address(10)) + "/1-2 --interval 1 --count 2 --csv" +
                          " --prom " + prom + " --interfaces " + AddressToText(block.Interface()) +
                          " --loopback-only >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string text = ReadText(prom);
  EXPECT_EQ(ValidUtf8(text), text);
  EXPECT_NE(text.find("name=\"\xEF\xBF\xBD\xEF\xBF\xBD Bad \\\"\\\\ name\""), std::string::npos)
      << text;
  EXPECT_NE(text.find("zelin_server_state{serial=\"1201\",state=\"answering\"} 1"),
            std::string::npos);
  if (Have("promtool")) {
    EXPECT_EQ(CheckMetrics(text), 0) << text;
  }
}

}  // namespace
}  // namespace zelin::testing
