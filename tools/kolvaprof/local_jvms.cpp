#include "kolvaprof/local_jvms.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace kolvaprof::command {

namespace {

// Launcher options whose value is the next word.
const std::set<std::string> kOptionsWithValue = {
    "-cp", "-classpath", "--class-path", "-p", "--module-path", "--upgrade-module-path",
    "--add-modules", "--limit-modules", "--add-reads", "--add-exports", "--add-opens",
    "--patch-module", "--enable-native-access", "--source"};

std::vector<std::string> commandLineOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::vector<std::string> words;
  for (std::string word; std::getline(in, word, '\0');) words.push_back(word);
  return words;
}

bool isNumber(const std::string& text) {
  return !text.empty() && text.size() < 10 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> entries(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(directory.c_str())) {
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
  }
  return names;
}

std::string executableName(int pid) {
  char target[4096];
  ssize_t n = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target - 1);
  if (n <= 0) return "";
  std::string path(target, static_cast<std::size_t>(n));
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

std::string mainClassOf(const std::vector<std::string>& commandLine) {
  for (std::size_t i = 1; i < commandLine.size(); ++i) {
    const std::string& word = commandLine[i];
    if ((word == "-jar" || word == "-m" || word == "--module") && i + 1 < commandLine.size())
      return word == "-jar" ? "-jar " + commandLine[i + 1] : "-m " + commandLine[i + 1];
    if (word.rfind("--module=", 0) == 0) return "-m " + word.substr(9);
    if (kOptionsWithValue.count(word) != 0) {
      ++i;
      continue;
    }
    if (word.empty() || word[0] == '-' || word[0] == '@') continue;
    return word;
  }
  return "?";
}

std::vector<LocalJvm> localJvms() {
  std::set<int> pids;
  const char* tmp = std::getenv("TMPDIR");
  std::set<std::string> temporaryFolders = {"/tmp"};
  if (tmp != nullptr && *tmp != '\0') temporaryFolders.insert(tmp);
  for (const std::string& folder : temporaryFolders)
    for (const std::string& name : entries(folder))
      if (name.rfind("hsperfdata_", 0) == 0)
        for (const std::string& file : entries(folder + "/" + name))
          if (isNumber(file)) pids.insert(std::stoi(file));
  // JVMs started with -XX:-UsePerfData, and those of other pid namespaces.
  for (const std::string& name : entries("/proc"))
    if (isNumber(name) && executableName(std::stoi(name)) == "java") pids.insert(std::stoi(name));

  std::vector<LocalJvm> jvms;
  for (int pid : pids) {
    // hsperfdata files of JVMs that were killed stay behind.
    if (::kill(pid, 0) != 0 && errno == ESRCH) continue;
    std::vector<std::string> commandLine = commandLineOf(pid);
    if (commandLine.empty()) continue;
    jvms.push_back({pid, mainClassOf(commandLine)});
  }
  return jvms;
}

}  // namespace kolvaprof::command
