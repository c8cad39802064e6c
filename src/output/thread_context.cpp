#include "output/thread_context.h"

#include <atomic>

namespace kolvaprof {

ThreadContext::ThreadContext(std::string name, int32_t threadNumber, LogFile* sharedLogFile)
    : name_(std::move(name)),
      sharedLogFile(sharedLogFile),
      directOwn(nullptr),
      directShared(sharedLogFile),
      threadNumber_(threadNumber) {}

ThreadContext::ThreadContext(std::string name, int32_t threadNumber,
                             std::unique_ptr<ThreadLogFile> ownLogFile)
    : name_(std::move(name)),
      ownLogFile(std::move(ownLogFile)),
      sharedLogFile(nullptr),
      directOwn(this->ownLogFile.get()),
      directShared(nullptr),
      threadNumber_(threadNumber) {}

namespace {
std::atomic<uint64_t> destroyedContextRecords{0};
}  // namespace

ThreadContext::~ThreadContext() {
  destroyedContextRecords.fetch_add(records, std::memory_order_relaxed);
}

uint64_t ThreadContext::recordsOfDestroyedContexts() {
  return destroyedContextRecords.load(std::memory_order_relaxed);
}

std::size_t ThreadContext::popCall() {
  if (callStack.empty()) return 0;
  callStack.pop_back();
  return callStack.size();
}

void ThreadContext::writeOtherwise(const void* bytes, std::size_t length) {
  if (blocks) {
    blocks->write(bytes, length);
    return;
  }
  writePendingHeader();
  toFile([&](auto& file) { file.write(bytes, length); });
}

void ThreadContext::writePendingHeader() {
  if (pendingHeader.empty()) return;
  toFile([&](auto& file) { file.write(pendingHeader); });
  pendingHeader.clear();
  settleDirect();
}

}  // namespace kolvaprof
