// The suite installed as a user installs it: `cmake --install` of this build into a
// temporary DESTDIR with the prefix /usr, then every program, library and data file is
// checked where it landed, with the tools a distribution checks them with.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/address.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/spawn.hpp"

namespace zelin::testing {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exit_code = -1;
  std::string output;  // standard output and error together
};

RunResult RunCommand(const std::string& command) {
  CommandResult r = RunShellCommand(command + " 2>&1");
  return {r.exit_code, std::move(r.out)};
}

std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null").exit_code == 0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The value of `key` in the [Desktop Entry] group of a desktop file.
std::string DesktopValue(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  std::string line;
  bool in_entry = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') in_entry = line == "[Desktop Entry]";
    if (in_entry && line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

class InstalledTreeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new fs::path(fs::path(::testing::TempDir()) / "installed");
    fs::remove_all(*root_);
    install_ = new RunResult(RunCommand("DESTDIR=" + Quote(*root_) + " " + ZELIN_CMAKE_COMMAND +
                                 " --install " + Quote(ZELIN_BUILD_DIR) +
                                 " --prefix /usr --component suite"));
  }
  static void TearDownTestSuite() {
    delete install_;
    delete root_;
  }
  void SetUp() override {
    ASSERT_EQ(install_->exit_code, 0) << install_->output;
  }

  static fs::path Usr() { return *root_ / "usr"; }
  static fs::path Bin() { return Usr() / ZELIN_INSTALL_BINDIR; }
  static fs::path PrivateLib() { return Usr() / ZELIN_INSTALL_LIBDIR / "zelin"; }
  static fs::path Share() { return Usr() / "share"; }

  // Runs an installed program with nothing of the build around it: no library path,
  // a home, runtime and store of its own, and the loopback block's addresses.
  RunResult RunInstalled(const std::string& program, const std::string& args,
                         const std::string& extra_env = "") const {
    const fs::path home = *root_ / "home";
    fs::create_directories(home / "run");
    const std::string env =
        "env -u LD_LIBRARY_PATH HOME=" + Quote(home) + " XDG_CONFIG_HOME=" +
        Quote(home / "config") + " XDG_DATA_HOME=" + Quote(home / "data") +
        " XDG_RUNTIME_DIR=" + Quote(home / "run") + " ZELIN_RUNTIME_DIR=" +
        Quote(home / "run") + " ZELIN_REGISTRY=" + Quote(home / "registry.reg") +
        " ZELIN_LOOPBACK_ONLY=1 ZELIN_INTERFACES=" + AddressToText(block_.Interface()) +
        " ZELIN_BROADCAST=" + AddressToText(block_.Broadcast()) +
        " QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 " + extra_env + " ";
    // A program that hangs on a dialog is ended rather than holding the test.
    return RunCommand(env + "timeout 120 " + Quote(Bin() / program) + " " + args);
  }

  static fs::path* root_;
  static RunResult* install_;
  LoopbackBlock block_;
};

fs::path* InstalledTreeTest::root_ = nullptr;
RunResult* InstalledTreeTest::install_ = nullptr;

// Every program and library is where it belongs and carries no path of the build or
// source tree (the manager starting from the tree below shows that it finds its two
// libraries there).
TEST_F(InstalledTreeTest, ProgramsAndLibrariesRunFromTheTree) {
  std::vector<fs::path> binaries = {
      Bin() / "srvmanager", Bin() / "monitor", Bin() / "portcheck", Bin() / "zelinctl",
      Bin() / "devsim", Bin() / "portbridge", PrivateLib() / "libmapwizard.so",
      PrivateLib() / "libpcfg32.so"};
  if (ZELIN_WITH_EXPORTER) {
    // The exporter and what an administrator adds to Prometheus and Grafana beside it.
    binaries.push_back(Bin() / "zelin-exporter");
    for (const char* file : {"prometheus.yml", "zelin-alerts.yml", "grafana-dashboard.json",
                             "targets.example"})
      EXPECT_TRUE(fs::exists(Share() / "zelin/exporter" / file)) << file;
  }
  for (const fs::path& file : binaries) {
    ASSERT_TRUE(fs::exists(file)) << file;
    const RunResult dynamic = RunCommand("readelf -d " + Quote(file));
    ASSERT_EQ(dynamic.exit_code, 0) << dynamic.output;
    EXPECT_EQ(dynamic.output.find(ZELIN_BUILD_DIR), std::string::npos) << file << dynamic.output;
    EXPECT_EQ(dynamic.output.find(ZELIN_SOURCE_DIR), std::string::npos) << file << dynamic.output;
  }
  const RunResult help = RunInstalled("zelinctl", "--help");
  EXPECT_EQ(help.exit_code, 0) << help.output;
  EXPECT_NE(help.output.find("usage: zelinctl"), std::string::npos) << help.output;
}

