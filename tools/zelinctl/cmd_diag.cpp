// zelinctl diag: runs the diagnostic program's port tests on the servers of a test
// configuration (ZELIN.CFG) or on servers named by address, prints the text report and
// can write the results as JUnit XML.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
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
    "                     [--junit FILE] [--timeout SECONDS] [--quiet]\n\n"
    "Runs the port tests of the servers in the test configuration (FILE, else the\n"
    "diagnostic program's ZELIN.CFG), or of the servers at the ADDRESSes with the default\n"
    "tests (internal and external on every port). Prints the test report (to FILE with\n"
    "--report) and a progress bar on standard error (not with --quiet); --junit writes\n"
    "one test case per step and port pair. Ctrl-C (SIGINT) or SIGTERM cancels the run: the\n"
    "reports are still written, with the servers not finished as errors (\"interrupted\").\n"
    "  --password P       the password of the servers named by address\n"
    "  --timeout SECONDS  a server that sends no report for this long fails (default 60)\n\n"
    "Exit status: 0 every test passed, 1 a test failed or the run was cancelled, 2 bad\n"
    "usage, 3 no test configuration, 4 network not usable.\n";

std::atomic<bool> interrupted{false};
void OnInterrupt(int) { interrupted = true; }

constexpr int kDefaultTimeoutSeconds = 60;

// Text for an XML attribute: valid UTF-8 whatever the bytes (a server's name is raw
// bytes), the markup characters escaped, and the characters XML 1.0 does not allow
// (controls other than tab and line ends, U+FFFE, U+FFFF) as U+FFFD.
std::string XmlEscape(std::string_view raw) {
  const std::string text = ValidUtf8(raw);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\xEF\xBF\xBD";
        } else if (static_cast<unsigned char>(c) == 0xEF && i + 2 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0xBF &&
                   (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
          out += "\xEF\xBF\xBD";
          i += 2;
        } else {
          out += c;
        }
    }
  }
  return out;
}

