#include "reader/output/summary_writer.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <unordered_map>
#include <vector>

#include "format/name_escape.h"
#include "reader/model/run.h"

namespace kolvaprof::reader {
namespace {

// Time spent in one method's finished calls.
struct MethodTime {
  std::uint64_t total = 0;  // its outermost activations only, so recursion is not counted twice
  std::uint64_t self = 0;
};

// Counts calls and adds up times per method; per-thread figures come from
// the stream itself.
class CallCounter : public EventSink {
 public:
  explicit CallCounter(const FrameTable& frames) : frames(frames) {}
  void enter(const ThreadState& thread, const Entry& entry) override {
    if (calls.size() <= entry.frame) calls.resize(entry.frame + 1);
    ++calls[entry.frame];
    if (!entry.time) return;
    ++active[activeKey(thread, frames.nameOf(entry.frame))];
    if (firstTimes.size() <= thread.ordinal) firstTimes.resize(thread.ordinal + 1, -1);
    if (firstTimes[thread.ordinal] < 0) firstTimes[thread.ordinal] = *entry.time;
  }
  void exit(const ThreadState& thread, const Exit& exit) override {
    const NameId name = frames.nameOf(thread.stack.back());
    const auto found = active.find(activeKey(thread, name));
    const bool outermost = found == active.end() || found->second <= 1;
    if (found != active.end() && --found->second == 0) active.erase(found);
    if (!exit.duration) return;
    if (times.size() <= name) times.resize(name + 1);
    if (outermost) times[name].total += static_cast<std::uint64_t>(*exit.duration);
    times[name].self += static_cast<std::uint64_t>(*exit.self);
    timed = true;
  }
  void finish(const CallStream& stream) override {
    if (atEnd) atEnd(stream);
  }
  std::function<void(const CallStream&)> atEnd;

  const std::vector<std::uint64_t>& callsByFrame() const { return calls; }
  // By name id; empty without times.
  const std::vector<MethodTime>& timesByName() const { return times; }
  bool sawTimes() const { return timed; }
  // From the thread's first timed entry to its last record.
  std::uint64_t span(const ThreadState& thread) const {
    if (thread.ordinal >= firstTimes.size() || firstTimes[thread.ordinal] < 0 || !thread.lastTime) return 0;
    return static_cast<std::uint64_t>(std::max<std::int64_t>(*thread.lastTime - firstTimes[thread.ordinal], 0));
  }

 private:
  static std::uint64_t activeKey(const ThreadState& thread, NameId name) {
    return static_cast<std::uint64_t>(thread.ordinal) << 32 | name;
  }
  const FrameTable& frames;
  std::vector<std::uint64_t> calls;
  std::unordered_map<std::uint64_t, std::uint32_t> active;  // open activations by (thread, name)
  std::vector<MethodTime> times;
  std::vector<std::int64_t> firstTimes;  // by thread ordinal; -1 before the first
  bool timed = false;
};

std::string milliseconds(std::uint64_t nanoseconds) {
  return fmt::format("{:.3f}", static_cast<double>(nanoseconds) / 1e6);
}

// Only with times: the methods that took longest, counting the time inside
// their callees (total) and without it (self).
void writeTimes(const FrameTable& frames, const CallCounter& counter, std::size_t top, std::FILE* out) {
  std::vector<std::pair<std::string, MethodTime>> methods;
  for (NameId name = 0; name < counter.timesByName().size(); ++name) {
    const MethodTime& time = counter.timesByName()[name];
    if (time.total > 0 || time.self > 0) methods.emplace_back(frames.name(name), time);
  }
  std::sort(methods.begin(), methods.end(), [](const auto& a, const auto& b) {
    return a.second.total != b.second.total ? a.second.total > b.second.total : a.first < b.first;
  });
  const std::size_t all = methods.size();
  if (top > 0 && methods.size() > top) methods.resize(top);
  fmt::print(out, "\n{} by total time:\n{:>14} {:>14}  method\n",
             top > 0 && all > top ? "top " + counted(top, "method") : std::string("all methods"), "total ms",
             "self ms");
  for (const auto& [name, time] : methods)
    fmt::print(out, "{:>14} {:>14}  {}\n", milliseconds(time.total), milliseconds(time.self), name);
}

void writeReport(const Run& run, const CallStream& stream, const CallCounter& counter, std::size_t top,
                 bool allThreads, std::FILE* out) {
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
  // With times, a thread is a root frame: its total runs from its first
  // entry to its last record, its self time is the part of that outside its
  // finished outermost calls.
  const bool timed = counter.sawTimes();
  auto threadTimes = [&](const ThreadState& thread) {
    const std::uint64_t span = counter.span(thread);
    const auto inCalls = static_cast<std::uint64_t>(thread.timeInCalls);
    return fmt::format(" {:>14} {:>14}", milliseconds(span), milliseconds(span > inCalls ? span - inCalls : 0));
  };
  auto threadLine = [&](const ThreadState& thread) {
    fmt::print(out, "{:>12} {:>9} {:>6}{}  {}{}\n", thread.calls, thread.maxDepth, thread.stack.size() + thread.overflow,
               timed ? threadTimes(thread) : "", escapeName(thread.name),
               thread.number >= 0 ? fmt::format(" (thread {})", thread.number) : "");
  };
  const std::string columns = fmt::format("{:>12} {:>9} {:>6}{}  thread\n", "calls", "max depth", "open",
                                          timed ? fmt::format(" {:>14} {:>14}", "total ms", "self ms") : "");
  const std::deque<ThreadState>& threads = stream.threads();
  if (allThreads || top == 0 || threads.size() <= top) {
    fmt::print(out, "\nthreads:\n{}", columns);
    for (const ThreadState& thread : threads) threadLine(thread);
  } else {
    // A run of many threads (virtual ones, say) shows its busiest, each list
    // in a stable order: most first, then by order of first sight.
    auto showTop = [&](const char* by, auto weight) {
      std::vector<const ThreadState*> order;
      order.reserve(threads.size());
      for (const ThreadState& thread : threads) order.push_back(&thread);
      std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(top), order.end(),
                        [&](const ThreadState* a, const ThreadState* b) {
                          const std::uint64_t x = weight(*a), y = weight(*b);
                          return x != y ? x > y : a->ordinal < b->ordinal;
                        });
      fmt::print(out, "\ntop {} of {} by {}:\n{}", top, counted(threads.size(), "thread"), by, columns);
      for (std::size_t i = 0; i < top; ++i) threadLine(*order[i]);
    };
    showTop("calls", [](const ThreadState& thread) { return thread.calls; });
    if (timed) showTop("total time", [&](const ThreadState& thread) { return counter.span(thread); });
    const std::size_t rest = threads.size() - top;
    fmt::print(out, "and {} more thread{} (--all-threads lists every thread)\n", rest, rest == 1 ? "" : "s");
  }

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
  if (timed) writeTimes(frames, counter, top, out);
}

}  // namespace

int writeSummary(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out) {
  CallCounter counter(run.frames());
  counter.atEnd = [&](const CallStream& stream) { writeReport(run, stream, counter, options.top, options.allThreads, out); };
  run.read(counter, diagnostics);
  return 0;
}

}  // namespace kolvaprof::reader