// Desktop entries, AppStream metainfo, man pages and completion pass the checks of
// their formats, and what they name is installed.
TEST_F(InstalledTreeTest, DataFilesPassTheirChecks) {
  ASSERT_TRUE(HaveTool("desktop-file-validate")) << "scripts/setup.sh installs desktop-file-utils";
  ASSERT_TRUE(HaveTool("groff")) << "scripts/setup.sh installs groff-base";
  for (const char* id : {"org.zelin.srvmanager", "org.zelin.monitor", "org.zelin.portcheck"}) {
    const fs::path desktop = Share() / "applications" / (std::string(id) + ".desktop");
    const RunResult valid = RunCommand("desktop-file-validate " + Quote(desktop));
    EXPECT_EQ(valid.exit_code, 0) << desktop << "\n" << valid.output;
    const std::string text = ReadFile(desktop);
    const std::string exec = DesktopValue(text, "Exec");
    const std::string program = exec.substr(0, exec.find(' '));
    EXPECT_TRUE(fs::exists(Bin() / program)) << desktop << ": Exec=" << exec;
    const std::string icon = DesktopValue(text, "Icon") + ".png";
    for (const char* size : {"16x16", "32x32", "48x48", "64x64"})
      EXPECT_TRUE(fs::exists(Share() / "icons/hicolor" / size / "apps" / icon)) << size << icon;
  }
  if (HaveTool("appstreamcli")) {
    const RunResult valid = RunCommand("appstreamcli validate --no-net " +
                                Quote(Share() / "metainfo/org.zelin.suite.metainfo.xml"));
    EXPECT_EQ(valid.exit_code, 0) << valid.output;
  }

  // One page per source, each rendered without a single warning.
  size_t sources = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(ZELIN_SOURCE_DIR) / "docs/man")) {
    if (entry.path().extension() != ".scd") continue;
    ++sources;
    const fs::path page = Share() / "man/man1" / (entry.path().stem().string() + ".gz");
    ASSERT_TRUE(fs::exists(page)) << page;
    const RunResult rendered =
        RunCommand("gzip -dc " + Quote(page) + " | groff -man -Tutf8 -ww -z");
    EXPECT_EQ(rendered.exit_code, 0) << page;
    EXPECT_EQ(rendered.output, "") << page;
  }
  EXPECT_GE(sources, 5u);

  const RunResult completion =
      RunCommand("bash -n " + Quote(Share() / "bash-completion/completions/zelinctl"));
  EXPECT_EQ(completion.exit_code, 0) << completion.output;
  EXPECT_TRUE(fs::exists(Share() / "zelin/labs/manager-demo.json"));
}

// The Qt programs open their main window offscreen from the installed tree, save a
// picture of it and end by themselves.
TEST_F(InstalledTreeTest, QtProgramsShowTheirWindowFromTheTree) {
  // The manager asks for the installation type when the store has none.
  const RunResult set_type = RunInstalled("zelinctl", "store set-type 2");
  ASSERT_EQ(set_type.exit_code, 0) << set_type.output;
  for (const std::string program : {"srvmanager", "monitor", "portcheck"}) {
    const fs::path shot = *root_ / (program + ".png");
    const RunResult run = RunInstalled(
        program, "", "ZELIN_SCREENSHOT=" + Quote(shot) + " ZELIN_SCREENSHOT_AFTER=0");
    EXPECT_EQ(run.exit_code, 0) << program << "\n" << run.output;
    EXPECT_TRUE(fs::exists(shot) && fs::file_size(shot) > 0) << program << "\n" << run.output;
  }
}

}  // namespace
}  // namespace zelin::testing
