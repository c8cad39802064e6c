#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "reader/model/call_stream.h"
#include "reader/input/diagnostics.h"
#include "reader/model/frames.h"
#include "reader/input/index_file_parser.h"
#include "reader/input/layout_detection.h"
#include "reader/input/log_parser.h"
#include "reader/input/run_directory.h"

namespace kolvaprof::reader {

struct ReadOptions {
  LayoutRequest layout;
  bool progress = true;
  std::FILE* err = stderr;
};

// One run directory ready to be read: its files, its Index.dat and, for
// binary logs, the record layout.
class Run {
 public:
  // Throws ReaderError when the run cannot be read at all (not a directory,
  // no log file, record layout not decidable).
  Run(const std::string& path, const ReadOptions& options, Diagnostics& diagnostics);

  // Streams the files (all, or the listed file indexes) through a new
  // CallStream into the sink, in name order, a buffer at a time.
  void read(EventSink& sink, Diagnostics& diagnostics, std::optional<ThreadKey> only = std::nullopt,
            const std::vector<std::size_t>* files = nullptr, const std::string& label = "reading");

  const RunDirectory& directory() const { return dir; }
  const Index& index() const { return runIndex; }
  const std::optional<RecordLayout>& layout() const { return recordLayout; }
  LogEncoding encoding() const { return {recordLayout, dir.compactLayout.has_value()}; }
  const std::string& layoutNote() const { return note; }
  // The run's run.json when it has a sound one.
  const std::optional<RunManifest>& manifest() const { return runManifest; }
  // "record layout from run.json: ..." or why run.json was not used; empty
  // for a run without one.
  const std::string& manifestNote() const { return manifestText; }
  FrameTable& frames() { return frameTable; }
  // "binary logs, 20-byte records (...)" or "text logs".
  std::string describe() const;

 private:
  ReadOptions options;
  RunDirectory dir;
  Index runIndex;
  std::optional<RecordLayout> recordLayout;
  std::string note;
  std::optional<RunManifest> runManifest;
  std::string manifestText;
  bool layoutFromManifest = false;
  FrameTable frameTable{&runIndex};
};

}  // namespace kolvaprof::reader
