#include "config/settings.h"

#include <fstream>

#include "format/index_line.h"

namespace kolvaprof {
namespace {

constexpr const char* kWhitespace = " \t\n\v\f\r";

}  // namespace

std::string trimWhitespace(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(kWhitespace);
  return text.substr(first, last - first + 1);
}

Settings defaultSettings(const std::string& startTimeStamp) {
  Settings settings;
  settings.options.logDirectory = startTimeStamp + "/";
  return settings;
}

Settings readSettings(std::istream& in, const std::string& startTimeStamp) {
  Settings settings = defaultSettings(startTimeStamp);
  std::string line;
  while (std::getline(in, line)) {
    // A file written on Windows keeps its carriage returns; they do not count
    // towards the length of a line.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxSettingsLineLength) break;
    if (line.empty() || line[0] == ';') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = trimWhitespace(line.substr(0, equals));
    const std::string value = trimWhitespace(line.substr(equals + 1));
    if (key.empty() || value.empty()) continue;
    applySetting(settings, startTimeStamp, key, value);
  }
  return settings;
}

Settings readSettingsFile(const std::string& optionString, const std::string& startTimeStamp) {
  const std::string path = optionString.empty() ? std::string(kSettingsFileName) : optionString;
  std::ifstream file(path);
  if (!file.is_open()) return defaultSettings(startTimeStamp);
  return readSettings(file, startTimeStamp);
}

namespace {

// What one line of the file does: the key's parser, which sets the options
// and adds the key's console lines.
struct SettingContext {
  Settings& settings;
  const std::string& startTimeStamp;
  const std::string& value;

