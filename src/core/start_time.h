#pragma once

#include <ctime>
#include <string>

namespace kolvaprof {

inline constexpr const char* kUnknownStartTime = "UNKNOWN-STARTTIME";

// Fourteen digits, yyyyMMddHHmmss in local time, or kUnknownStartTime when the
// clock cannot be converted.
std::string formatStartTimeStamp(std::time_t secondsSinceEpoch);

// The working directory as the system reports it, or an empty text when it is
// longer than the 1024-character buffer or cannot be read.
std::string currentWorkingDirectory();

// Blocks until the whole-second calendar clock has moved past `noted`.
void waitForNextSecond(std::time_t noted);

}  // namespace kolvaprof
