#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "reader/input/diagnostics.h"
#include "reader/input/record_sink.h"
#include "reader/model/frames.h"

namespace kolvaprof::reader {

struct Index;
struct LogFileInfo;

// A recorded thread number, or -(file index + 1) for the one thread of a
// file whose records carry no thread number.
using ThreadKey = std::int64_t;

inline ThreadKey threadKey(std::int32_t number, std::size_t fileIndex) {
  return number >= 0 ? number : -static_cast<ThreadKey>(fileIndex) - 1;
}

struct ThreadState {
  ThreadKey key = 0;
  std::int32_t number = -1;  // the recorded thread number, -1 when there is none
  std::string name;
  bool named = false;        // by a header line or a Thread line of Index.dat
  std::size_t ordinal = 0;   // order of first sight, from 0
  std::vector<FrameId> stack;  // open calls, innermost last
  std::uint64_t calls = 0;
  std::size_t maxDepth = 0;
  std::uint64_t overflow = 0;  // open calls deeper than CallStream::kMaxDepth
  // Ended before the run did: calls it left open are damage, not a run cut
  // short.
  bool ended = false;
  // With times (RecordTime): one per open call, beside `stack`.
  struct OpenTime {
    std::int64_t start = -1;  // -1: the entry had no time
    std::int64_t inCalls = 0;  // the durations of its finished callees
  };
  std::vector<OpenTime> openTimes;
  std::optional<std::int64_t> lastTime;  // the latest time seen on the thread
  std::int64_t timeInCalls = 0;          // durations of its finished outermost calls
};

struct Entry {
  FrameId frame = 0;
  std::int64_t tag = 0;
  std::optional<std::int64_t> callNumber;
  std::optional<std::string_view> location;  // text logs: the "From:" piece
  std::optional<std::int64_t> time;          // nanoseconds since the run started
};

struct Exit {
  // Closed because a later record showed that the call had ended, without an
  // exit record of its own.
  bool implicit = false;
  std::optional<std::string_view> exception;  // text logs: "} <exception>"
  // With times: the exit's own (for an implicit exit, that of the record that
  // showed the end), the call's duration, and that less its callees'.
  std::optional<std::int64_t> time;
  std::optional<std::int64_t> duration;
  std::optional<std::int64_t> self;
};

class CallStream;

// What the outputs are built from: entries and exits of each thread, always
// properly nested, whatever the input looked like.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void beginFile(const LogFileInfo&) {}
  virtual void endFile(const LogFileInfo&) {}
  // After the push: the stack ends with the entry's frame.
  virtual void enter(const ThreadState& thread, const Entry& entry) = 0;
  // Before the pop: the stack still ends with the frame being closed.
  virtual void exit(const ThreadState& thread, const Exit& exit) = 0;
  virtual void finish(const CallStream&) {}
};

// Follows each thread's open calls, checks the nesting (and the recorded
// depths of binary records) and hands a well-nested stream to a sink.
// Memory: one stack per thread, nothing per record.
class CallStream : public RecordSink {
 public:
  // Deeper calls are counted but not followed, so that garbage cannot grow
  // a stack without bound.
  static constexpr std::size_t kMaxDepth = 1 << 20;

  CallStream(FrameTable& frames, const Index& index, Diagnostics& diagnostics, EventSink& sink)
      : frameTable(frames), runIndex(index), problems(diagnostics), sink(sink) {}

  // Passes on the events of this thread only (the others are skipped).
  void only(ThreadKey key) { onlyKey = key; }

  // What the log parsers read.
  void header(std::int32_t number, std::string_view name) override;
  void entry(const LogFileInfo& file, const LoggedEntry& entry, const Position& where) override;
  void exit(const LogFileInfo& file, const LoggedExit& exit, const Position& where) override;
  void threadEnded(const LogFileInfo& file, std::int32_t number, const Position& where) override;
  // As entry() and exit() would take each record, checking only what the
  // run leaves to check, and finding the thread once.
  void records(const LogFileInfo& file, const RecordRun& run) override;

  void beginFile(const LogFileInfo& file) { sink.beginFile(file); }
  void endFile(const LogFileInfo& file) { sink.endFile(file); }
  void finish() { sink.finish(*this); }

  FrameTable& frames() { return frameTable; }
  const FrameTable& frames() const { return frameTable; }
  const Index& index() const { return runIndex; }

  // In order of first sight.
  const std::deque<ThreadState>& threads() const { return threadStates; }
  // Open calls at the end of the run, of every thread or only of the
  // threads still alive then.
  std::uint64_t openCalls() const;
  std::uint64_t openCallsOfLiveThreads() const;

 private:
  // The thread's state, made at first sight; null when filtered out.
  ThreadState* thread(ThreadKey key, std::int32_t number, const LogFileInfo& file, const Position& where);
  // recordedDepth: the depth word of a binary record, or -1.
  void push(ThreadState& thread, const Entry& entry, std::int64_t recordedDepth, const Position& where);
  void pop(ThreadState& thread, const Exit& exit, std::int64_t recordedDepth, const Position& where);
  // Opens the call of an entry that fits where it stands.
  void openCall(ThreadState& thread, const Entry& entry);
  void closeImplicitly(ThreadState& thread, std::size_t count, std::optional<std::int64_t> time);
  // Hands the exit of the innermost open call to the sink, with its times,
  // and pops it; the times go into `exit`.
  void close(ThreadState& thread, Exit& exit);
  // A time that goes back within a thread is damage (or records of several
  // threads in one file without thread numbers).
  void noteTime(ThreadState& thread, std::optional<std::int64_t> time, const Position& where);

  FrameTable& frameTable;
  const Index& runIndex;
  Diagnostics& problems;
  EventSink& sink;
  std::optional<ThreadKey> onlyKey;
  std::deque<ThreadState> threadStates;
  std::unordered_map<ThreadKey, ThreadState*> byKey;
  std::unordered_map<std::int32_t, std::string> headerNames;
  ThreadState* last = nullptr;
};

}  // namespace kolvaprof::reader
