#include "reader/output/summary_writer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "format/name_escape.h"
#include "reader/model/run_reader.h"

namespace kolvaprof::reader {
namespace {

// Counts calls per method; per-thread figures come from the stream itself.
class CallCounter : public EventSink {
 public:
  void enter(const ThreadState&, const Entry& entry) override {
    if (calls.size() <= entry.frame) calls.resize(entry.frame + 1);
    ++calls[entry.frame];
  }
  void exit(const ThreadState&, const Exit&) override {}
  void finish(const CallStream& stream) override {
    if (atEnd) atEnd(stream);
  }
  std::function<void(const CallStream&)> atEnd;

  const std::vector<std::uint64_t>& callsByFrame() const { return calls; }

 private:
  std::vector<std::uint64_t> calls;
};

void writeReport(const Run& run, const CallStream& stream, const CallCounter& counter, std::size_t top,
                 std::FILE* out) {
  const FrameTable& frames = stream.frames();
  // Frames that share a shown name (bridge methods) are counted together.
  std::map<std::string, std::uint64_t> byName;
  std::uint64_t total = 0;
  for (FrameId frame = 0; frame < counter.callsByFrame().size(); ++frame) {
    if (counter.callsByFrame()[frame] == 0) continue;
    byName[frames.name(frames.nameOf(frame))] += counter.callsByFrame()[frame];
    total += counter.callsByFrame()[frame];
  }
  const ThreadState* deepest = nullptr;
  for (const ThreadState& thread : stream.threads())
    if (deepest == nullptr || thread.maxDepth > deepest->maxDepth) deepest = &thread;

  fmt::print(out, "run: {}\n{}, {}, {}\n", run.directory().path, run.describe(),
             counted(run.directory().files.size(), "file"), counted(run.directory().totalBytes, "byte"));
  fmt::print(out, "calls: {} of {} on {}; maximum depth {}{}\n", total, counted(byName.size(), "method"),
             counted(stream.threads().size(), "thread"), deepest ? deepest->maxDepth : 0,
             deepest ? fmt::format(" ({})", escapeName(deepest->name)) : "");
  fmt::print(out, "calls still open at the end: {}\n", stream.openCalls());

  // Names as Index.dat writes them, so that a line feed in one cannot break
  // the table.
  fmt::print(out, "\nthreads:\n{:>12} {:>9} {:>6}  thread\n", "calls", "max depth", "open");
  for (const ThreadState& thread : stream.threads())
    fmt::print(out, "{:>12} {:>9} {:>6}  {}{}\n", thread.calls, thread.maxDepth,
               thread.stack.size() + thread.overflow, escapeName(thread.name),
               thread.number >= 0 ? fmt::format(" (thread {})", thread.number) : "");

  std::vector<std::pair<std::string, std::uint64_t>> methods(byName.begin(), byName.end());
  // Most calls first, then by name, so that ties read the same every time.
  std::stable_sort(methods.begin(), methods.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (top > 0 && methods.size() > top) methods.resize(top);
  fmt::print(out, "\n{} by calls:\n{:>12} {:>7}  method\n",
             top > 0 && byName.size() > top ? "top " + counted(top, "method") : std::string("all methods"), "calls",
             "share");
  for (const auto& [name, calls] : methods)
    fmt::print(out, "{:>12} {:>6.1f}%  {}\n", calls, 100.0 * static_cast<double>(calls) / static_cast<double>(total),
               name);
}

}  // namespace

int writeSummary(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  CallCounter counter;
  counter.atEnd = [&](const CallStream& stream) { writeReport(run, stream, counter, options.top, out); };
  run.read(counter, diagnostics);
  return 0;
}

}  // namespace kolvaprof::reader
