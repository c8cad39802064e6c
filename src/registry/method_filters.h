#pragma once

#include <memory>
#include <string>
#include <vector>

#include "registry/patterns.h"

namespace kolvaprof {

// The filter and start-method decisions of a run, compiled once from the
// patterns as written. A value: the registry owns the one in force.
class MethodFilters {
 public:
  MethodFilters() = default;
  // `leaveOutMatches`: FilterMode 0, methods that a filter matches are left
  // out; otherwise only they are logged.
  MethodFilters(const std::vector<std::string>& packageFilters,
                const std::vector<std::string>& classFilters,
                const std::vector<std::string>& methodFilters, bool leaveOutMatches,
                const std::vector<std::string>& startMethods);

  // True when the method is not to be logged.
  bool isExcluded(const std::string& packageName, const std::string& className,
                  const std::string& methodName) const;
  bool isStartMethod(const std::string& packageName, const std::string& className,
                     const std::string& methodName) const;
  // True when, whatever the method's name, isExcluded holds and isStartMethod
  // does not: an engine that rewrites code may leave such a class as it is.
  bool excludesWholeClass(const std::string& packageName, const std::string& className) const;

 private:
  std::vector<PackagePattern> packages;
  std::vector<ClassPattern> classes;
  std::vector<MethodPattern> methods;
  bool leaveOutMatches = true;
  std::vector<MethodPattern> starts;
};

}  // namespace kolvaprof
