#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output/log_file.h"
#include "output/thread_log_file.h"
#include "output/virtual_thread_log.h"
#include "registry/method_info.h"

namespace kolvaprof {

// The logging state of one Java thread. Only its own thread touches it (and
// teardown, once no callback runs any more), so it carries no lock.
class ThreadContext {
 public:
  // A thread that writes to a file shared with others, or to none.
  ThreadContext(std::string name, int32_t threadNumber, LogFile* sharedLogFile = nullptr);
  // A thread with a file of its own, written out and closed with the context.
  ThreadContext(std::string name, int32_t threadNumber, std::unique_ptr<ThreadLogFile> ownLogFile);
  ~ThreadContext();
  ThreadContext(const ThreadContext&) = delete;
  ThreadContext& operator=(const ThreadContext&) = delete;

  void pushCall(const MethodInfo* method) { callStack.push_back(method); }
  // Removes the innermost call and returns the new depth; 0 on an empty stack.
  std::size_t popCall();
  const MethodInfo* topCall() const { return callStack.back(); }
  // The call `index` levels above the outermost one.
  const MethodInfo* callAt(std::size_t index) const { return callStack[index]; }
  bool isCallStackEmpty() const { return callStack.empty(); }
  std::size_t callDepth() const { return callStack.size(); }

  void enterStartMethod() { ++startDepth_; }
  void leaveStartMethod() { --startDepth_; }
  int32_t startDepth() const { return startDepth_; }

  int32_t threadNumber() const { return threadNumber_; }
  const std::string& name() const { return name_; }
  void setPendingHeader(std::string header) {
    pendingHeader = std::move(header);
    settleDirect();
  }
  // A virtual thread's records go in blocks to the run's file of virtual
  // threads instead of to a log file.
  void writeInBlocks(VirtualThreadLog& log) {
    blocks = std::make_unique<ThreadBlockBuffer>(log, threadNumber_, name_);
    settleDirect();
  }

  // The thread has ended (rather than the run): its file of virtual threads
  // is told so.
  void threadEnded() {
    if (blocks) blocks->finish();
  }

  // The class of the exception this thread threw last: the one that unwinds
  // its frames, whatever other threads throw meanwhile.
  void setLastException(const std::string& className) { lastException_ = className; }
  const std::string& lastException() const { return lastException_; }

  // Writes the pending header first (as a write of its own), then the record.
  void write(const void* bytes, std::size_t length) {
    if (directOwn != nullptr) {
      directOwn->write(bytes, length);
      return;
    }
    if (directShared != nullptr) {
      directShared->write(bytes, length);
      return;
    }
    writeOtherwise(bytes, length);
  }
  void write(const std::string& text) { write(text.data(), text.size()); }
  // The records of every context destroyed so far (writeWith writes one
  // each; headers go through write).
  static uint64_t recordsOfDestroyedContexts();
  // Like write, with the record written in place (LogFile::writeWith).
  template <typename Fill>
  __attribute__((always_inline)) void writeWith(std::size_t bound, Fill&& fill) {
    ++records;
    if (directOwn != nullptr) {
      directOwn->writeWith(bound, fill);
      return;
    }
    writeElsewhere(bound, fill);
  }

 private:
  // Out of line: the per-call path of a thread with a file of its own stays
  // small enough to keep its values in registers.
  template <typename Fill>
  __attribute__((noinline)) void writeElsewhere(std::size_t bound, Fill& fill) {
    if (directShared != nullptr) {
      directShared->writeWith(bound, fill);
      return;
    }
    if (blocks) {
      blocks->writeWith(bound, fill);
      return;
    }
    writePendingHeader();
    toFile([&](auto& file) { file.writeWith(bound, fill); });
  }
  void writeOtherwise(const void* bytes, std::size_t length);
  // Hands the thread's file, its own or the shared one, to `act`, if it has one.
  template <typename Act>
  void toFile(Act&& act) {
    if (ownLogFile) {
      act(*ownLogFile);
    } else if (sharedLogFile != nullptr) {
      act(*sharedLogFile);
    }
  }
  void settleDirect() {
    const bool direct = pendingHeader.empty() && !blocks;
    directOwn = direct ? ownLogFile.get() : nullptr;
    directShared = direct ? sharedLogFile : nullptr;
  }
  void writePendingHeader();

  std::string name_;
  std::string pendingHeader;
  std::string lastException_;
  // One of the two, or neither (a virtual thread's records go in blocks).
  std::unique_ptr<ThreadLogFile> ownLogFile;
  LogFile* sharedLogFile;
  // The file a record goes straight to: null while there is a header to
  // write first, or blocks to write to instead, or no file.
  ThreadLogFile* directOwn;
  LogFile* directShared;
  std::unique_ptr<ThreadBlockBuffer> blocks;
  std::vector<const MethodInfo*> callStack;  // innermost last
  int32_t startDepth_ = 0;
  int32_t threadNumber_;
  // Counted by the thread alone and summed once, at destruction, so that
  // the per-call path shares no counter.
  uint64_t records = 0;
};

}  // namespace kolvaprof
