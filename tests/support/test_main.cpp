// Test entry point: whatever a test does, the transport refuses any address
// outside 127.0.0.0/8, and every test process writes its files into a folder of
// its own (::testing::TempDir() follows TEST_TMPDIR), so that test runs side by
// side never share a file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
  ::setenv("ZELIN_LOOPBACK_ONLY", "1", 1);
  ::unsetenv("ZELIN_INTERFACES");
  ::unsetenv("ZELIN_BROADCAST");

  std::string folder = (std::filesystem::temp_directory_path() / "zelin-test-XXXXXX").string();
  const bool own_folder = ::mkdtemp(folder.data()) != nullptr;
  if (own_folder) ::setenv("TEST_TMPDIR", folder.c_str(), 1);

  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  if (own_folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  return result;
}
