#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "format/method_text.h"

namespace kolvaprof {

// What an entry line carries; each optional piece is left out when unset.
struct TextEntry {
  MethodText method;
  int64_t receiverTag = 0;
  bool withThreadNumber = false;
  int32_t threadNumber = 0;
  bool withCallNumber = false;
  int64_t callNumber = 0;
  std::string_view callerLocation;  // no "From:" piece when empty
};

// Appends `[@T ][N ][From:L ]ret pkg.Class(tag).name(params){` and a line feed.
void appendTextEntryLine(std::string& line, const TextEntry& entry);

// Appends `[@T ]}[ exceptionClass]` and a line feed; the exception class is
// written (after one blank) only when `poppedByException` is true.
void appendTextExitLine(std::string& line, bool withThreadNumber, int32_t threadNumber,
                        bool poppedByException, std::string_view exceptionClass);

// `@thread N = "name"` and a line feed: the header of a thread's records.
std::string makeThreadHeaderLine(int32_t threadNumber, std::string_view name);

}  // namespace kolvaprof
