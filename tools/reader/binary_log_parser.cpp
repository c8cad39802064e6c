#include "reader/binary_log_parser.h"

#include <fmt/format.h>

#include "reader/call_stream.h"
#include "reader/run_directory.h"

namespace kolvaprof::reader {
namespace {

std::int32_t word(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                   static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
}

}  // namespace

BinaryRecord decodeRecord(const char* bytes, const Layout& layout) {
  BinaryRecord r;
  r.method = word(bytes);
  r.tag = word(bytes + 4);
  std::size_t at = 8;
  if (layout.callNumbers) {
    r.callNumber = word(bytes + at);
    at += 4;
  }
  r.depth = word(bytes + at);
  if (layout.threadIds) r.thread = word(bytes + at + 4);
  return r;
}

void BinaryLogParser::feed(std::string_view data) {
  const std::size_t size = layout.bytes();
  if (!carry.empty()) {
    const std::size_t take = std::min(size - carry.size(), data.size());
    carry.append(data.substr(0, take));
    data.remove_prefix(take);
    if (carry.size() < size) return;
    record(carry.data());
    carry.clear();
  }
  for (; data.size() >= size; data.remove_prefix(size)) record(data.data());
  carry.assign(data);
}

void BinaryLogParser::finish() {
  if (carry.empty()) return;
  const Position where{file.name, records, 0, records * layout.bytes()};
  stream.diagnostics().report(
      Problem::TruncatedRecord, where,
      fmt::format("{} bytes left over at the end ({} is not a multiple of {})", carry.size(),
                  records * layout.bytes() + carry.size(), layout.bytes()));
  carry.clear();
}

void BinaryLogParser::record(const char* bytes) {
  BinaryRecord r = decodeRecord(bytes, layout);
  const Position where{file.name, records, 0, records * layout.bytes()};
  ++records;
  if (r.thread < -1 || (layout.threadIds && r.thread == -1)) {
    stream.diagnostics().report(Problem::UnknownThread, where, fmt::format("negative thread number {}", r.thread));
    r.thread = -1;
  }
  ThreadState* thread = stream.thread(threadKey(r.thread, file.index), r.thread, file, where);
  if (thread == nullptr) return;
  if (r.method == 0) {
    if (r.tag != 0 || r.callNumber != 0)
      stream.diagnostics().report(Problem::NonZeroExitWords, where,
                                  fmt::format("exit record with words {} and {}", r.tag, r.callNumber));
    stream.exit(*thread, Exit{}, r.depth, where);
    return;
  }
  Entry entry;
  entry.frame = stream.frames().forMethodNumber(r.method, stream.diagnostics(), where);
  entry.tag = r.tag;
  if (layout.callNumbers) entry.callNumber = r.callNumber;
  stream.enter(*thread, entry, r.depth, where);
}

}  // namespace kolvaprof::reader
