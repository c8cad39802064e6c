#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "reader/call_stream.h"

namespace kolvaprof::reader {

class Run;

// Per-file figures for the check report; the problems themselves are
// reported by the parsers and the stream.
class FileCounter : public EventSink {
 public:
  struct Figures {
    std::uint64_t calls = 0;
    std::uint64_t exits = 0;
    std::size_t maxDepth = 0;
  };

  void beginFile(const LogFileInfo& file) override;
  void enter(const ThreadState& thread, const Entry& entry) override;
  void exit(const ThreadState& thread, const Exit& exit) override;
  void finish(const CallStream& stream) override {
    if (atEnd) atEnd(stream);
  }

  const std::vector<Figures>& files() const { return figures; }
  std::function<void(const CallStream&)> atEnd;

 private:
  std::vector<Figures> figures;
  std::size_t current = 0;
};

// Prints the check report and returns the exit status: 0 clean, 1 damaged.
// Calls still open at the end are listed but are not damage.
int writeCheckReport(const Run& run, const CallStream& stream, const FileCounter& counter,
                     const Diagnostics& diagnostics, std::FILE* out);

}  // namespace kolvaprof::reader
