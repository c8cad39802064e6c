#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/run_manifest.h"

namespace kolvaprof::reader {

struct LogFileInfo {
  std::size_t index = 0;  // position in the run's file list
  std::string name;       // "main.log"
  std::string path;
  std::uint64_t size = 0;
  bool blocks = false;    // the file of the run's virtual threads, in blocks

  std::string stem() const { return name.substr(0, name.rfind('.')); }
};

enum class RunKind { Text, Binary };

// The log files of one run: every regular "*.log" file and the file of its
// virtual threads ("*.vlog"), in name order, and whether they hold text lines
// or binary records.
struct RunDirectory {
  std::string path;
  RunKind kind = RunKind::Text;
  std::vector<LogFileInfo> files;
  std::string indexPath;  // empty when there is no Index.dat
  std::string manifestPath;  // empty when there is no run.json (runs of older agents)
  std::uint64_t totalBytes = 0;
  // Set when the binary records are in compact blocks, which name their
  // layout: that of the first block found.
  std::optional<RecordLayout> compactLayout;
};

// Throws ReaderError when the path is not a readable directory or holds no
// log file.
RunDirectory scanRunDirectory(const std::string& path);

// The run's run.json, read whole and parsed. `present` false: there is none;
// otherwise `manifest` or, for a damaged one, `error`.
struct RunManifestFile {
  bool present = false;
  std::optional<RunManifest> manifest;
  std::string error;
};
RunManifestFile readRunManifest(const RunDirectory& run);

}  // namespace kolvaprof::reader
