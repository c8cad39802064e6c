#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace kolvaprof {

// A test with a directory of its own under /tmp, gone again afterwards with
// everything written into it.
class TempDirTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kolvaprof-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = std::string(pattern) + "/";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }

  std::string root;  // ends with "/"
};

}  // namespace kolvaprof
