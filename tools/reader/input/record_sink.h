#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "format/binary_record.h"
#include "format/method_text.h"
#include "reader/input/diagnostics.h"

namespace kolvaprof::reader {

struct LogFileInfo;

// An entry as a log holds it: binary records name the method by its
// Index.dat number, text lines spell it out.
struct LoggedEntry {
  std::int32_t thread = -1;  // the recorded thread number; -1 when records carry none
  std::int64_t depth = -1;   // the depth word of a binary record; -1 for text
  std::int32_t methodNumber = 0;         // binary
  const MethodText* method = nullptr;    // text
  std::int64_t tag = 0;
  std::optional<std::int64_t> callNumber;
  std::optional<std::string_view> location;  // text: the "From:" piece
  std::optional<std::int64_t> time;          // nanoseconds since the run started (RecordTime)
};

struct LoggedExit {
  std::int32_t thread = -1;
  std::int64_t depth = -1;
  std::optional<std::string_view> exception;  // text: "} <exception>"
  std::optional<std::int64_t> time;
};

// Records of one thread from one compact block, read by their operations:
// an exit's tag and call words are zero and every record's thread is
// `thread` (not negative, or -1 in a layout without thread numbers), so none
// of them needs the checks a record's own words do. The record numbers go on from
// `firstRecord`, as those of fixed-layout records would.
struct RecordRun {
  const BinaryRecord* records = nullptr;
  std::size_t count = 0;
  std::int32_t thread = -1;
  RecordLayout layout;
  std::uint64_t firstRecord = 0;

  Position position(const LogFileInfo& file, std::size_t k) const;
};

// Where the log parsers hand the records of one file, in file order, once
// they are sound as records; whether they nest is for the receiver to judge.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // `@thread N = "name"` of a text log.
  virtual void header(std::int32_t number, std::string_view name) = 0;
  virtual void entry(const LogFileInfo& file, const LoggedEntry& entry, const Position& where) = 0;
  virtual void exit(const LogFileInfo& file, const LoggedExit& exit, const Position& where) = 0;
  // After the last records of a thread that ended before the run did (the
  // last block of a virtual thread); the thread's records carry `number`.
  virtual void threadEnded(const LogFileInfo&, std::int32_t /*number*/, const Position&) {}
  // The same as entry() and exit() of each record in turn; a sink may do it
  // at less cost per record.
  virtual void records(const LogFileInfo& file, const RecordRun& run);
};

// Hands a record read from its fixed-layout words (or kept so in a compact
// block) to the sink, as record `number` of the file, once it is checked as
// a record.
void handRecord(RecordSink& sink, Diagnostics& diagnostics, const LogFileInfo& file, RecordLayout layout,
                BinaryRecord record, std::uint64_t number);

}  // namespace kolvaprof::reader
