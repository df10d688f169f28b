// zelinctl store, run as the built program over a temporary hive: what it prints, what
// it writes and its exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "store/com_devices.hpp"
#include "store/reg_text.hpp"
#include "store/server_store.hpp"
#include "store/store_check.hpp"
#include "tests/store/store_util.hpp"

namespace zelin {
namespace {

using namespace testing;  // the store tests' helpers (MakeServer, MapPort, TempDir, ...)
using ::testing::HasSubstr;

struct RunResult {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs zelinctl with `args`; ZELIN_REGISTRY is `registry_env` (unset when empty).
RunResult RunCtl(const std::vector<std::string>& args, const std::string& registry_env,
                 const TempDir& dir) {
  const std::string out_path = (dir / "stdout.txt").string();
  const std::string err_path = (dir / "stderr.txt").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen(out_path.c_str(), "w", stdout) ||
        !std::freopen(err_path.c_str(), "w", stderr))
      ::_exit(127);
    if (registry_env.empty())
      ::unsetenv("ZELIN_REGISTRY");
    else
      ::setenv("ZELIN_REGISTRY", registry_env.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(ZELINCTL_PATH), const_cast<char*>("store")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(ZELINCTL_PATH, argv.data());
    ::_exit(127);
  }
  RunResult r;
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
  r.out = ReadFileText(out_path);
  r.err = ReadFileText(err_path);
  return r;
}

class ZelinctlStore : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two servers: one with ports 1, 2 and 4 mapped (port 2 to COM256), one unmapped.
    ServerConfig a = MakeServer(0x0102);
    a.set_name("Line A");
    MapPort(a, 0, 5);
    MapPort(a, 1, 0);
    MapPort(a, 3, 7);
    a.port_options[3] = kOptionClassical | kOptionFifoDisabled;
    ServerConfig b = MakeServer(0x0203, 9476);
    table_ = {a, b};
    const Status st = SaveServerStore(hive_, table_, {});
    ASSERT_TRUE(st) << st;
    MemoryRegistry reg;
    ASSERT_TRUE(hive_.Load(reg).ok());
    // A key of some other program that no store command may touch or export.
    ASSERT_TRUE(reg.CreateKey("Software\\Other"));
    ASSERT_TRUE(reg.WriteString("Software\\Other", "Keep", "me"));
    ASSERT_TRUE(hive_.Store(reg).ok());
  }
  RunResult Run(const std::vector<std::string>& args) {
    return RunCtl(args, hive_.path().string(), dir_);
  }
  MemoryRegistry Tree() const {
    MemoryRegistry reg;
    EXPECT_TRUE(hive_.Load(reg).ok());
    return reg;
  }
  void Edit(const std::function<void(Registry&)>& edit) {
    ASSERT_TRUE(hive_
                    .Update([&](Registry& reg) {
                      edit(reg);
                      return true;
                    })
                    .ok());
  }

  TempDir dir_;
  HiveFile hive_{dir_ / "hive" / "registry.reg"};
  std::vector<ServerConfig> table_;
};

