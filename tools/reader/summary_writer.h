#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "reader/call_stream.h"

namespace kolvaprof::reader {

class Run;

// Counts calls per method; per-thread figures come from the stream itself.
class CallCounter : public EventSink {
 public:
  void enter(const ThreadState& thread, const Entry& entry) override;
  void exit(const ThreadState&, const Exit&) override {}
  void finish(const CallStream& stream) override {
    if (atEnd) atEnd(stream);
  }
  std::function<void(const CallStream&)> atEnd;

  const std::vector<std::uint64_t>& callsByFrame() const { return calls; }

 private:
  std::vector<std::uint64_t> calls;
};

// Calls per thread, maximum depth, calls still open at the end and the
// `top` most-called methods (all with top 0).
void writeSummary(const Run& run, const CallStream& stream, const CallCounter& counter, std::size_t top,
                  std::FILE* out);

}  // namespace kolvaprof::reader
