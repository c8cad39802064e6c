#include "output/console.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(Console, PrintMessage) {
  std::ostringstream out;
  kolvaprof::printMessage(&out, "record thread ID.");
  kolvaprof::printMessage(&out, "");
  EXPECT_EQ(out.str(), "profiler> record thread ID.\nprofiler> \n");

  ::testing::internal::CaptureStdout();
  kolvaprof::printMessage(nullptr, "nothing");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
