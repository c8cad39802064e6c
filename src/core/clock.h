#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "core/run_clock.h"

namespace kolvaprof {

inline constexpr const char* kUnknownStartTime = "UNKNOWN-STARTTIME";

// The whole-second calendar clock of the core: the run's start stamp and the
// wait at shutdown. Tests hand the core a clock of their own, so none of
// them sleeps.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::time_t now() const = 0;
  // A short pause while waiting for the clock to move on.
  virtual void pause() const = 0;
  // The clock of the records' times, started now (RecordTime).
  virtual std::unique_ptr<RunClock> startRunClock() const { return startSystemRunClock(); }
};

// The system's clock; lives as long as the process.
const Clock& systemClock();

// Fourteen digits, yyyyMMddHHmmss in local time, or kUnknownStartTime when the
// clock cannot be converted.
std::string formatStartTimeStamp(std::time_t secondsSinceEpoch);

// The working directory as the system reports it, or an empty text when it is
// longer than the 1024-character buffer or cannot be read.
std::string currentWorkingDirectory();

// Returns once the clock has moved past `noted`.
void waitForNextSecond(const Clock& clock, std::time_t noted);

}  // namespace kolvaprof