  LoggingOptions& options() { return settings.options; }
  bool is(const char* text) const { return value == text; }
  void echo(std::string text, std::string directory = std::string(),
            std::string suffix = std::string()) {
    settings.echo.push_back(EchoLine{std::move(text), std::move(directory), std::move(suffix)});
  }
};

using SettingParser = void (*)(SettingContext&);
// The key's value in force, as the file would give it: for run.json.
using SettingValue = RunManifest::Setting (*)(const LoggingOptions&);

struct SettingKey {
  const char* key;
  SettingParser apply;
  SettingValue inForce;
};

RunManifest::Setting one(std::string value) { return {std::string(), {std::move(value)}, false}; }
RunManifest::Setting flag(bool on) { return one(on ? "1" : "0"); }
RunManifest::Setting list(const std::vector<std::string>& values) { return {std::string(), values, true}; }

// "logs" for "logs/<stamp>/"; "" for the working directory.
std::string logParent(std::string directory) {
  if (!directory.empty()) directory.pop_back();
  const std::size_t slash = directory.rfind('/');
  return slash == std::string::npos ? std::string() : directory.substr(0, slash);
}

// The one list of the settings a file can hold.
const SettingKey kSettingKeys[] = {
    {"LogfileDirectory",
     [](SettingContext& line) {
       std::string directory = line.value;
       if (directory.back() != '/') directory.push_back('/');
       line.options().logDirectory = directory + line.startTimeStamp + "/";
       line.echo("output logfile in ", line.options().logDirectory);
       line.settings.directoriesToMake.push_back(line.options().logDirectory);
     },
     [](const LoggingOptions& o) { return one(logParent(o.logDirectory)); }},
    {"GetFilteredMethod",
     [](SettingContext& line) { line.options().getFilteredMethod = line.is("1"); },
     [](const LoggingOptions& o) { return flag(o.getFilteredMethod); }},
    {"StartMethod",
     [](SettingContext& line) {
       line.options().startMethods.push_back(line.value);
       line.echo("logging start from method call of " + line.value);
     },
     [](const LoggingOptions& o) { return list(o.startMethods); }},
    {"ClassFilter",
     [](SettingContext& line) {
       line.options().classFilters.push_back(line.value);
       line.echo("filtering class " + line.value);
     },
     [](const LoggingOptions& o) { return list(o.classFilters); }},
    {"PackageFilter",
     [](SettingContext& line) {
       line.options().packageFilters.push_back(line.value);
       line.echo("filtering package " + line.value);
     },
     [](const LoggingOptions& o) { return list(o.packageFilters); }},
    {"MethodFilter",
     [](SettingContext& line) {
       line.options().methodFilters.push_back(line.value);
       line.echo("filtering method " + line.value);
     },
     [](const LoggingOptions& o) { return list(o.methodFilters); }},
    {"SeparateLogfilePerThread",
     [](SettingContext& line) {
       // The shared log goes to the directory in force at this line.
       line.options().separateLogfilePerThread = !line.is("0");
       if (line.is("0")) {
         line.settings.sharedLog = line.options().logDirectory;
       } else {
         line.echo("separate logfile per thread.");
       }
     },
     [](const LoggingOptions& o) { return flag(o.separateLogfilePerThread); }},
    {"CompressLogfile",
     [](SettingContext& line) {
       if (!line.is("1") && !line.is("2")) return;
       line.options().compressLogfile = true;
       line.options().compactRecords = line.is("2");
       line.settings.index = line.options().logDirectory;
       line.echo("compress log file");
       line.echo("index file = ", line.options().logDirectory, kIndexFileName);
       if (line.is("2")) line.echo("compact records in compressed blocks.");
     },
     [](const LoggingOptions& o) { return o.compactRecords ? one("2") : flag(o.compressLogfile); }},
    {"RecordThreadID",
     [](SettingContext& line) {
       if (line.is("1")) {
         line.options().recordThreadId = true;
         line.echo("record thread ID.");
       } else if (line.is("0")) {
         line.options().recordThreadId = false;
       }
     },
     [](const LoggingOptions& o) { return flag(o.recordThreadId); }},
    {"RecordMethodCallCount",
     [](SettingContext& line) {
       line.options().recordMethodCallCount = line.is("1");
       if (line.is("1")) line.echo("record method call count.");
     },
     [](const LoggingOptions& o) { return flag(o.recordMethodCallCount); }},
    {"RecordTime",
     [](SettingContext& line) {
       line.options().recordTime = line.is("1");
       if (line.is("1")) line.echo("record time in nanoseconds.");
     },
     [](const LoggingOptions& o) { return flag(o.recordTime); }},
    {"FilterMode",
     [](SettingContext& line) {
       if (line.is("1")) {
         line.options().ignoreFilteredMethods = false;
         line.echo("recorde only filtered methods.");
       } else if (line.is("0")) {
         line.options().ignoreFilteredMethods = true;
         line.echo("ignore filtered methods.");
       }
     },
     [](const LoggingOptions& o) { return flag(!o.ignoreFilteredMethods); }},
    {"IgnoreBuiltInClass",
     [](SettingContext& line) { line.options().ignoreBuiltInClass = line.is("1"); },
     [](const LoggingOptions& o) { return flag(o.ignoreBuiltInClass); }},
    {"Verbose", [](SettingContext& line) { line.options().verbose = line.is("1"); },
     [](const LoggingOptions& o) { return flag(o.verbose); }},
    {"ReceiverTags",
     [](SettingContext& line) {
       if (line.is("0")) {
         line.options().receiverTags = ReceiverTagMode::Never;
         line.echo("record no receiver tags.");
       } else if (line.is("1")) {
         line.options().receiverTags = ReceiverTagMode::BeforeGates;
       } else if (line.is("2")) {
         line.options().receiverTags = ReceiverTagMode::LoggedOnly;
         line.echo("record receiver tags of logged calls only.");
       }
     },
     [](const LoggingOptions& o) { return one(std::to_string(static_cast<int>(o.receiverTags))); }},
    {"CaptureMode",
     [](SettingContext& line) {
       line.options().captureMode = line.is("bytecode") ? CaptureMode::Bytecode : CaptureMode::Events;
       line.settings.captureModeGiven = true;
       if (line.is("bytecode")) {
         line.echo("capture calls by bytecode rewriting.");
       } else if (!line.is("events")) {
         line.echo("unknown CaptureMode " + line.value +
                   " (events or bytecode): capture calls by events.");
       }
     },
     [](const LoggingOptions& o) { return one(o.captureMode == CaptureMode::Bytecode ? "bytecode" : "events"); }},
    {"RecordCallerLocation",
     [](SettingContext& line) {
       if (line.is("1")) {
         line.options().recordCallerLocation = 1;
         line.echo("record caller instruction bytecode number.");
       } else if (line.is("2")) {
         line.options().recordCallerLocation = 2;
         line.echo("record caller instruction soucecode line number.");
       }
     },
     [](const LoggingOptions& o) { return one(std::to_string(o.recordCallerLocation)); }},
};

}  // namespace

std::vector<std::string> settingKeys() {
  std::vector<std::string> keys;
  for (const SettingKey& entry : kSettingKeys) keys.emplace_back(entry.key);
  return keys;
}

std::vector<RunManifest::Setting> settingsInForce(const LoggingOptions& options) {
  std::vector<RunManifest::Setting> settings;
  for (const SettingKey& entry : kSettingKeys) {
    settings.push_back(entry.inForce(options));
    settings.back().key = entry.key;
  }
  return settings;
}

void applySetting(Settings& settings, const std::string& startTimeStamp, const std::string& key,
                  const std::string& value) {
  for (const SettingKey& entry : kSettingKeys) {
    if (key != entry.key) continue;
    SettingContext line{settings, startTimeStamp, value};
    entry.apply(line);
    return;
  }
}

}  // namespace kolvaprof
