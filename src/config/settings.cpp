#include "config/settings.h"

#include <sys/stat.h>

#include <fstream>
#include <iostream>

#include "core/console.h"
#include "core/logging_agent.h"
#include "output/index_file.h"
#include "output/log_file.h"
#include "registry/patterns.h"

namespace kolvaprof {
namespace {

constexpr const char* kWhitespace = " \t\n\v\f\r";

void echo(const std::string& text) { printMessage(&std::cout, text); }

template <typename Pattern>
const Pattern* storePattern(std::vector<std::unique_ptr<Pattern>>& store, const std::string& value) {
  store.push_back(std::make_unique<Pattern>(value));
  return store.back().get();
}

}  // namespace

std::string trimWhitespace(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kWhitespace);
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(kWhitespace);
  return text.substr(first, last - first + 1);
}

void CLoggingAgent::loadSettings(const std::string& optionString) {
  const std::string path = optionString.empty() ? std::string(kSettingsFileName) : optionString;
  std::ifstream file(path);
  if (!file.is_open()) return;
  std::string line;
  while (std::getline(file, line)) {
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
    applySetting(key, value);
  }
}

void CLoggingAgent::applySetting(const std::string& key, const std::string& value) {
  PatternStores& stores = PatternStores::instance();
  if (key == "LogfileDirectory") {
    std::string directory = value;
    if (directory.back() != '/') directory.push_back('/');
    settings.logDirectory = directory + startTime + "/";
    logDirectorySet = true;
    echo("output logfile in " + settings.logDirectory);
    ::mkdir(settings.logDirectory.substr(0, settings.logDirectory.size() - 1).c_str(), 0755);
  } else if (key == "GetFilteredMethod") {
    settings.getFilteredMethod = value == "1";
  } else if (key == "StartMethod") {
    settings.startMethods.push_back(std::make_unique<MethodPattern>(value));
    echo("logging start from method call of " + value);
  } else if (key == "ClassFilter") {
    settings.classFilters.push_back(storePattern(stores.classPatternStore, value));
    echo("filtering class " + value);
  } else if (key == "PackageFilter") {
    settings.packageFilters.push_back(storePattern(stores.packagePatternStore, value));
    echo("filtering package " + value);
  } else if (key == "MethodFilter") {
    settings.methodFilters.push_back(storePattern(stores.methodPatternStore, value));
    echo("filtering method " + value);
  } else if (key == "SeparateLogfilePerThread") {
    if (value == "0") {
      settings.separateLogfilePerThread = false;
      sharedLog = std::make_unique<LogFile>(settings.logDirectory, startTime, kLogExtension,
                                            defaultLogDirectory());
    } else {
      settings.separateLogfilePerThread = true;
      echo("separate logfile per thread.");
    }
  } else if (key == "CompressLogfile") {
    if (value == "1") {
      settings.compressLogfile = true;
      index = std::make_unique<IndexFile>(settings.logDirectory, defaultLogDirectory());
      echo("compress log file");
      echo("index file = " + settings.logDirectory + IndexFile::fileName());
    }
  } else if (key == "RecordThreadID") {
    if (value == "1") {
      settings.recordThreadId = true;
      echo("record thread ID.");
    } else if (value == "0") {
      settings.recordThreadId = false;
    }
  } else if (key == "RecordMethodCallCount") {
    settings.recordMethodCallCount = value == "1";
    if (settings.recordMethodCallCount) echo("record method call count.");
  } else if (key == "FilterMode") {
    if (value == "1") {
      settings.ignoreFilteredMethods = false;
      echo("recorde only filtered methods.");
    } else if (value == "0") {
      settings.ignoreFilteredMethods = true;
      echo("ignore filtered methods.");
    }
  } else if (key == "IgnoreBuiltInClass") {
    settings.ignoreBuiltInClass = value == "1";
  } else if (key == "Verbose") {
    settings.verbose = value == "1";
  } else if (key == "ReceiverTags") {
    if (value == "0") {
      settings.receiverTags = ReceiverTagMode::Never;
      echo("record no receiver tags.");
    } else if (value == "1") {
      settings.receiverTags = ReceiverTagMode::BeforeGates;
    } else if (value == "2") {
      settings.receiverTags = ReceiverTagMode::LoggedOnly;
      echo("record receiver tags of logged calls only.");
    }
  } else if (key == "RecordCallerLocation") {
    if (value == "1") {
      settings.recordCallerLocation = 1;
      echo("record caller instruction bytecode number.");
    } else if (value == "2") {
      settings.recordCallerLocation = 2;
      echo("record caller instruction soucecode line number.");
    }
  }
}

}  // namespace kolvaprof
