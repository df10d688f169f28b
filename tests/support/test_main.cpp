// Test entry point: whatever a test does, the transport refuses any address
// outside 127.0.0.0/8.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  ::setenv("ZELIN_LOOPBACK_ONLY", "1", 1);
  ::unsetenv("ZELIN_INTERFACES");
  ::unsetenv("ZELIN_BROADCAST");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
