// zelinctl diag: runs the diagnostic program's port tests on the servers of a test
// configuration (ZELIN.CFG) or on servers named by address, prints the text report and
// can write the results as JUnit XML.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

#include "platform/text_format.hpp"
#include "portcheck/core/config_file.hpp"
#include "portcheck/core/report.hpp"
#include "portcheck/core/session.hpp"
#include "portcheck/core/test_results.hpp"
#include "portcheck/core/test_run.hpp"
#include "protocol/address.hpp"
#include "tools/zelinctl/command.hpp"
#include "tools/zelinctl/session.hpp"

namespace zelin::ctl {
namespace {

using namespace zelin::portcheck;

constexpr const char* kUsage =
    "usage: zelinctl diag [ADDRESS ...] [--config FILE] [--password P] [--report FILE]\n"
    "                     [--junit FILE] [--quiet]\n\n"
    "Runs the port tests of the servers in the test configuration (FILE, else the\n"
    "diagnostic program's ZELIN.CFG), or of the servers at the ADDRESSes with the default\n"
    "tests (internal and external on every port). Prints the test report (to FILE with\n"
    "--report) and a progress bar on standard error (not with --quiet); --junit writes\n"
    "one test case per step and port pair. Ctrl-C cancels the run.\n"
    "  --password P       the password of the servers named by address\n\n"
    "Exit status: 0 every test passed, 1 a test failed or the run was cancelled, 2 bad\n"
    "usage, 3 no test configuration, 4 network not usable.\n";

std::atomic<bool> interrupted{false};
void OnInterrupt(int) { interrupted = true; }

std::string XmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters other than tab and line ends are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
          out += '?';
        else
          out += c;
    }
  }
  return out;
}