TEST_F(ZelinctlStore, ListPrintsEveryServerAndPortAsATable) {
  const RunResult r = Run({"list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("KEY       SERIAL  MODEL     IP ADDRESS       NAME\n"), 0u) << r.out;
  EXPECT_THAT(r.out, HasSubstr("Server1   258     QX408     10.0.1.2         Line A\n"));
  EXPECT_THAT(r.out, HasSubstr("Server2   515     QX404     10.0.2.3         Server-515\n"));
  EXPECT_THAT(r.out, HasSubstr("  1     COM5     Ports\\0000   Hi-Performance  enabled\n"));
  EXPECT_THAT(r.out, HasSubstr("  2     COM256   Ports\\0001   Hi-Performance  enabled\n"));
  EXPECT_THAT(r.out, HasSubstr("  3     -        -            Hi-Performance  enabled\n"));
  EXPECT_THAT(r.out, HasSubstr("  4     COM7     Ports\\0002   Classical       disabled\n"));
  EXPECT_EQ(r.out.find("missing or stale"), std::string::npos) << r.out;

  // A device key that lost its names is flagged on its port's line.
  Edit([](Registry& reg) { reg.WriteString("Enum\\Root\\Ports\\0002", "PortName", "COM9"); });
  const RunResult stale = Run({"list"});
  EXPECT_THAT(stale.out, HasSubstr("  4     COM7     Ports\\0002   Classical       disabled  "
                                   "(device entry missing or stale)\n"));
}

TEST_F(ZelinctlStore, ListAsJsonCarriesTheSameFacts) {
  ASSERT_TRUE(WriteInstallationType(hive_, kMultiHost));
  const RunResult r = Run({"list", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["registry"], hive_.path().string());
  EXPECT_EQ(doc["installation_type"], 2);
  ASSERT_EQ(doc["servers"].size(), 2u);
  const auto& a = doc["servers"][0];
  EXPECT_EQ(a["key"], "Server1");
  EXPECT_EQ(a["serial"], 0x0102);
  EXPECT_EQ(a["device_type"], 9480);
  EXPECT_EQ(a["model"], "QX408");
  EXPECT_EQ(a["name"], "Line A");
  EXPECT_EQ(a["ip_address"], "10.0.1.2");
  EXPECT_EQ(a["netmask"], "255.255.255.0");
  EXPECT_EQ(a["password_saved"], false);
  ASSERT_EQ(a["ports"].size(), 8u);
  EXPECT_EQ(a["ports"][1]["com"], 256);
  EXPECT_EQ(a["ports"][1]["com_name"], "COM256");
  EXPECT_EQ(a["ports"][1]["port_driver"], "Ports\\0001");
  EXPECT_EQ(a["ports"][2]["mapped"], false);
  EXPECT_TRUE(a["ports"][2]["com"].is_null());
  EXPECT_TRUE(a["ports"][2]["com_name"].is_null());
  EXPECT_EQ(a["ports"][3]["transmission"], "Classical");
  EXPECT_EQ(a["ports"][3]["fifo"], "disabled");
  EXPECT_EQ(doc["servers"][1]["ports"].size(), 4u);
}

TEST_F(ZelinctlStore, ExportIsRegistryTextThatImportsBackToTheSameStore) {
  const RunResult r = Run({"export"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SoftWare\\KIVO\\Zelin]\n"), 0u) << r.out;
  EXPECT_EQ(r.out.find("Other"), std::string::npos) << "foreign keys are not exported";

  Result<MemoryRegistry> parsed = ParseRegText(r.out);
  ASSERT_TRUE(parsed.ok()) << parsed.status();
  const MemoryRegistry& imported = *parsed;
  // The imported tree is the store with exactly the device entries of its mapped ports.
  std::vector<ServerConfig> loaded(kMaxConfiguredServers);
  ASSERT_EQ(LoadServerStore(imported, ProductLine::kZelin, loaded), 2);
  loaded.resize(2);
  EXPECT_EQ(loaded, table_);
  EXPECT_TRUE(CheckStore(imported).empty());
  EXPECT_EQ(imported.Subkeys(kDeviceParentKey).size(), 3u);
  EXPECT_EQ(imported.Subkeys(RegJoin(kClassRootKey, "ports")).size(), 3u);
  const MemoryRegistry tree = Tree();
  for (const std::string key : {"Enum\\Root\\Ports\\0001",
                                "System\\CurrentControlSet\\Services\\"
                                "Class\\ports\\0001"}) {
    for (size_t i = 0; const auto v = tree.EnumValue(key, i); ++i)
      EXPECT_EQ(imported.EnumValue(key, i), v) << key << " value " << i;
  }
  // Exporting the imported tree gives the same text again, byte for byte.
  HiveFile copy(dir_ / "imported.reg");
  ASSERT_TRUE(copy.Store(imported).ok());
  const RunResult again = RunCtl({"export"}, copy.path().string(), dir_);
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, r.out);
}

TEST_F(ZelinctlStore, SetTypeWritesOnlyAValidInstallationType) {
  const RunResult ok = Run({"set-type", "3"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ReadInstallationType(hive_), kCustom);
  EXPECT_EQ(Tree().ReadString("Software\\Other", "Keep"), "me");

  const std::string before = ReadFileText(hive_.path());
  for (const auto& args : std::vector<std::vector<std::string>>{{"set-type"},
                                                                {"set-type", "4"},
                                                                {"set-type", "-1"},
                                                                {"set-type", "x"},
                                                                {"set-type", "1", "2"},
                                                                {"set-type", "12"}}) {
    const RunResult bad = Run(args);
    EXPECT_EQ(bad.status, 2) << args.back();
    EXPECT_THAT(bad.err, HasSubstr("zelinctl store"));
  }
  EXPECT_EQ(ReadFileText(hive_.path()), before);
}

TEST_F(ZelinctlStore, CheckReportsEachKindOfDamageAndSetsItsExitStatus) {
  const RunResult clean = Run({"check"});
  EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
  EXPECT_EQ(clean.out, hive_.path().string() + ": no problems found\n");

  const std::string params(kParametersKey);
  Edit([&](Registry& reg) {
    // Port 1 of Server1 loses its driver key, port 4 its device key (whose driver key
    // is then named by nobody), port 2 takes COM5 as port 1 has it, and a stray device
    // key of this driver is left from a crash.
    DeleteKeyTree(reg, RegJoin(kClassRootKey, "ports\\0000"));
    reg.DeleteKey(RegJoin(kClassRootKey, "ports\\0000"));
    reg.DeleteKey("Enum\\Root\\Ports\\0002");
    reg.WriteDword(params + "\\Server1\\Port0001", "COM", 5);
    CreateDeviceKey(reg, 9, "ports\\0009");
  });
  const RunResult r = Run({"check"});
  EXPECT_EQ(r.status, 1);
  const std::string port = params + "\\Server1\\Port000";
  EXPECT_EQ(r.out,
            port + "0: mapped, but the driver key of Enum\\Root\\Ports\\0000 is missing\n" + port +
                "1: COM5 is also mapped by " + port + "0\n" +  //
                port + "3: mapped, but its device key Enum\\Root\\Ports\\0002 is missing\n" +
                "Enum\\Root\\Ports\\0009: device key that no mapped port links to\n" +
                "System\\CurrentControlSet\\Services\\Class\\ports\\0002: driver key that no "
                "device key names\n");
}

// Two keys with one serial number: each record is listed under its own key, and check
// names the second key.
TEST_F(ZelinctlStore, KeysSharingASerialNumberAreListedApartAndReported) {
  std::vector<ServerConfig> twice = table_;
  twice.push_back(MakeServer(0x0102, 9476));
  const Status st = SaveServerStore(hive_, twice, table_);
  ASSERT_TRUE(st) << st;
  const RunResult list = Run({"list", "--json"});
  ASSERT_EQ(list.status, 0) << list.err;
  const auto doc = nlohmann::json::parse(list.out);
  ASSERT_EQ(doc["servers"].size(), 3u);
  EXPECT_EQ(doc["servers"][0]["key"], "Server1");
  EXPECT_EQ(doc["servers"][2]["key"], "Server3");
  EXPECT_EQ(doc["servers"][2]["ports"].size(), 4u);

  const RunResult check = Run({"check"});
  EXPECT_EQ(check.status, 1);
  const std::string params(kParametersKey);
  EXPECT_EQ(check.out,
            params + "\\Server3: serial number 258 is also used by " + params + "\\Server1\n");
}

TEST_F(ZelinctlStore, RegistryOptionComesBeforeTheEnvironment) {
  const std::string other = (dir_ / "other.reg").string();
  // The environment names a hive without a store; the option names the real one.
  const RunResult by_option =
      RunCtl({"list", "--json", "--registry", hive_.path().string()}, other, dir_);
  ASSERT_EQ(by_option.status, 0) << by_option.err;
  EXPECT_EQ(nlohmann::json::parse(by_option.out)["servers"].size(), 2u);
  const RunResult by_equals = RunCtl({"list", "--registry=" + hive_.path().string()}, other, dir_);
  EXPECT_EQ(by_equals.status, 0) << by_equals.err;

  const RunResult by_env = RunCtl({"list"}, other, dir_);
  EXPECT_EQ(by_env.status, 3);
  EXPECT_EQ(by_env.err, "zelinctl store: " + other +
                            ": no store (the key SoftWare\\KIVO\\Zelin\\Parameters does not "
                            "exist)\n");
  EXPECT_FALSE(std::filesystem::exists(other)) << "reading never creates the hive";

  // set-type through the option writes the named file and leaves the other alone.
  ASSERT_EQ(RunCtl({"set-type", "1", "--registry", other}, hive_.path().string(), dir_).status, 0);
  EXPECT_EQ(ReadInstallationType(HiveFile(other)), 1);
  EXPECT_EQ(ReadInstallationType(hive_), 0);
}

TEST_F(ZelinctlStore, MalformedHiveIsReportedWithItsLineAndLeftAlone) {
  const std::string text = ReadFileText(hive_.path());
  const size_t second_line = text.find('\n') + 1;
  const std::string broken =
      text.substr(0, second_line) + "\n\"Servers\"=dword:xyz\n" + text.substr(second_line);
  WriteFileText(hive_.path(), broken);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"list"}, {"list", "--json"}, {"export"}, {"check"}, {"set-type", "2"}}) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 4) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(r.err.find("zelinctl store: " + hive_.path().string() + ":3: "), 0u) << r.err;
  }
  EXPECT_EQ(ReadFileText(hive_.path()), broken);
}

TEST_F(ZelinctlStore, BadUsageExitsWithStatusTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                {"frobnicate"},
                                                                {"list", "--verbose"},
                                                                {"export", "--json"},
                                                                {"check", "extra"},
                                                                {"list", "--registry"},
                                                                {"list", "--registry="}}) {
    const RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args.back());
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("usage: zelinctl store"));
  }
  const RunResult help = Run({"check", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.find("usage: zelinctl store check"), 0u);
}

}  // namespace
}  // namespace zelin
