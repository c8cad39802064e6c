#include "format/thread_block.h"

#include "format/decimal.h"
#include "format/text_line.h"

namespace kolvaprof {
namespace {

constexpr std::string_view kBlockTag = "@block ";
constexpr std::string_view kLastBlockTag = "@last ";

}  // namespace

std::string makeThreadBlockHeader(int32_t threadNumber, std::string_view name, std::size_t recordBytes,
                                  bool last) {
  std::string line(last ? kLastBlockTag : kBlockTag);
  appendDecimal(line, static_cast<int64_t>(recordBytes));
  line.push_back(' ');
  line.append(makeThreadHeaderLine(threadNumber, name));
  return line;
}

std::optional<ThreadBlockHeader> parseThreadBlockHeader(std::string_view line) {
  ThreadBlockHeader header;
  if (line.substr(0, kLastBlockTag.size()) == kLastBlockTag) {
    header.last = true;
    line.remove_prefix(kLastBlockTag.size());
  } else if (line.substr(0, kBlockTag.size()) == kBlockTag) {
    line.remove_prefix(kBlockTag.size());
  } else {
    return std::nullopt;
  }
  std::size_t digits = 0;
  for (; digits < line.size() && line[digits] >= '0' && line[digits] <= '9'; ++digits) {
    if (digits == 18) return std::nullopt;
    header.recordBytes = header.recordBytes * 10 + static_cast<std::uint64_t>(line[digits] - '0');
  }
  if (digits == 0 || digits >= line.size() || line[digits] != ' ') return std::nullopt;
  const TextLine thread = parseTextLine(line.substr(digits + 1));
  if (thread.kind != TextLine::Kind::Header || !thread.thread || *thread.thread < 0) return std::nullopt;
  header.threadNumber = *thread.thread;
  header.name = thread.threadName;
  return header;
}

}  // namespace kolvaprof
