#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/method_text.h"

namespace kolvaprof {

// What an entry line carries besides its method; each optional piece is
// left out when unset.
struct TextEntryFields {
  int64_t receiverTag = 0;
  bool withThreadNumber = false;
  int32_t threadNumber = 0;
  bool withCallNumber = false;
  int64_t callNumber = 0;
  std::string_view callerLocation;  // no "From:" piece when empty
  std::optional<int64_t> time;      // nanoseconds since the run started
};

struct TextEntry {
  MethodText method;
  TextEntryFields fields;
};

// Appends `[@T ][N ][From:L ][+ns ]ret pkg.Class(tag).name(params){` and a
// line feed. The time comes last before the method, so every other piece
// keeps its place, and its "+" tells it from a call number or a type name.
void appendTextEntryLine(std::string& line, const TextEntry& entry);

// A method's entry line around its receiver number: `ret pkg.Class(` and
// `).name(params){` with the line feed. Made once per method, so a call only
// copies them.
std::string makeEntryPrefix(const MethodText& method);
std::string makeEntrySuffix(const MethodText& method);

// The same line as appendTextEntryLine, from the pieces made above.
struct TextEntryParts {
  std::string_view prefix;
  std::string_view suffix;
  TextEntryFields fields;
};

// At least as many bytes as writeTextEntryLine writes, cheaper than counting
// digits, so a caller can hand over room in a buffer before the line exists.
std::size_t textEntryLineBound(const TextEntryParts& entry);
// Writes the line at `out`, which has room for textEntryLineBound bytes;
// returns the bytes written.
std::size_t writeTextEntryLine(char* out, const TextEntryParts& entry);

// The exit line of appendTextExitLine, into a buffer of at least
// textExitLineBound bytes; returns the bytes written. The time goes by
// reference, as an optional passed by value stalls the call on its way
// through memory.
std::size_t textExitLineBound(std::string_view exceptionClass);
std::size_t writeTextExitLine(char* out, bool withThreadNumber, int32_t threadNumber,
                              bool poppedByException, std::string_view exceptionClass,
                              const std::optional<int64_t>& time = std::nullopt);

// Appends `[@T ]}[ +ns][ exceptionClass]` and a line feed; the exception
// class is written (after one blank) only when `poppedByException` is true.
// The "}" stays right after the thread piece, so lines nest by their braces
// as before; no class name starts with "+".
void appendTextExitLine(std::string& line, bool withThreadNumber, int32_t threadNumber,
                        bool poppedByException, std::string_view exceptionClass,
                        std::optional<int64_t> time = std::nullopt);

// `@thread N = "name"` and a line feed: the header of a thread's records, the
// name escaped (format/name_escape.h).
std::string makeThreadHeaderLine(int32_t threadNumber, std::string_view name);

// One line of a text log, without its line feed, cut into its pieces (views
// into the line, but for the thread name of a header).
struct TextLine {
  enum class Kind { Entry, Exit, Header, Stray };
  Kind kind = Kind::Stray;
  std::optional<int32_t> thread;  // "@N " before an entry or exit; N of a header
  // Entries.
  std::optional<int64_t> callNumber;
  std::optional<std::string_view> location;  // after "From:"
  std::optional<int64_t> time;               // "+ns" of an entry or exit
  MethodText method;
  int64_t receiverTag = 0;
  // Exits: "} <exception>"; the name may be empty ("} ").
  std::optional<std::string_view> exception;
  // Headers: `@thread N = "name"`, unquoted and unescaped.
  std::string threadName;
};

// Each optional piece is recognised on its own, so lines of any settings
// (and a shared file mixing threads) read alike. A line that is no entry,
// exit or header is Stray.
TextLine parseTextLine(std::string_view line);

}  // namespace kolvaprof