// One <testsuite> per server: a test case per kept result (a step on one port or one
// pair), or one failing case for a server that could not be tested.
std::string JUnitXml(const DiagConfig& config, const ResultStores& stores) {
  std::string suites;
  int all_tests = 0, all_failures = 0;
  for (int i = 0; i < config.server_count; ++i) {
    const ServerImage& image = config.images[static_cast<size_t>(i)];
    const ResultStore& store = stores[static_cast<size_t>(i)];
    const std::string server =
        XmlEscape(image.name() + " (" + AddressToText(image.ip_address()) + ")");
    std::string cases;
    int tests = 0, failures = 0;
    auto add = [&](const std::string& name, const std::string& failure) {
      ++tests;
      cases += "    <testcase classname=\"" + server + "\" name=\"" + XmlEscape(name) + "\"";
      if (failure.empty()) {
        cases += "/>\n";
        return;
      }
      ++failures;
      cases += ">\n      <failure message=\"" + XmlEscape(failure) + "\"/>\n    </testcase>\n";
    };
    if (const uint8_t marker = store.failure(); marker != 0) {
      const char* what = marker == kMarkConnectFail ? "connect"
                         : marker == kMarkLoginFail ? "login"
                                                    : "check serial no";
      add(what, Format("%s %s fail!", image.name().c_str(), what));
    } else if (store.count == 0) {
      add("diagnose", "");
    } else {
      for (uint32_t k = 0; k < store.count && k < ResultStore::kCapacity; ++k) {
        const TestResult& r = store.results[k];
        add(DescribeStep(r),
            r.result() == 0 ? "" : ErrorCodeText(r.result()) + " " + DescribeError(r.result()));
      }
    }
    suites += "  <testsuite name=\"" + server + "\" tests=\"" + std::to_string(tests) +
              "\" failures=\"" + std::to_string(failures) + "\">\n" + cases + "  </testsuite>\n";
    all_tests += tests;
    all_failures += failures;
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"zelinctl diag\" tests=\"" +
         std::to_string(all_tests) + "\" failures=\"" + std::to_string(all_failures) + "\">\n" +
         suites + "</testsuites>\n";
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

void DrawProgress(const TestStatusSnapshot& s) {
  const int max = s.progress_max > 0 ? s.progress_max : 1;
  const int percent = std::min(100, s.progress * 100 / max);
  std::fprintf(stderr, "\r[%-40s] %3d%% %-40.40s", std::string(static_cast<size_t>(percent * 40 / 100), '#').c_str(),
               percent, s.object.c_str());
  std::fflush(stderr);
}

// The servers at `addresses`, each with the image of its search reply (or only its
// address and the address as its name when it does not answer: the run then reports
// it unreachable).
int ConfigFromAddresses(const Parsed& p, HostInterfaces& interfaces, DiagConfig& config) {
  config = DiagConfig::Defaults();
  const std::string* password = p.value("--password");
  if (Status opened = interfaces.Open(); !opened) {
    std::fprintf(stderr, "Fail to open socket! (%s)\n", opened.message().c_str());
    return kExitEnvironment;
  }
  std::atomic<bool> never{false};
  for (const std::string& text : p.positional) {
    const auto address = ParseAddress(text);
    if (!address) {
      std::fprintf(stderr, "zelinctl: '%s' is not an IPv4 address\n", text.c_str());
      return kExitUsage;
    }
    ServerImage image;
    if (auto found = interfaces.SearchWithRetries(*address, never, 3); found.ok()) {
      image.bytes = found->reply;
    } else {
      PutIpv4(image.bytes, wire::kSrIpAddress, *address);
      const std::string name = AddressToText(*address);
      std::copy(name.begin(), name.end(), image.bytes.begin() + wire::kSrName);
    }
    ServerTestSettings settings;
    settings.password = password != nullptr ? *password : "";
    settings.port_mask = kNewServerPortMask;
    settings.status = kStatusUnreachable;
    if (!config.AddServer(image, settings)) {
      std::fprintf(stderr, "zelinctl: at most %d servers\n", kMaxDiagServers);
      return kExitUsage;
    }
  }
  interfaces.Close();
  return kExitOk;
}

int RunDiag(const Args& args) {
  const Parsed p = Parse(args, {"--config", "--password", "--report", "--junit"}, {"--quiet"});
  if (p.help || !p.error.empty()) return Usage(p, kUsage);
  if (p.value("--config") != nullptr && !p.positional.empty()) {
    std::fprintf(stderr, "zelinctl: give either --config or server addresses\n");
    return kExitUsage;
  }
  if (const std::string* pw = p.value("--password"); pw != nullptr && pw->size() > kMaxPasswordField) {
    std::fprintf(stderr, "zelinctl: --password: at most %zu characters\n", kMaxPasswordField);
    return kExitUsage;
  }
  TransportOptions options;
  std::string error;
  if (!NetworkOptions(p, &options, &error)) {
    std::fprintf(stderr, "zelinctl: %s\n", error.c_str());
    return kExitUsage;
  }
  RealClock clock;
  ConsoleNotices notices;
  HostInterfaces interfaces(clock, notices, options);
  DiagSession session(clock, notices, options);

  DiagConfig config;
  if (p.positional.empty()) {
    const std::string* path = p.value("--config");
    DiagConfigFile file(path != nullptr ? *path : DefaultConfigPath());
    config = file.Load();
    if (!file.loaded_file()) {
      std::fprintf(stderr, "zelinctl: %s is not a test configuration\n", file.path().c_str());
      return kExitNotFound;
    }
  } else if (int rc = ConfigFromAddresses(p, interfaces, config); rc != kExitOk) {
    return rc;
  }
  if (config.server_count == 0) {
    std::fprintf(stderr, "zelinctl: no server to test\n");
    return kExitNotFound;
  }

  auto stores = std::make_unique<ResultStores>();
  TestRun run(config, *stores, interfaces, session, clock);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  struct sigaction previous {};
  ::sigaction(SIGINT, &action, &previous);
  const bool quiet = p.has("--quiet");
  run.Open();
  std::pair<int, std::string> drawn{-1, {}};
  while (run.running()) {
    if (interrupted.exchange(false)) run.PressCancel();
    const TestStatusSnapshot now = run.Snapshot();
    if (!quiet && std::pair(now.progress, now.object) != drawn) {
      DrawProgress(now);
      drawn = {now.progress, now.object};
    }
    clock.SleepMs(100);
  }
  run.Wait();
  ::sigaction(SIGINT, &previous, nullptr);
  const TestStatusSnapshot end = run.Snapshot();
  if (!quiet) {
    DrawProgress(end);
    std::fprintf(stderr, "\n");
  }
  for (const std::string& line : end.log) std::fprintf(stderr, "%s\n", line.c_str());
  if (run.cancelled()) {
    std::fprintf(stderr, "zelinctl: the test run was cancelled\n");
    return kExitFailed;
  }

  const std::string report = TextReport(config, *stores, run.test_time_line());
  if (const std::string* path = p.value("--report")) {
    if (!WriteFile(*path, report)) {
      std::fprintf(stderr, "zelinctl: cannot write %s\n", path->c_str());
      return kExitFailed;
    }
  } else {
    std::fwrite(report.data(), 1, report.size(), stdout);
  }
  if (const std::string* path = p.value("--junit"); path != nullptr &&
                                                    !WriteFile(*path, JUnitXml(config, *stores))) {
    std::fprintf(stderr, "zelinctl: cannot write %s\n", path->c_str());
    return kExitFailed;
  }
  for (int i = 0; i < config.server_count; ++i)
    if (end.marks[static_cast<size_t>(i)] != ServerMark::kTestPassed) return kExitFailed;
  return kExitOk;
}

const Registration kDiag({"diag", "run the port tests of a test configuration or of servers", RunDiag});

}  // namespace
}  // namespace zelin::ctl