// CI servers split a test case's class name at its dots into package and class: the
// class name is the server's name and address with every dot made '_'.
std::string ClassName(const ServerImage& image) {
  std::string name = image.name() + " (" + AddressToText(image.ip_address()) + ")";
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

// Why a server's test ended early, as the message of its JUnit error.
std::string EndMessage(TestEnd end, int timeout_seconds) {
  switch (end) {
    case TestEnd::kConnectionLost: return "connection lost before the end of the test";
    case TestEnd::kSilent: return Format("no report for %d s", timeout_seconds);
    case TestEnd::kInterrupted: return "interrupted";
    default: return "";
  }
}

// The errors attribute, written only when there are errors (it is optional).
std::string Errors(int errors) {
  return errors == 0 ? std::string() : " errors=\"" + std::to_string(errors) + "\"";
}

// One <testsuite> per server: a test case per kept result (a step on one port or one
// pair), or one failing case for a server that could not be tested; a test that ended
// early (connection lost, silent, interrupted) adds an "end of test" case with an
// <error>.
std::string JUnitXml(const DiagConfig& config, const ResultStores& stores, int timeout_seconds) {
  std::string suites;
  int all_tests = 0, all_failures = 0, all_errors = 0;
  for (int i = 0; i < config.server_count; ++i) {
    const ServerImage& image = config.images[static_cast<size_t>(i)];
    const ResultStore& store = stores[static_cast<size_t>(i)];
    const std::string suite =
        XmlEscape(image.name() + " (" + AddressToText(image.ip_address()) + ")");
    const std::string classname = XmlEscape(ClassName(image));
    std::string cases;
    int tests = 0, failures = 0, errors = 0;
    auto add = [&](const std::string& name, const std::string& failure, const char* kind = "failure") {
      ++tests;
      cases += "    <testcase classname=\"" + classname + "\" name=\"" + XmlEscape(name) + "\"";
      if (failure.empty()) {
        cases += "/>\n";
        return;
      }
      ++(std::string_view(kind) == "error" ? errors : failures);
      cases += ">\n      <" + std::string(kind) + " message=\"" + XmlEscape(failure) +
               "\"/>\n    </testcase>\n";
    };
    if (const uint8_t marker = store.failure(); marker != 0) {
      const char* what = marker == kMarkConnectFail ? "connect"
                         : marker == kMarkLoginFail ? "login"
                                                    : "check serial no";
      add(what, Format("%s %s fail!", image.name().c_str(), what));
    } else if (store.count == 0 && store.end == TestEnd::kComplete) {
      add("diagnose", "");
    } else {
      for (uint32_t k = 0; k < store.count && k < ResultStore::kCapacity; ++k) {
        const TestResult& r = store.results[k];
        add(DescribeStep(r),
            r.result() == 0 ? "" : ErrorCodeText(r.result()) + " " + DescribeError(r.result()));
      }
    }
    if (store.end != TestEnd::kComplete) add("end of test", EndMessage(store.end, timeout_seconds), "error");
    suites += "  <testsuite name=\"" + suite + "\" tests=\"" + std::to_string(tests) +
              "\" failures=\"" + std::to_string(failures) + "\"" + Errors(errors) + ">\n" + cases +
              "  </testsuite>\n";
    all_tests += tests;
    all_failures += failures;
    all_errors += errors;
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"zelinctl diag\" tests=\"" +
         std::to_string(all_tests) + "\" failures=\"" + std::to_string(all_failures) + "\"" +
         Errors(all_errors) + ">\n" + suites + "</testsuites>\n";
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
  for (const std::string& text : p.positional) {
    const auto address = AddressArgument(text);
    if (!address) return kExitUsage;
    ServerImage image;
    if (auto found = interfaces.SearchWithRetries(*address, interrupted, 3); found.ok()) {
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
  const Parsed p =
      Parse(args, {"--config", "--password", "--report", "--junit", "--timeout"}, {"--quiet"});
  if (p.help || !p.error.empty()) return Usage(p, kUsage);
  int timeout_seconds = kDefaultTimeoutSeconds;
  if (const std::string* t = p.value("--timeout")) {
    const auto [end, ec] = std::from_chars(t->data(), t->data() + t->size(), timeout_seconds);
    if (ec != std::errc{} || end != t->data() + t->size() || timeout_seconds < 1 ||
        timeout_seconds > 86400) {
      std::fprintf(stderr, "zelinctl: --timeout: a number of seconds from 1 to 86400\n");
      return kExitUsage;
    }
  }
  if (p.value("--config") != nullptr && !p.positional.empty()) {
    std::fprintf(stderr, "zelinctl: give either --config or server addresses\n");
    return kExitUsage;
  }
  if (const std::string* pw = p.value("--password"); pw != nullptr && pw->size() > kMaxPasswordField) {
    std::fprintf(stderr, "zelinctl: --password: at most %zu characters\n", kMaxPasswordField);
    return kExitUsage;
  }
  const Result<TransportOptions> network = NetworkOptions(p);
  if (!network) {
    std::fprintf(stderr, "zelinctl: %s\n", network.status().message().c_str());
    return kExitUsage;
  }
  const TransportOptions& options = *network;
  // SIGINT and SIGTERM cancel: from here on, through the searches and the run, so that
  // the reports are written with what was gathered.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  struct sigaction previous_int {}, previous_term {};
  ::sigaction(SIGINT, &action, &previous_int);
  ::sigaction(SIGTERM, &action, &previous_term);
  struct Restore {
    struct sigaction i, t;
    ~Restore() {
      ::sigaction(SIGINT, &i, nullptr);
      ::sigaction(SIGTERM, &t, nullptr);
    }
  } restore{previous_int, previous_term};
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
  run.set_silence_limit_ms(int64_t{timeout_seconds} * 1000);
  const bool quiet = p.has("--quiet");
  run.Open();
  std::pair<int, std::string> drawn{-1, {}};
  while (run.running()) {
    if (interrupted.load()) run.PressCancel();  // a second press changes nothing
    const TestStatusSnapshot now = run.Snapshot();
    if (!quiet && std::pair(now.progress, now.object) != drawn) {
      DrawProgress(now);
      drawn = {now.progress, now.object};
    }
    clock.SleepMs(100);
  }
  run.Wait();
  const TestStatusSnapshot end = run.Snapshot();
  if (!quiet) {
    DrawProgress(end);
    std::fprintf(stderr, "\n");
  }
  for (const std::string& line : end.log) std::fprintf(stderr, "%s\n", line.c_str());
  if (!run.completed()) std::fprintf(stderr, "zelinctl: the test run was cancelled\n");

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
                                                    !WriteFile(*path, JUnitXml(config, *stores, timeout_seconds))) {
    std::fprintf(stderr, "zelinctl: cannot write %s\n", path->c_str());
    return kExitFailed;
  }
  if (!run.completed()) return kExitFailed;
  for (int i = 0; i < config.server_count; ++i)
    if (end.marks[static_cast<size_t>(i)] != ServerMark::kTestPassed) return kExitFailed;
  return kExitOk;
}

const Registration kDiag({"diag", "run the port tests of a test configuration or of servers", RunDiag});

}  // namespace
}  // namespace zelin::ctl
