#include "core/clock.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace kolvaprof {
namespace {

class SystemClock : public Clock {
 public:
  std::time_t now() const override { return std::time(nullptr); }
  void pause() const override { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }
};

}  // namespace

const Clock& systemClock() {
  static const SystemClock* clock = new SystemClock;
  return *clock;
}

std::string formatStartTimeStamp(std::time_t secondsSinceEpoch) {
  std::tm local{};
  if (localtime_r(&secondsSinceEpoch, &local) == nullptr) return kUnknownStartTime;
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d",
                                   local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                   local.tm_hour, local.tm_min, local.tm_sec);
  // Years past 9999 (or before 0) would not give fourteen digits.
  if (length != 14) return kUnknownStartTime;
  return text;
}

std::string currentWorkingDirectory() {
  char buffer[1024];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  return buffer;
}

void waitForNextSecond(const Clock& clock, std::time_t noted) {
  while (clock.now() <= noted) clock.pause();
}

}  // namespace kolvaprof
