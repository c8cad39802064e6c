#pragma once

#include <cstdio>
#include <set>
#include <string>

#include "reader/model/call_stream.h"
#include "reader/output/writer.h"

namespace kolvaprof::reader {

// Renders every log file as the agent's text lines, written by the agent's
// own encoders: thread headers and "@N " where thread numbers are recorded,
// call numbers, receiver tags, times, "}" exits. An empty "From:" piece, which only
// damaged input can hold, is left out as the encoder leaves it out.
// Output goes to `out` with a "== <file>" line before each file, or, with an
// output directory, to <directory>/<file name>.
class TextWriter : public EventSink {
 public:
  TextWriter(const FrameTable& frames, std::FILE* out, std::string outputDirectory = "");
  ~TextWriter() override;

  void beginFile(const LogFileInfo& file) override;
  void endFile(const LogFileInfo& file) override;
  void enter(const ThreadState& thread, const Entry& entry) override;
  void exit(const ThreadState& thread, const Exit& exit) override;

 private:
  void header(const ThreadState& thread);
  void flush(bool force);

  const FrameTable& frames;
  std::FILE* out;
  std::string outputDirectory;
  std::FILE* file = nullptr;  // the current output
  std::set<ThreadKey> headed;
  std::string buffer;
};

// Every log file through a TextWriter, into options.outputDirectory when set.
int writeText(Run& run, Diagnostics& diagnostics, const WriterOptions& options, std::FILE* out);

}  // namespace kolvaprof::reader
