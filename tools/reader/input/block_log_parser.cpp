#include "reader/input/block_log_parser.h"

#include <cstring>

#include "format/thread_block.h"
#include "reader/input/diagnostics.h"
#include "reader/input/line_splitter.h"
#include "reader/input/run_directory.h"

namespace kolvaprof::reader {

void BlockLogParser::feed(std::string_view data) {
  while (!data.empty()) {
    if (remaining > 0) {
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, data.size()));
      if (textBlock) textBlock->feed(data.substr(0, take));
      if (binaryBlock) binaryBlock->feed(data.substr(0, take));
      if (compactBlock) compactBlock->feed(data.substr(0, take));
      remaining -= take;
      offset += take;
      data.remove_prefix(take);
      if (remaining == 0) endBlock();
      continue;
    }
    const void* found = std::memchr(data.data(), '\n', data.size());
    const std::size_t length =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - data.data()) : data.size();
    if (pendingHeader.empty() && !skippingLongLine) headerOffset = offset;
    if (!skippingLongLine) {
      // A header is short; a longer line is no header and is not kept whole.
      const std::size_t room = LineSplitter::kMaxLine - pendingHeader.size();
      pendingHeader.append(data.substr(0, std::min(length, room)));
      if (length >= room && !found) skippingLongLine = true;
    }
    const std::size_t used = length + (found ? 1 : 0);
    offset += used;
    data.remove_prefix(used);
    if (found) headerLine();
  }
}

void BlockLogParser::finish() {
  if (remaining > 0) {
    diagnostics.report(Problem::TruncatedRecord, Position{file.name, 0, 0, offset},
                       "the file ends " + counted(remaining, "byte") + " short of the end of its last block");
    remaining = 0;
    endBlock();
  }
  if (!pendingHeader.empty() || skippingLongLine) {
    diagnostics.report(Problem::IncompleteLine, Position{file.name, 0, 0, headerOffset},
                       quoted(pendingHeader));
    pendingHeader.clear();
    skippingLongLine = false;
  }
}

void BlockLogParser::headerLine() {
  const std::optional<ThreadBlockHeader> parsed =
      skippingLongLine ? std::nullopt : parseThreadBlockHeader(pendingHeader);
  if (!parsed) {
    diagnostics.report(Problem::StrayLine, Position{file.name, 0, 0, headerOffset},
                       "no block header: " + quoted(pendingHeader));
  }
  pendingHeader.clear();
  skippingLongLine = false;
  if (!parsed) return;
  thread = parsed->threadNumber;
  sink.header(thread, parsed->name);
  remaining = parsed->recordBytes;
  lastBlock = parsed->last;
  RecordSink& blockRecords = *this;
  if (layout && compact) {
    compactBlock.emplace(file, *layout, blockRecords, diagnostics);
  } else if (layout) {
    binaryBlock.emplace(file, *layout, blockRecords, diagnostics);
  } else {
    textBlock.emplace(file, blockRecords, diagnostics);
  }
  if (remaining == 0) endBlock();
}

void BlockLogParser::endBlock() {
  if (textBlock) textBlock->finish();
  if (binaryBlock) binaryBlock->finish();
  if (compactBlock) compactBlock->finish();
  textBlock.reset();
  binaryBlock.reset();
  compactBlock.reset();
  if (lastBlock) sink.threadEnded(file, thread, Position{file.name, 0, 0, headerOffset});
  lastBlock = false;
}

void BlockLogParser::header(std::int32_t number, std::string_view name) { sink.header(number, name); }

void BlockLogParser::entry(const LogFileInfo& in, const LoggedEntry& logged, const Position& where) {
  LoggedEntry entry = logged;
  entry.thread = thread;
  sink.entry(in, entry, where);
}

void BlockLogParser::exit(const LogFileInfo& in, const LoggedExit& logged, const Position& where) {
  LoggedExit exit = logged;
  exit.thread = thread;
  sink.exit(in, exit, where);
}

void BlockLogParser::records(const LogFileInfo& in, const RecordRun& run) {
  RecordRun ours = run;
  ours.thread = thread;
  sink.records(in, ours);
}

}  // namespace kolvaprof::reader
