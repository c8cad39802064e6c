#include "kolvaprof/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "config/settings.h"

namespace kolvaprof::command {

namespace {

struct SettingsLine {
  std::string key;  // empty for a comment or a line without `=`
  std::string value;
};

// A line as the agent reads it.
SettingsLine readLine(const std::string& line) {
  if (line.empty() || line[0] == ';') return {};
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return {};
  return {trimWhitespace(line.substr(0, equals)), trimWhitespace(line.substr(equals + 1))};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

void addSettingsOptions(CLI::App& sub, CommandLine& line, std::vector<std::string>& pairs) {
  sub.add_option("--settings", line.settings.file, "settings file (Key=Value lines)")
      ->check(CLI::ExistingFile);
  sub.add_option("settings", pairs, "Key=Value settings; they win over the file");
}

std::string usageText(const CLI::App& app) {
  return app.help() +
         "\nExamples:\n"
         "  kolvaprof run -- java -jar app.jar\n"
         "  kolvaprof run --settings profiler.ini RecordTime=1 -- java -cp classes Main\n"
         "  kolvaprof attach 4242 --for 10 PackageFilter=org.shop* FilterMode=1\n"
         "  kolvaprof detach 4242\n"
         "  kolvaprof list\n";
}

}  // namespace

std::pair<std::string, std::string> parseSettingPair(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos)
    throw UsageError("setting '" + text + "' is not Key=Value");
  std::string key = trimWhitespace(text.substr(0, equals));
  std::string value = trimWhitespace(text.substr(equals + 1));
  if (key.empty()) throw UsageError("setting '" + text + "' has no key");
  if (key.size() + 1 + value.size() > kMaxSettingsLineLength)
    throw UsageError("setting '" + key + "' is longer than " +
                     std::to_string(kMaxSettingsLineLength) + " characters");
  if (text.find_first_of("\r\n") != std::string::npos)
    throw UsageError("setting '" + key + "' spans several lines");
  return {key, value};
}

std::string mergeSettings(const std::string& fileText,
                          const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::set<std::string> replaced;
  std::string merged;
  for (const auto& [key, value] : pairs) {
    replaced.insert(key);
    merged += key + "=" + value + "\n";
  }
  for (const std::string& line : lines(fileText)) {
    // The agent stops at the first long line; so does the copy, which keeps
    // what it would have read.
    if (line.size() > kMaxSettingsLineLength) break;
    if (replaced.count(readLine(line).key) != 0) continue;
    merged += line + "\n";
  }
  return merged;
}

std::optional<std::string> lastSettingValue(const std::string& settingsText, const std::string& key) {
  std::optional<std::string> value;
  for (const std::string& line : lines(settingsText)) {
    if (line.size() > kMaxSettingsLineLength) break;
    SettingsLine setting = readLine(line);
    if (setting.key == key && !setting.value.empty()) value = setting.value;
  }
  return value;
}

std::vector<std::string> unknownKeys(const std::vector<std::pair<std::string, std::string>>& pairs) {
  const std::vector<std::string> known = settingKeys();
  std::vector<std::string> unknown;
  for (const auto& pair : pairs)
    if (std::find(known.begin(), known.end(), pair.first) == known.end() &&
        std::find(unknown.begin(), unknown.end(), pair.first) == unknown.end())
      unknown.push_back(pair.first);
  return unknown;
}

std::vector<std::string> javaCommandWithAgent(const std::vector<std::string>& javaCommand,
                                              const std::string& library,
                                              const std::string& settingsFile) {
  std::vector<std::string> command = javaCommand;
  command.insert(command.begin() + 1, "-agentpath:" + library + "=" + settingsFile);
  return command;
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
  // Everything after the first `--` is the program to run, whatever it holds.
  std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> program;
  bool sawSeparator = false;
  if (auto separator = std::find(args.begin(), args.end(), "--"); separator != args.end()) {
    program.assign(separator + 1, args.end());
    args.erase(separator, args.end());
    sawSeparator = true;
  }

  CommandLine line;
  std::vector<std::string> pairs;
  bool version = false;
  CLI::App app{"kolvaprof: traces every method call of a Java program (run it, or attach to it)",
               "kolvaprof"};
  app.require_subcommand(0, 1);
  app.fallthrough();  // --lib also after the subcommand
  app.add_flag("--version", version, "print the version");
  app.add_option("--lib", line.library, "the agent library (default: beside kolvaprof, then " KOLVAPROF_INSTALLED_LIBRARY ")");

  CLI::App* run = app.add_subcommand("run", "run a program with the agent: kolvaprof run [settings] -- java ARGS...");
  addSettingsOptions(*run, line, pairs);

  CLI::App* attach = app.add_subcommand("attach", "trace a running JVM, then detach");
  attach->add_option("pid", line.pid, "the JVM's process id")->required();
  double seconds = 0;
  CLI::Option* forOption =
      attach->add_option("--for", seconds, "trace this many seconds (default: until `kolvaprof detach` or Ctrl-C)")
          ->check(CLI::PositiveNumber);
  addSettingsOptions(*attach, line, pairs);

  CLI::App* detach = app.add_subcommand("detach", "stop tracing a JVM attached to");
  detach->add_option("pid", line.pid, "the JVM's process id")->required();

  app.add_subcommand("list", "list the local JVMs: process id and main class");

  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    line.verb = Verb::Help;
    for (CLI::App* sub : {run, attach, detach})
      if (sub->parsed()) {
        line.helpText = sub->help();
        return line;
      }
    line.helpText = usageText(app);
    return line;
  } catch (const CLI::ParseError& error) {
    throw UsageError(error.what());
  }

  if (version) {
    line.verb = Verb::Version;
    return line;
  }
  if (app.get_subcommands().empty()) {
    line.helpText = usageText(app);
    return line;
  }
  const CLI::App* chosen = app.get_subcommands().front();
  const std::string name = chosen->get_name();
  if (sawSeparator && name != "run") throw UsageError("`--` belongs to `kolvaprof run` only");
  for (const std::string& pair : pairs) line.settings.pairs.push_back(parseSettingPair(pair));
  if (name == "run") {
    line.verb = Verb::Run;
    if (program.empty())
      throw UsageError("run needs the program after `--`: kolvaprof run [settings] -- java ARGS...");
    line.javaCommand = std::move(program);
  } else if (name == "attach") {
    line.verb = Verb::Attach;
    if (forOption->count() > 0) {
      if (!std::isfinite(seconds) || seconds > 1e7) throw UsageError("--for: too long");
      line.seconds = seconds;
    }
  } else if (name == "detach") {
    line.verb = Verb::Detach;
  } else {
    line.verb = Verb::List;
  }
  if ((line.verb == Verb::Attach || line.verb == Verb::Detach) && line.pid <= 0)
    throw UsageError("pid: not a process id: " + std::to_string(line.pid));
  return line;
}

}  // namespace kolvaprof::command
