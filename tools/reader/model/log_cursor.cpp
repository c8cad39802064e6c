#include "reader/model/log_cursor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "format/binary_record.h"
#include "format/compact_block.h"
#include "format/thread_block.h"
#include "reader/input/diagnostics.h"
#include "reader/input/run_directory.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {
namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File open(const LogFileInfo& file) { return File(std::fopen(file.path.c_str(), "rb"), &std::fclose); }

// One piece at a time is read, whichever cursor reads it.
std::string& buffer() {
  static std::string piece;
  return piece;
}

// The time of the first record from where `in` stands: the last eight bytes
// of a binary record, the "+" piece of the first text line that has one
// (header lines have none) within the next 512 bytes.
// The time of the first record of the compact block at `in`.
std::optional<std::int64_t> firstCompactTime(std::FILE* in, RecordLayout layout) {
  if (!layout.withTime) return std::nullopt;
  std::vector<unsigned char> block(kCompactBlockHeaderBytes);
  if (std::fread(block.data(), 1, block.size(), in) != block.size()) return std::nullopt;
  const std::size_t whole = compactBlockBytes(block.data());
  if (whole > (64u << 20)) return std::nullopt;
  block.resize(whole);
  const std::size_t body = whole - kCompactBlockHeaderBytes;
  if (std::fread(block.data() + kCompactBlockHeaderBytes, 1, body, in) != body) return std::nullopt;
  std::vector<BinaryRecord> records;
  const CompactBlockRead read = readCompactBlock(block.data(), block.size(), records);
  if (read.status != CompactBlockRead::kBlock || records.empty()) return std::nullopt;
  return records.front().time;
}

std::optional<std::int64_t> firstTime(std::FILE* in, LogEncoding encoding) {
  if (encoding.layout && encoding.compact) return firstCompactTime(in, *encoding.layout);
  const std::optional<RecordLayout>& layout = encoding.layout;
  char bytes[512];
  const std::size_t got = std::fread(bytes, 1, layout ? layout->bytes() : sizeof bytes, in);
  if (layout) {
    if (!layout->withTime || got < layout->bytes()) return std::nullopt;
    return decodeRecord(bytes, *layout).time;
  }
  const std::string_view text(bytes, got);
  std::size_t line = 0;  // start of the line being looked at
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\n') line = at + 1;
    // A thread's name, in its header, may hold anything.
    if (text.substr(line, 8) == "@thread ") {
      const std::size_t end = text.find('\n', line);
      if (end == std::string_view::npos) break;
      at = end - 1;
      continue;
    }
    if (text[at] != '+' || (at > 0 && text[at - 1] != ' ' && text[at - 1] != '\n')) continue;
    std::int64_t time = 0;
    std::size_t digit = at + 1;
    for (; digit < text.size() && text[digit] >= '0' && text[digit] <= '9' && digit < at + 19; ++digit)
      time = time * 10 + (text[digit] - '0');
    if (digit > at + 1 && digit < text.size() && (text[digit] == ' ' || text[digit] == '\n')) return time;
  }
  return std::nullopt;
}

}  // namespace

OpenFiles::~OpenFiles() {
  for (const auto& [path, fd] : open) ::close(fd);
}

int OpenFiles::get(const std::string& path) {
  const auto found = open.find(path);
  if (found != open.end()) return found->second;
  if (open.size() >= kMaxOpen) {
    for (const auto& [name, fd] : open) ::close(fd);
    open.clear();
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) open.emplace(path, fd);
  return fd;
}

LogCursor::LogCursor(Run& run, const LogFileInfo& file, std::vector<Extent> extents, EventSink& sink,
                     Diagnostics& diagnostics, OpenFiles& files)
    : file(file),
      files(files),
      extents(std::move(extents)),
      diagnostics(diagnostics),
      calls(run.frames(), run.index(), diagnostics, sink),
      parser(file, run.encoding(), calls, diagnostics) {
  calls.beginFile(file);
}

bool LogCursor::step() {
  if (finished) return false;
  while (extent < extents.size() && done == extents[extent].length) {
    ++extent;
    done = 0;
  }
  if (extent < extents.size()) {
    std::string& piece = buffer();
    piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, extents[extent].length - done)));
    const std::uint64_t at = extents[extent].offset + done;
    const int fd = files.get(file.path);
    const ssize_t got = fd < 0 ? -1 : ::pread(fd, piece.data(), piece.size(), static_cast<off_t>(at));
    if (got <= 0) {
      diagnostics.report(Problem::UnreadableFile, file.name + ": cannot be read at byte " + std::to_string(at));
      extent = extents.size();
    } else {
      piece.resize(static_cast<std::size_t>(got));
      done += piece.size();
      parser.feed(piece);
      return true;
    }
  }
  parser.finish();
  calls.endFile(file);
  calls.finish();
  finished = true;
  return false;
}

std::optional<std::int64_t> firstRecordTime(const LogFileInfo& file, LogEncoding encoding) {
  const File in = open(file);
  return in ? firstTime(in.get(), encoding) : std::nullopt;
}

std::vector<ThreadBlocks> indexThreadBlocks(const LogFileInfo& file, LogEncoding encoding,
                                            Diagnostics& diagnostics) {
  std::vector<ThreadBlocks> threads;
  std::unordered_map<std::int32_t, std::size_t> byNumber;
  const File in = open(file);
  if (!in) {
    diagnostics.report(Problem::UnreadableFile, file.name + ": cannot be opened");
    return threads;
  }
  std::uint64_t offset = 0;
  std::string line;
  int c;
  while (offset < file.size) {
    line.clear();
    while ((c = std::fgetc(in.get())) != EOF && c != '\n' && line.size() < 65536) line.push_back(static_cast<char>(c));
    const std::optional<ThreadBlockHeader> header = parseThreadBlockHeader(line);
    // What is not a block is left to the parser to report: it goes with the
    // thread before it, or the first thread.
    const std::uint64_t headerBytes = line.size() + (c == '\n' ? 1 : 0);
    const std::uint64_t length = std::min(headerBytes + (header ? header->recordBytes : 0), file.size - offset);
    const std::int32_t number = header ? header->threadNumber : (threads.empty() ? -1 : threads.back().number);
    const auto [found, added] = byNumber.emplace(number, threads.size());
    if (added) threads.push_back({number, {}, std::nullopt});
    ThreadBlocks& thread = threads[found->second];
    if (thread.extents.empty() && header && header->recordBytes > 0) thread.firstTime = firstTime(in.get(), encoding);
    if (!thread.extents.empty() && thread.extents.back().offset + thread.extents.back().length == offset)
      thread.extents.back().length += length;
    else
      thread.extents.push_back({offset, length});
    offset += length;
    if (c == EOF || std::fseek(in.get(), static_cast<long>(offset), SEEK_SET) != 0) break;
  }
  return threads;
}

}  // namespace kolvaprof::reader
