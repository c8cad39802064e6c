#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reader/model/call_stream.h"
#include "reader/output/writer.h"

namespace kolvaprof::reader {

// Chrome trace event JSON ("traceEvents" of "B"/"E" events, each "E" with
// the name, pid and tid of its "B"), streamed as the calls come. "ts" is the
// record's time in microseconds when the logs carry times (RecordTime), and
// otherwise a counter that rises by one at every event; tid is the thread's
// order of first sight, named by a "M" thread_name event. Calls still open
// at the end are closed there, at their thread's last time. Calls deeper than
// maxDepth (0: no limit) are left out.
class ChromeWriter : public EventSink {
 public:
  ChromeWriter(const FrameTable& frames, std::FILE* out, const std::string& processName, std::size_t maxDepth = 0);
  ~ChromeWriter() override;

  void enter(const ThreadState& thread, const Entry& entry) override;
  void exit(const ThreadState& thread, const Exit& exit) override;
  void finish(const CallStream& stream) override;

 private:
  struct Json;
  void endEvent(const ThreadState& thread, FrameId frame, std::optional<std::int64_t> time);
  void event(const char* phase, const ThreadState& thread, FrameId frame, std::optional<std::int64_t> time);
  const std::string& shownName(NameId name);

  const FrameTable& frames;
  std::unique_ptr<Json> json;
  std::size_t maxDepth;
  std::uint64_t clock = 0;
  std::vector<bool> announced;
  std::vector<std::string> shownNames;  // valid UTF-8, by name id
};

// The run through a ChromeWriter, the process named "kolvaprof <run>".
int writeChrome(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
