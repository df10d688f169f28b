#include "store/hive_file.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "store/reg_text.hpp"
#include "tests/store/store_util.hpp"

namespace zelin {
namespace {

using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFileText;

TEST(HiveFile, MissingFileIsAnEmptyRegistryAndIsNotCreatedByReading) {
  TempDir dir;
  const HiveFile hive(dir / "sub" / "registry.reg");
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("Leftover"));
  const Status st = hive.Load(reg);
  EXPECT_TRUE(st.ok()) << st.message();
  EXPECT_FALSE(reg.EnumSubkey("", 0));
  EXPECT_FALSE(std::filesystem::exists(dir / "sub"));
}

TEST(HiveFile, UpdateWritesOnceAndOnlyWhenTheEditSucceeds) {
  TempDir dir;
  HiveFile hive(dir / "data" / "registry.reg");
  ASSERT_TRUE(
      hive.Update([](Registry& r) { return r.CreateKey("A\\B") && r.WriteDword("A\\B", "v", 7); })
          .ok());
  const std::string text = ReadFileText(hive.path());
  EXPECT_EQ(text,
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\n[HKEY_LOCAL_MACHINE\\A\\B]\n"
            "\"v\"=dword:00000007\n\n");

  // A failed edit leaves nothing behind, even what it changed before failing.
  const Status st = hive.Update([](Registry& r) {
    r.WriteDword("A\\B", "v", 8);
    return false;
  });
  EXPECT_FALSE(st.ok());
  EXPECT_NE(st.message().find("changes discarded"), std::string::npos);
  EXPECT_EQ(ReadFileText(hive.path()), text);

  MemoryRegistry reg;
  ASSERT_TRUE(hive.Load(reg).ok());
  EXPECT_EQ(reg.ReadDword("a\\b", "V"), 7u);
  // No temporary file is left in the folder.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir / "data")) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 2u);  // the hive and its lock file
}

TEST(HiveFile, MalformedFileIsReportedWithPathAndLineAndNeverOverwritten) {
  TempDir dir;
  const auto path = dir / "registry.reg";
  const std::string texts[] = {
      "REGEDIT 4\n[HKEY_LOCAL_MACHINE\\A]\n",
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"s\"=\"C:\\path\"\r\n",
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex:01,02,\\\n",
  };
  const size_t lines[] = {1, 4, 4};
  for (size_t i = 0; i < 3; ++i) {
    WriteFileText(path, texts[i]);
    HiveFile hive(path);
    MemoryRegistry reg;
    const Status load = hive.Load(reg);
    EXPECT_FALSE(load.ok());
    EXPECT_EQ(load.message().rfind(path.string() + ":" + std::to_string(lines[i]) + ": ", 0), 0u)
        << load.message();
    bool edited = false;
    const Status update = hive.Update([&](Registry&) { return edited = true; });
    EXPECT_FALSE(update.ok());
    EXPECT_FALSE(edited);
    EXPECT_FALSE(hive.Store(MemoryRegistry()).ok());
    EXPECT_EQ(ReadFileText(path), texts[i]);
  }
}

TEST(HiveFile, RefusesAnOversizedFile) {
  TempDir dir;
  HiveFile hive(dir / "registry.reg");
  WriteFileText(hive.path(), "REGEDIT4\n");
  std::filesystem::resize_file(hive.path(), kMaxHiveFileSize + 1);  // sparse: cheap
  MemoryRegistry reg;
  const Status st = hive.Load(reg);
  EXPECT_FALSE(st.ok());
  EXPECT_NE(st.message().find("too large"), std::string::npos) << st.message();
  EXPECT_FALSE(hive.Update([](Registry&) { return true; }).ok());
  EXPECT_EQ(std::filesystem::file_size(hive.path()), kMaxHiveFileSize + 1);
}

TEST(HiveFile, StoreReplacesTheTreeAndKeepsThePermissions) {
  TempDir dir;
  HiveFile hive(dir / "registry.reg");
  MemoryRegistry reg;
  ASSERT_TRUE(reg.CreateKey("X"));
  ASSERT_TRUE(hive.Store(reg).ok());
  std::filesystem::permissions(hive.path(), std::filesystem::perms(0600));
  ASSERT_TRUE(reg.WriteString("X", "s", "t"));
  ASSERT_TRUE(hive.Store(reg).ok());
  EXPECT_EQ(std::filesystem::status(hive.path()).permissions(), std::filesystem::perms(0600));
  MemoryRegistry back;
  ASSERT_TRUE(hive.Load(back).ok());
  EXPECT_TRUE(back == reg);
}

TEST(HiveFile, UpdateClearsTemporariesOfAKilledWriter) {
  TempDir dir;
  HiveFile hive(dir / "registry.reg");
  WriteFileText(dir / ".registry.reg.AbC123", "half a tree");
  WriteFileText(dir / "unrelated.reg.AbC123", "keep");
  ASSERT_TRUE(hive.Update([](Registry& r) { return r.CreateKey("K"); }).ok());
  EXPECT_FALSE(std::filesystem::exists(dir / ".registry.reg.AbC123"));
  EXPECT_TRUE(std::filesystem::exists(dir / "unrelated.reg.AbC123"));
}

TEST(HiveFile, PathComesFromOptionThenEnvironmentThenDataFolder) {
  const char* saved_reg = std::getenv("ZELIN_REGISTRY");
  const std::string keep_reg = saved_reg ? saved_reg : "";
  const char* saved_xdg = std::getenv("XDG_DATA_HOME");
  const std::string keep_xdg = saved_xdg ? saved_xdg : "";

  ::setenv("ZELIN_REGISTRY", "/env/hive.reg", 1);
  EXPECT_EQ(ResolveRegistryPath("/opt/x.reg"), "/opt/x.reg");
  EXPECT_EQ(ResolveRegistryPath(), "/env/hive.reg");
  ::unsetenv("ZELIN_REGISTRY");
  ::setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(ResolveRegistryPath(), "/data/zelin/registry.reg");
  ::setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(ResolveRegistryPath().filename(), "registry.reg");
  EXPECT_NE(ResolveRegistryPath().string().find(".local/share/zelin"), std::string::npos);

  if (saved_reg) ::setenv("ZELIN_REGISTRY", keep_reg.c_str(), 1);
  if (saved_xdg)
    ::setenv("XDG_DATA_HOME", keep_xdg.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace zelin
