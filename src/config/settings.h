#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "config/logging_options.h"
#include "format/run_manifest.h"

namespace kolvaprof {

inline constexpr std::size_t kMaxSettingsLineLength = 255;
inline constexpr const char* kSettingsFileName = "profiler.ini";

// One console line of the settings. A line about a log directory names it by
// the path the settings ask for; the core, which takes the directory, prints
// text + the name it really has + suffix.
struct EchoLine {
  std::string text;
  std::string directory;  // empty for a line that names no directory
  std::string suffix;

  // The line with the directory under the name asked for.
  std::string asRead() const { return text + directory + suffix; }
};

// What the settings file says, as a value: nothing is made or opened while it
// is read; the core acts on it.
struct Settings {
  LoggingOptions options;
  // The console lines of the settings, in the order of their lines.
  std::vector<EchoLine> echo;
  // LogfileDirectory lines, in order: the run directory each asks for, which
  // the core takes (with the missing levels above it) at once.
  std::vector<std::string> directoriesToMake;
  // The directories of the shared log (SeparateLogfilePerThread=0) and of the
  // index (CompressLogfile=1): the log directory in force when their line
  // was read.
  std::optional<std::string> sharedLog;
  std::optional<std::string> index;
  // A CaptureMode line was read: an agent attached to a running VM, which
  // otherwise rewrites bytecode, does what it asks or refuses.
  bool captureModeGiven = false;
};

// Every setting at its default; logs go to "<stamp>/" in the working directory.
Settings defaultSettings(const std::string& startTimeStamp);

// Applies one `key=value` (both trimmed and not empty); unknown keys and
// values change nothing.
void applySetting(Settings& settings, const std::string& startTimeStamp, const std::string& key,
                  const std::string& value);

// Every key a settings file can hold.
std::vector<std::string> settingKeys();
// Every key with its value in force, in the order of settingKeys().
std::vector<RunManifest::Setting> settingsInForce(const LoggingOptions& options);

// Reads lines until the end or the first line longer than the limit.
Settings readSettings(std::istream& in, const std::string& startTimeStamp);

// The file the agent's option string names, or profiler.ini when it is
// empty; a file that cannot be read leaves every default.
Settings readSettingsFile(const std::string& optionString, const std::string& startTimeStamp);

// Strips space, tab, line feed, vertical tab, form feed and carriage return
// from both ends.
std::string trimWhitespace(const std::string& text);

}  // namespace kolvaprof
