#include "output/thread_context.h"

#include "output/log_file.h"

namespace kolvaprof {

ThreadContext::ThreadContext(std::string name, int32_t threadNumber, LogFile* sharedLogFile)
    : name_(std::move(name)),
      logFile_(sharedLogFile),
      direct(sharedLogFile),
      threadNumber_(threadNumber) {}

ThreadContext::ThreadContext(std::string name, int32_t threadNumber,
                             std::unique_ptr<LogFile> ownLogFile)
    : ThreadContext(std::move(name), threadNumber, ownLogFile.get()) {
  this->ownLogFile = std::move(ownLogFile);
}

ThreadContext::~ThreadContext() = default;

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
  if (logFile_ == nullptr) return;
  writePendingHeader();
  logFile_->write(bytes, length);
}

void ThreadContext::writePendingHeader() {
  if (pendingHeader.empty()) return;
  logFile_->write(pendingHeader);
  pendingHeader.clear();
  settleDirect();
}

}  // namespace kolvaprof
