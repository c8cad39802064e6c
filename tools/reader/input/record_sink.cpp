#include "reader/input/record_sink.h"

#include <fmt/format.h>

#include "reader/input/run_directory.h"

namespace kolvaprof::reader {

Position RecordRun::position(const LogFileInfo& file, std::size_t k) const {
  const std::uint64_t number = firstRecord + k;
  return Position{file.name, number, 0, number * layout.bytes()};
}

namespace {

// A record that is sound as a record, as the sink takes it.
void pass(RecordSink& sink, const LogFileInfo& file, RecordLayout layout, const BinaryRecord& r,
          const Position& where) {
  if (r.isExit()) {
    LoggedExit exit;
    exit.thread = r.thread;
    exit.depth = r.depth;
    if (layout.withTime) exit.time = r.time;
    sink.exit(file, exit, where);
    return;
  }
  LoggedEntry entry;
  entry.thread = r.thread;
  entry.depth = r.depth;
  entry.methodNumber = r.method;
  entry.tag = r.tag;
  if (layout.withCallNumber) entry.callNumber = r.callNumber;
  if (layout.withTime) entry.time = r.time;
  sink.entry(file, entry, where);
}

}  // namespace

void RecordSink::records(const LogFileInfo& file, const RecordRun& run) {
  for (std::size_t k = 0; k < run.count; ++k) {
    BinaryRecord r = run.records[k];
    r.thread = run.thread;
    pass(*this, file, run.layout, r, run.position(file, k));
  }
}

void handRecord(RecordSink& sink, Diagnostics& diagnostics, const LogFileInfo& file, RecordLayout layout,
                BinaryRecord r, std::uint64_t number) {
  const Position where{file.name, number, 0, number * layout.bytes()};
  if (r.thread < -1 || (layout.withThreadNumber && r.thread == -1)) {
    diagnostics.report(Problem::UnknownThread, where, fmt::format("negative thread number {}", r.thread));
    r.thread = -1;
  }
  if (r.isExit() && (r.tag != 0 || r.callNumber != 0))
    diagnostics.report(Problem::NonZeroExitWords, where,
                       fmt::format("exit record with words {} and {}", r.tag, r.callNumber));
  pass(sink, file, layout, r, where);
}

}  // namespace kolvaprof::reader
