#include "kolvaprof/run_directory.h"

#include <filesystem>
#include <string_view>
#include <tuple>

namespace fs = std::filesystem;

namespace kolvaprof::command {

namespace {

bool allDigits(std::string_view text) {
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return !text.empty();
}

std::set<std::string> runDirectories(const std::string& base) {
  std::set<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error))
    if (isRunDirectoryName(it->path().filename().string()) && it->is_directory(error))
      names.insert(it->path().filename().string());
  return names;
}

std::tuple<std::string, unsigned long> sortKey(const std::string& name) {
  if (name.size() == 14) return {name, 1};
  return {name.substr(0, 14), std::stoul(name.substr(15))};
}

}  // namespace

bool isRunDirectoryName(const std::string& name) {
  std::string_view text(name);
  if (text.size() < 14 || !allDigits(text.substr(0, 14))) return false;
  if (text.size() == 14) return true;
  return text[14] == '-' && text.size() <= 24 && allDigits(text.substr(15));
}

bool runDirectoryBefore(const std::string& a, const std::string& b) {
  return sortKey(a) < sortKey(b);
}

RunDirectoryWatch::RunDirectoryWatch(std::string base)
    : base_(std::move(base)), before_(runDirectories(base_)) {}

std::optional<std::string> RunDirectoryWatch::newest() const {
  std::optional<std::string> found;
  for (const std::string& name : runDirectories(base_))
    if (before_.count(name) == 0 && (!found || runDirectoryBefore(*found, name))) found = name;
  if (!found) return std::nullopt;
  return (fs::path(base_) / *found).lexically_normal().string() + "/";
}

}  // namespace kolvaprof::command
