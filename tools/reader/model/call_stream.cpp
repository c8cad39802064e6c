#include "reader/model/call_stream.h"

#include <fmt/format.h>

#include <algorithm>

#include "reader/input/index_file_parser.h"
#include "reader/input/run_directory.h"

namespace kolvaprof::reader {

ThreadState* CallStream::thread(ThreadKey key, std::int32_t number, const LogFileInfo& file,
                                const Position& where) {
  if (last != nullptr && last->key == key) return last;
  if (onlyKey && *onlyKey != key) return nullptr;
  const auto found = byKey.find(key);
  if (found != byKey.end()) return last = found->second;
  ThreadState& state = threadStates.emplace_back();
  state.key = key;
  state.number = number;
  state.ordinal = threadStates.size() - 1;
  state.name = file.stem();
  if (number >= 0) {
    const auto indexed = runIndex.threads.find(number);
    const auto headed = headerNames.find(number);
    if (indexed != runIndex.threads.end()) {
      state.name = indexed->second;
      state.named = true;
    } else if (headed != headerNames.end()) {
      state.name = headed->second;
      state.named = true;
    } else if (!runIndex.threads.empty()) {
      problems.report(Problem::UnknownThread, where,
                      fmt::format("thread {} has no Thread line in Index.dat", number));
    }
  }
  byKey.emplace(key, &state);
  return last = &state;
}

void CallStream::header(std::int32_t number, std::string_view name) {
  headerNames[number] = std::string(name);
  const auto found = byKey.find(number);
  if (found != byKey.end() && !found->second->named) {
    found->second->name = std::string(name);
    found->second->named = true;
  }
}

void CallStream::entry(const LogFileInfo& file, const LoggedEntry& logged, const Position& where) {
  ThreadState* state = thread(threadKey(logged.thread, file.index), logged.thread, file, where);
  if (state == nullptr) return;
  Entry entry;
  if (logged.method != nullptr) {
    const MethodText& m = *logged.method;
    entry.frame = frameTable.intern(m.returnType, m.packageName, m.className, m.methodName, m.parameterList);
  } else {
    entry.frame = frameTable.forMethodNumber(logged.methodNumber, problems, where);
  }
  entry.tag = logged.tag;
  entry.callNumber = logged.callNumber;
  entry.location = logged.location;
  entry.time = logged.time;
  noteTime(*state, logged.time, where);
  push(*state, entry, logged.depth, where);
}

void CallStream::exit(const LogFileInfo& file, const LoggedExit& logged, const Position& where) {
  ThreadState* state = thread(threadKey(logged.thread, file.index), logged.thread, file, where);
  if (state == nullptr) return;
  noteTime(*state, logged.time, where);
  Exit exit;
  exit.exception = logged.exception;
  exit.time = logged.time;
  pop(*state, exit, logged.depth, where);
}

void CallStream::records(const LogFileInfo& file, const RecordRun& run) {
  if (run.count == 0) return;
  ThreadState* found = thread(threadKey(run.thread, file.index), run.thread, file, run.position(file, 0));
  if (found == nullptr) return;
  ThreadState& state = *found;
  const bool withTime = run.layout.withTime;
  const bool withCallNumber = run.layout.withCallNumber;
  for (std::size_t k = 0; k < run.count; ++k) {
    const BinaryRecord& r = run.records[k];
    // In the order entry() and exit() report problems: the method, the time,
    // the depth.
    const auto noteRecordTime = [&] {
      if (!withTime) return;
      if (state.lastTime && r.time < *state.lastTime)
        noteTime(state, r.time, run.position(file, k));
      else
        state.lastTime = r.time;
    };
    const std::int64_t depth = r.depth;
    if (r.isExit()) {
      noteRecordTime();
      Exit exit;
      if (withTime) exit.time = r.time;
      // What pop() would do when the depth is the one expected.
      if (state.overflow == 0 && !state.stack.empty() &&
          (depth < 0 || static_cast<std::uint64_t>(depth) == state.stack.size()))
        close(state, exit);
      else
        pop(state, exit, depth, run.position(file, k));
      continue;
    }
    Entry entry;
    entry.frame = frameTable.knownFrame(r.method);
    if (entry.frame == FrameTable::kNoFrame)
      entry.frame = frameTable.forMethodNumber(r.method, problems, run.position(file, k));
    noteRecordTime();
    entry.tag = r.tag;
    if (withCallNumber) entry.callNumber = r.callNumber;
    if (withTime) entry.time = r.time;
    // What push() would do when the depth is the one expected.
    if (state.overflow == 0 && state.stack.size() < kMaxDepth &&
        (depth < 0 || static_cast<std::uint64_t>(depth) == state.stack.size() + 1)) {
      ++state.calls;
      openCall(state, entry);
    } else {
      push(state, entry, depth, run.position(file, k));
    }
  }
}

void CallStream::noteTime(ThreadState& thread, std::optional<std::int64_t> time, const Position& where) {
  if (!time) return;
  if (thread.lastTime && *time < *thread.lastTime) {
    problems.report(Problem::TimeBackwards, where,
                    fmt::format("time {} ns after {} ns on the same thread", *time, *thread.lastTime));
    return;
  }
  thread.lastTime = time;
}

void CallStream::closeImplicitly(ThreadState& thread, std::size_t count, std::optional<std::int64_t> time) {
  for (; count > 0 && !thread.stack.empty(); --count) {
    Exit exit;
    exit.implicit = true;
    exit.time = time;
    close(thread, exit);
  }
}

void CallStream::close(ThreadState& thread, Exit& exit) {
  const ThreadState::OpenTime open = thread.openTimes.back();
  thread.openTimes.pop_back();
  if (exit.time && open.start >= 0) {
    // Clamped, so that a damaged time cannot make a call last less than nothing.
    exit.duration = std::max<std::int64_t>(*exit.time - open.start, 0);
    exit.self = std::max<std::int64_t>(*exit.duration - open.inCalls, 0);
    (thread.openTimes.empty() ? thread.timeInCalls : thread.openTimes.back().inCalls) += *exit.duration;
  }
  sink.exit(thread, exit);
  thread.stack.pop_back();
}

void CallStream::push(ThreadState& thread, const Entry& entry, std::int64_t recordedDepth,
                      const Position& where) {
  const std::size_t open = thread.stack.size() + thread.overflow;
  if (recordedDepth >= 0 && static_cast<std::uint64_t>(recordedDepth) != open + 1) {
    problems.report(Problem::DepthMismatch, where,
                    fmt::format("entry at depth {} with {} open", recordedDepth, counted(open, "call")));
    // A shallower entry shows that calls ended without their exit records.
    if (recordedDepth >= 1 && static_cast<std::uint64_t>(recordedDepth) <= thread.stack.size() &&
        thread.overflow == 0)
      closeImplicitly(thread, thread.stack.size() - static_cast<std::size_t>(recordedDepth) + 1, entry.time);
  }
  ++thread.calls;
  if (thread.stack.size() >= kMaxDepth) {
    if (thread.overflow++ == 0)
      problems.report(Problem::TooDeep, where, fmt::format("calls deeper than {} are counted only", kMaxDepth));
    return;
  }
  openCall(thread, entry);
}

void CallStream::openCall(ThreadState& thread, const Entry& entry) {
  thread.stack.push_back(entry.frame);
  // Set in place: a whole OpenTime built apart and copied in waits on its
  // halves' stores.
  thread.openTimes.emplace_back().start = entry.time.value_or(-1);
  if (thread.stack.size() > thread.maxDepth) thread.maxDepth = thread.stack.size();
  sink.enter(thread, entry);
}

void CallStream::pop(ThreadState& thread, const Exit& exit, std::int64_t recordedDepth, const Position& where) {
  if (thread.overflow > 0) {
    --thread.overflow;
    return;
  }
  const std::size_t open = thread.stack.size();
  if (open == 0) {
    problems.report(Problem::UnbalancedExit, where, "exit with no call open");
    return;
  }
  if (recordedDepth >= 0 && static_cast<std::uint64_t>(recordedDepth) != open) {
    problems.report(Problem::DepthMismatch, where,
                    fmt::format("exit at depth {} with {} open", recordedDepth, counted(open, "call")));
    // The record closes the call at its depth; the inner ones lost their exits.
    if (recordedDepth >= 1 && static_cast<std::size_t>(recordedDepth) < open)
      closeImplicitly(thread, open - static_cast<std::size_t>(recordedDepth), exit.time);
  }
  Exit closing = exit;
  close(thread, closing);
}

std::uint64_t CallStream::openCalls() const {
  std::uint64_t open = 0;
  for (const ThreadState& thread : threadStates) open += thread.stack.size() + thread.overflow;
  return open;
}

std::uint64_t CallStream::openCallsOfLiveThreads() const {
  std::uint64_t open = 0;
  for (const ThreadState& thread : threadStates)
    if (!thread.ended) open += thread.stack.size() + thread.overflow;
  return open;
}

void CallStream::threadEnded(const LogFileInfo& file, std::int32_t number, const Position& where) {
  ThreadState* state = thread(threadKey(number, file.index), number, file, where);
  if (state == nullptr) return;
  state->ended = true;
  const std::uint64_t open = state->stack.size() + state->overflow;
  if (open == 0) return;
  problems.report(Problem::OpenAtThreadEnd,
                  fmt::format("{} byte {}: {} ended with {} open", where.file, where.byteOffset, state->name,
                              counted(open, "call")));
}

}  // namespace kolvaprof::reader
