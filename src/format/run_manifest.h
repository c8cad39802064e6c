#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format/record_layout.h"

namespace kolvaprof {

inline constexpr const char* kManifestFileName = "run.json";
// Raised when a field changes meaning; readers refuse what they do not know.
inline constexpr int kManifestFormatVersion = 1;

// run.json: what a run directory holds and how to read it, written when the
// run starts and again, complete, at a clean end. A run that was killed
// keeps the first, with `complete` false.
struct RunManifest {
  struct Setting {
    std::string key;
    std::vector<std::string> values;  // one for plain keys, any number for list keys
    bool list = false;
  };
  struct Jvm {
    std::string vendor;
    std::string version;
    std::string name;
    std::vector<std::string> commandLine;
    int64_t pid = 0;
  };
  struct End {
    uint64_t records = 0;
    uint64_t threads = 0;
    uint64_t methodsKnown = 0;    // in the classes the agent registered
    uint64_t methodsInIndex = 0;  // named in Index.dat: methods logged in binary runs
    std::vector<std::string> failedFiles;  // created or written in vain
  };

  int formatVersion = kManifestFormatVersion;
  std::string agentVersion;
  std::string engine;  // "events" or "bytecode"
  std::vector<Setting> settings;
  RecordLayout layout;
  Jvm jvm;
  std::string startStamp;           // the run directory's name, yyyyMMddHHmmss
  int64_t startEpochNanoseconds = 0;  // wall time when the record times start
  std::string timeBase;             // of RecordTime: "tsc", "monotonic" or "none"
  bool complete = false;
  std::optional<End> end;           // set when complete
};

std::string writeManifest(const RunManifest& manifest);

struct ManifestReading {
  std::optional<RunManifest> manifest;
  std::string error;  // why there is none
};

// Every field must be there with its type; a layout field this reader does
// not know, or a newer format version, is an error as well.
ManifestReading parseManifest(std::string_view text);

}  // namespace kolvaprof
