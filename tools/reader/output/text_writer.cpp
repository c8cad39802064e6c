#include "reader/output/text_writer.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <unordered_set>
#include <utility>
#include <vector>

#include "format/name_escape.h"
#include "format/text_line.h"
#include "reader/input/diagnostics.h"
#include "reader/input/run_directory.h"
#include "reader/model/log_cursor.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {

TextWriter::TextWriter(const FrameTable& frames, std::FILE* out, std::string outputDirectory)
    : frames(frames), out(out), outputDirectory(std::move(outputDirectory)) {
  if (this->outputDirectory.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(this->outputDirectory, error);
  if (error) throw ReaderError("cannot create " + this->outputDirectory + ": " + error.message());
}

TextWriter::~TextWriter() {
  if (file != nullptr && file != out) std::fclose(file);
}

void TextWriter::beginFile(const LogFileInfo& log) {
  headed.clear();
  if (outputDirectory.empty()) {
    file = out;
    buffer.append("== ").append(log.name).append("\n");
    return;
  }
  const std::string path = outputDirectory + "/" + log.name;
  file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw ReaderError("cannot write " + path);
}

void TextWriter::endFile(const LogFileInfo&) {
  flush(true);
  if (file != out && std::fclose(file) != 0) throw ReaderError("cannot write the text of a log file");
  file = nullptr;
}

void TextWriter::flush(bool force) {
  if (buffer.size() < (1u << 16) && !force) return;
  if (std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) throw ReaderError("write error");
  buffer.clear();
}

// The agent writes a thread's header just before its first record in a file.
void TextWriter::header(const ThreadState& thread) {
  if (thread.number >= 0 && thread.named && headed.insert(thread.key).second)
    buffer += makeThreadHeaderLine(thread.number, thread.name);
}

namespace {

void appendEntry(std::string& buffer, const FrameTable& frames, const ThreadState& thread, const Entry& entry) {
  const MethodName& m = frames.method(entry.frame);
  appendTextEntryLine(buffer, TextEntry{{m.returnType, m.packageName, m.className, m.methodName, m.parameters},
                                       {entry.tag, thread.number >= 0, thread.number, entry.callNumber.has_value(),
                                        entry.callNumber.value_or(0), entry.location.value_or(""), entry.time}});
}

void appendExit(std::string& buffer, const ThreadState& thread, const Exit& exit) {
  appendTextExitLine(buffer, thread.number >= 0, thread.number, exit.exception.has_value(),
                     exit.exception.value_or(""), exit.time);
}

}  // namespace

void TextWriter::enter(const ThreadState& thread, const Entry& entry) {
  header(thread);
  appendEntry(buffer, frames, thread, entry);
  flush(false);
}

void TextWriter::exit(const ThreadState& thread, const Exit& exit) {
  if (exit.implicit) return;
  header(thread);
  appendExit(buffer, thread, exit);
  flush(false);
}

namespace {

// The lines of one cursor that wait for their turn, each with its time.
class PendingLines : public EventSink {
 public:
  PendingLines(const FrameTable& frames, std::unordered_set<ThreadKey>& headed) : frames(frames), headed(headed) {}

  void enter(const ThreadState& thread, const Entry& entry) override {
    std::string& line = start(thread, entry.time);
    appendEntry(line, frames, thread, entry);
  }
  void exit(const ThreadState& thread, const Exit& exit) override {
    if (exit.implicit) return;
    std::string& line = start(thread, exit.time);
    appendExit(line, thread, exit);
  }

  bool empty() const { return lines.empty(); }
  std::int64_t nextTime() const { return lines.front().first; }
  bool timed() const { return !lines.empty() && sawTime; }
  // Appends the next line to `out` and drops it.
  void take(std::string& out) {
    out += lines.front().second;
    lines.pop_front();
  }

 private:
  // A line of a thread with a recorded number is the agent's own, after the
  // thread's header at its first line; a line of a thread without one (a
  // per-thread log of RecordThreadID=0) starts with its log's name in
  // brackets. A record without a time keeps its place after the one before.
  std::string& start(const ThreadState& thread, std::optional<std::int64_t> time) {
    if (time) {
      last = std::max(last, *time);
      sawTime = true;
    }
    std::string& line = lines.emplace_back(last, std::string()).second;
    if (thread.number < 0) line.append("[").append(escapeName(thread.name)).append("] ");
    else if (thread.named && headed.insert(thread.key).second) line += makeThreadHeaderLine(thread.number, thread.name);
    return line;
  }

  const FrameTable& frames;
  std::unordered_set<ThreadKey>& headed;
  std::deque<std::pair<std::int64_t, std::string>> lines;
  std::int64_t last = 0;
  bool sawTime = false;
};

// One log, or one virtual thread: opened when the time of its first record
// comes, so that only the threads alive at a time in the run hold memory at
// once.
struct MergeInput {
  const LogFileInfo* file = nullptr;
  std::vector<Extent> extents;
  std::optional<std::int64_t> firstTime;  // known before opening
  std::unique_ptr<PendingLines> lines;
  std::unique_ptr<LogCursor> cursor;

  // Reads until a line waits or the input is done; false when done, its
  // memory given back.
  bool fill() {
    while (lines->empty()) {
      if (!cursor->step()) {
        cursor.reset();
        lines.reset();
        return false;
      }
    }
    return true;
  }
};

// Every log at once, one input per log and per virtual thread, always
// writing the earliest waiting line next (ties by file order): memory holds
// a piece of each input that is open, not the run.
void writeMerged(Run& run, Diagnostics& diagnostics, std::FILE* out) {
  std::unordered_set<ThreadKey> headed;
  OpenFiles files;
  std::vector<MergeInput> inputs;
  for (const LogFileInfo& file : run.directory().files) {
    if (!file.blocks) {
      inputs.push_back({&file, {{0, file.size}}, firstRecordTime(file, run.encoding()), nullptr, nullptr});
      continue;
    }
    for (ThreadBlocks& thread : indexThreadBlocks(file, run.encoding(), diagnostics))
      inputs.push_back({&file, std::move(thread.extents), thread.firstTime, nullptr, nullptr});
  }
  // An input waits unopened under the time of its first record, or is opened
  // at once when that is not known.
  auto open = [&](MergeInput& input) {
    input.lines = std::make_unique<PendingLines>(run.frames(), headed);
    input.cursor = std::make_unique<LogCursor>(run, *input.file, std::move(input.extents), *input.lines, diagnostics,
                                               files);
    if (!input.fill()) return false;
    if (!input.lines->timed()) throw ReaderError("the logs carry no times to merge by; record them with RecordTime=1");
    return true;
  };
  using Next = std::pair<std::int64_t, std::size_t>;  // time, input
  std::priority_queue<Next, std::vector<Next>, std::greater<>> heap;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].firstTime) heap.emplace(*inputs[i].firstTime, i);
    else if (open(inputs[i])) heap.emplace(inputs[i].lines->nextTime(), i);
  }
  std::string buffer;
  while (!heap.empty()) {
    const std::size_t i = heap.top().second;
    heap.pop();
    MergeInput& input = inputs[i];
    if (!input.cursor) {
      if (open(input)) heap.emplace(input.lines->nextTime(), i);
      continue;
    }
    input.lines->take(buffer);
    if (input.fill()) heap.emplace(input.lines->nextTime(), i);
    if (buffer.size() >= (1u << 16)) {
      if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) throw ReaderError("write error");
      buffer.clear();
    }
  }
  if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) throw ReaderError("write error");
}

}  // namespace

int writeText(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  if (options.merge) {
    if (options.outputDirectory.empty()) {
      writeMerged(run, diagnostics, out);
      return 0;
    }
    // One stream: -o names its file.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(options.outputDirectory.c_str(), "wb"),
                                                                &std::fclose);
    if (!file) throw ReaderError("cannot write " + options.outputDirectory);
    writeMerged(run, diagnostics, file.get());
    if (std::fflush(file.get()) != 0 || std::ferror(file.get())) throw ReaderError("cannot write " + options.outputDirectory);
    return 0;
  }
  TextWriter writer(run.frames(), out, options.outputDirectory);
  run.read(writer, diagnostics);
  return 0;
}

}  // namespace kolvaprof::reader
