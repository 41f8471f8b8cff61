// Test entry: every test program runs with a fresh, private settings folder
// so nothing a test stores reaches the user's registry store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  std::string dir = qmtest::MakeTempDir("qm-config");
  ::setenv("QUILLMORE_CONFIG_DIR", dir.c_str(), 1);
  int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return rc;
}
