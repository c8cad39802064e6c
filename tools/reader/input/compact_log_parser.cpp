#include "reader/input/compact_log_parser.h"

#include <fmt/format.h>

#include <cstring>

#include "format/compact_block.h"
#include "reader/input/diagnostics.h"
#include "reader/input/layout_detection.h"
#include "reader/input/record_sink.h"
#include "reader/input/run_directory.h"

namespace kolvaprof::reader {

CompactLogParser::CompactLogParser(const LogFileInfo& file, RecordLayout layout, RecordSink& sink,
                                   Diagnostics& diagnostics)
    : file(file), layout(layout), sink(sink), diagnostics(diagnostics) {}

void CompactLogParser::feed(std::string_view data) {
  pending.append(data);
  std::size_t at = 0;
  while (at < pending.size()) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(pending.data()) + at;
    decoded.clear();
    const CompactBlockRead read = readCompactBlock(bytes, pending.size() - at, decoded);
    if (read.status == CompactBlockRead::kTruncated) break;
    if (read.status == CompactBlockRead::kBlock && !(read.layout == layout)) {
      damaged(at, "a block of records in another layout (" + describeLayout(read.layout) + ")");
    } else if (read.status == CompactBlockRead::kCorrupt) {
      damaged(at, read.problem);
    } else {
      hand();
      at += read.consumed;
      continue;
    }
    // On to the next place a block may start.
    const char* next = static_cast<const char*>(
        memmem(pending.data() + at + 1, pending.size() - at - 1, "kvb", 3));
    at = next ? static_cast<std::size_t>(next - pending.data()) : pending.size();
  }
  pending.erase(0, at);
  pendingOffset += at;
}

void CompactLogParser::hand() {
  std::size_t begin = 0;
  for (const CompactBlockRuns::Run& run : decoded.runs) {
    const std::int32_t thread = decoded.records[begin].thread;
    // A negative thread number is reported with each of its records.
    if (run.kept || (layout.withThreadNumber && thread < 0)) {
      for (; begin < run.end; ++begin) handRecord(sink, diagnostics, file, layout, decoded.records[begin], records++);
      continue;
    }
    RecordRun batch;
    batch.records = decoded.records.data() + begin;
    batch.count = run.end - begin;
    batch.thread = thread;
    batch.layout = layout;
    batch.firstRecord = records;
    sink.records(file, batch);
    records += batch.count;
    begin = run.end;
  }
}

void CompactLogParser::damaged(std::size_t at, const std::string& problem) {
  diagnostics.report(Problem::DamagedBlock, Position{file.name, 0, 0, pendingOffset + at},
                     problem + "; read on from the next block");
}

void CompactLogParser::finish() {
  if (!pending.empty()) {
    diagnostics.report(Problem::TruncatedRecord, Position{file.name, 0, 0, pendingOffset},
                       fmt::format("a block cut short by the end of the file ({})",
                                   counted(pending.size(), "byte")));
    pending.clear();
  }
}

}  // namespace kolvaprof::reader
