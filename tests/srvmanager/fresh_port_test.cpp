// FreshPort: the change stamp beside the hive and the optional hook command.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/pcfg32/pcfg32.h"

namespace {

namespace fs = std::filesystem;

class ManagerFreshPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fresh_port_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    hive_ = dir_ / "sub" / "registry.reg";
    ::setenv("ZELIN_REGISTRY", hive_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ZELIN_REGISTRY");
    ::unsetenv("ZELIN_FRESHPORT_HOOK");
    fs::remove_all(dir_);
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    return s;
  }
  fs::path dir_, hive_;
};

TEST_F(ManagerFreshPortTest, StampCountsChangesAndHookRunsWithTheHivePath) {
  const fs::path stamp = fs::path(hive_.string() + ".changed");
  ASSERT_EQ(FreshPort(), 0);
  ASSERT_TRUE(fs::exists(stamp));
  EXPECT_NE(Read(stamp).find(" 1"), std::string::npos);
  ASSERT_EQ(FreshPort(), 0);
  EXPECT_NE(Read(stamp).find(" 2"), std::string::npos);

  const fs::path out = dir_ / "hook.txt";
  const std::string hook = "printf '%s' \"$ZELIN_REGISTRY_CHANGED\" > '" + out.string() + "'";
  ::setenv("ZELIN_FRESHPORT_HOOK", hook.c_str(), 1);
  EXPECT_EQ(FreshPort(), 0);
  EXPECT_EQ(Read(out), hive_.string());

  ::setenv("ZELIN_FRESHPORT_HOOK", "exit 3", 1);
  EXPECT_EQ(FreshPort(), -1);  // the stamp is still written
  EXPECT_NE(Read(stamp).find(" 4"), std::string::npos);
}

}  // namespace
