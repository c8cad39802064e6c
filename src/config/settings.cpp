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

void applySetting(Settings& settings, const std::string& startTimeStamp, const std::string& key,
                  const std::string& value) {
  LoggingOptions& options = settings.options;
  auto echo = [&settings](std::string text, std::string directory = std::string(),
                          std::string suffix = std::string()) {
    settings.echo.push_back(EchoLine{std::move(text), std::move(directory), std::move(suffix)});
  };
  if (key == "LogfileDirectory") {
    std::string directory = value;
    if (directory.back() != '/') directory.push_back('/');
    options.logDirectory = directory + startTimeStamp + "/";
    echo("output logfile in ", options.logDirectory);
    settings.directoriesToMake.push_back(options.logDirectory);
  } else if (key == "GetFilteredMethod") {
    options.getFilteredMethod = value == "1";
  } else if (key == "StartMethod") {
    options.startMethods.push_back(value);
    echo("logging start from method call of " + value);
  } else if (key == "ClassFilter") {
    options.classFilters.push_back(value);
    echo("filtering class " + value);
  } else if (key == "PackageFilter") {
    options.packageFilters.push_back(value);
    echo("filtering package " + value);
  } else if (key == "MethodFilter") {
    options.methodFilters.push_back(value);
    echo("filtering method " + value);
  } else if (key == "SeparateLogfilePerThread") {
    if (value == "0") {
      options.separateLogfilePerThread = false;
      settings.sharedLog = options.logDirectory;
    } else {
      options.separateLogfilePerThread = true;
      echo("separate logfile per thread.");
    }
  } else if (key == "CompressLogfile") {
    if (value == "1") {
      options.compressLogfile = true;
      settings.index = options.logDirectory;
      echo("compress log file");
      echo("index file = ", options.logDirectory, kIndexFileName);
    }
  } else if (key == "RecordThreadID") {
    if (value == "1") {
      options.recordThreadId = true;
      echo("record thread ID.");
    } else if (value == "0") {
      options.recordThreadId = false;
    }
  } else if (key == "RecordMethodCallCount") {
    options.recordMethodCallCount = value == "1";
    if (options.recordMethodCallCount) echo("record method call count.");
  } else if (key == "RecordTime") {
    options.recordTime = value == "1";
    if (options.recordTime) echo("record time in nanoseconds.");
  } else if (key == "FilterMode") {
    if (value == "1") {
      options.ignoreFilteredMethods = false;
      echo("recorde only filtered methods.");
    } else if (value == "0") {
      options.ignoreFilteredMethods = true;
      echo("ignore filtered methods.");
    }
  } else if (key == "IgnoreBuiltInClass") {
    options.ignoreBuiltInClass = value == "1";
  } else if (key == "Verbose") {
    options.verbose = value == "1";
  } else if (key == "ReceiverTags") {
    if (value == "0") {
      options.receiverTags = ReceiverTagMode::Never;
      echo("record no receiver tags.");
    } else if (value == "1") {
      options.receiverTags = ReceiverTagMode::BeforeGates;
    } else if (value == "2") {
      options.receiverTags = ReceiverTagMode::LoggedOnly;
      echo("record receiver tags of logged calls only.");
    }
  } else if (key == "CaptureMode") {
    if (value == "bytecode") {
      options.captureMode = CaptureMode::Bytecode;
      echo("capture calls by bytecode rewriting.");
    } else if (value == "events") {
      options.captureMode = CaptureMode::Events;
    } else {
      options.captureMode = CaptureMode::Events;
      echo("unknown CaptureMode " + value + " (events or bytecode): capture calls by events.");
    }
  } else if (key == "RecordCallerLocation") {
    if (value == "1") {
      options.recordCallerLocation = 1;
      echo("record caller instruction bytecode number.");
    } else if (value == "2") {
      options.recordCallerLocation = 2;
      echo("record caller instruction soucecode line number.");
    }
  }
}

}  // namespace kolvaprof
