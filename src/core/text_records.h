#pragma once

#include <cstdint>
#include <string>

namespace kolvaprof {

class MethodInfo;

struct TextEntryFields {
  const MethodInfo& method;
  int64_t receiverTag;
  bool withThreadNumber;
  int32_t threadNumber;
  bool withCallNumber;
  int64_t callNumber;
  std::string callerLocation;  // no "From:" piece when empty
};

// Appends `[@T ][N ][From:L ]ret pkg.Class(tag).name(params){` and a line feed.
void appendTextEntryLine(std::string& line, const TextEntryFields& fields);

// Appends `[@T ]}[ exceptionClass]` and a line feed; the exception class is
// written (after one blank) only when `poppedByException` is true.
void appendTextExitLine(std::string& line, bool withThreadNumber, int32_t threadNumber,
                        bool poppedByException, const std::string& exceptionClass);

}  // namespace kolvaprof
