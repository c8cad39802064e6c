#pragma once

// The kolvaprof command line as values, and the settings a run or an attach
// hands the agent: kept apart from what the commands do so that both can be
// tested without a JVM.

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kolvaprof::command {

// A command line that cannot be understood; main prints the message and the
// usage hint and ends with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An error the user has to act on (no such process, attach refused ...):
// one line, then exit status 1.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Verb { Help, Version, Run, Attach, Detach, List };

// Settings as the command line gives them: a file and `Key=Value` pairs.
struct SettingsSource {
  std::string file;                                        // empty: none
  std::vector<std::pair<std::string, std::string>> pairs;  // in the given order
};

struct CommandLine {
  Verb verb = Verb::Help;
  std::string helpText;               // Help: what to print
  std::string library;                // --lib, empty: look beside the executable
  SettingsSource settings;            // Run, Attach
  std::vector<std::string> javaCommand;  // Run: everything after `--`
  int pid = 0;                        // Attach, Detach
  std::optional<double> seconds;      // Attach: --for; none = until detach or Ctrl-C
};

// Parses argv (argv[0] is the program). Throws UsageError.
CommandLine parseCommandLine(int argc, const char* const* argv);

// "Key=Value" split at its first `=`, both trimmed; throws UsageError when
// there is no `=`, the key is empty, or the line would be longer than the
// agent reads.
std::pair<std::string, std::string> parseSettingPair(const std::string& text);

// The settings file text the agent gets: the pairs first (so that a long
// line further down cannot hide them), then the file's lines except those
// that set a key the pairs set. A pair thus replaces every line of its key,
// list keys included, and several pairs of one list key add up.
std::string mergeSettings(const std::string& fileText,
                          const std::vector<std::pair<std::string, std::string>>& pairs);

// The value the agent takes for a single-valued key in settings text: the
// last line that sets it, read as the agent reads (comments, lines without
// `=`, the line-length limit).
std::optional<std::string> lastSettingValue(const std::string& settingsText, const std::string& key);

// The keys of `pairs` that the agent does not know (warned about, not
// refused: the agent ignores them too).
std::vector<std::string> unknownKeys(const std::vector<std::pair<std::string, std::string>>& pairs);

// -agentpath:<library>=<settings file>, put right after the java executable.
std::vector<std::string> javaCommandWithAgent(const std::vector<std::string>& javaCommand,
                                              const std::string& library,
                                              const std::string& settingsFile);

}  // namespace kolvaprof::command
