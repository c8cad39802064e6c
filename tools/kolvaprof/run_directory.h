#pragma once

// Where a run's trace went. The agent names a run's directory after its start
// time, <LogfileDirectory>/<yyyyMMddHHmmss>[-N]/, and makes it only when the
// run logs something, so the run is the newest such directory that was not
// there before.

#include <optional>
#include <set>
#include <string>

namespace kolvaprof::command {

// Whether `name` is a run directory's name: 14 digits, maybe -N.
bool isRunDirectoryName(const std::string& name);

// Whether run directory name a is older than b (-10 after -9).
bool runDirectoryBefore(const std::string& a, const std::string& b);

class RunDirectoryWatch {
 public:
  RunDirectoryWatch() = default;
  // Notes the run directories that `base` holds now.
  explicit RunDirectoryWatch(std::string base);
  RunDirectoryWatch(std::string base, std::set<std::string> before)
      : base_(std::move(base)), before_(std::move(before)) {}

  // The newest run directory made since, as base/name/.
  std::optional<std::string> newest() const;

  const std::string& base() const { return base_; }
  const std::set<std::string>& before() const { return before_; }

 private:
  std::string base_;
  std::set<std::string> before_;
};

}  // namespace kolvaprof::command
