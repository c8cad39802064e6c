#include "reader/input/binary_log_parser.h"

#include <fmt/format.h>

#include "reader/input/diagnostics.h"
#include "reader/input/record_sink.h"
#include "reader/input/run_directory.h"

namespace kolvaprof::reader {

void BinaryLogParser::feed(std::string_view data) {
  const std::size_t size = layout.bytes();
  if (!carry.empty()) {
    const std::size_t take = std::min(size - carry.size(), data.size());
    carry.append(data.substr(0, take));
    data.remove_prefix(take);
    if (carry.size() < size) return;
    record(decodeRecord(carry.data(), layout));
    carry.clear();
  }
  for (; data.size() >= size; data.remove_prefix(size)) record(decodeRecord(data.data(), layout));
  carry.assign(data);
}

void BinaryLogParser::finish() {
  if (carry.empty()) return;
  const Position where{file.name, records, 0, records * layout.bytes()};
  diagnostics.report(Problem::TruncatedRecord, where,
                     fmt::format("{} left over at the end ({} is not a multiple of {})", counted(carry.size(), "byte"),
                                 records * layout.bytes() + carry.size(), layout.bytes()));
  carry.clear();
}

void BinaryLogParser::record(const BinaryRecord& r) { handRecord(sink, diagnostics, file, layout, r, records++); }

}  // namespace kolvaprof::reader
