#include "registry/method_filters.h"

#include <algorithm>

namespace kolvaprof {
namespace {

template <typename Pattern>
std::vector<Pattern> compile(const std::vector<std::string>& texts) {
  return std::vector<Pattern>(texts.begin(), texts.end());
}

template <typename Patterns, typename... Names>
bool anyMatches(const Patterns& patterns, const Names&... names) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const auto& pattern) { return pattern.matches(names...); });
}

}  // namespace

MethodFilters::MethodFilters(const std::vector<std::string>& packageFilters,
                             const std::vector<std::string>& classFilters,
                             const std::vector<std::string>& methodFilters, bool leaveOutMatches,
                             const std::vector<std::string>& startMethods)
    : packages(compile<PackagePattern>(packageFilters)),
      classes(compile<ClassPattern>(classFilters)),
      methods(compile<MethodPattern>(methodFilters)),
      leaveOutMatches(leaveOutMatches),
      starts(compile<MethodPattern>(startMethods)) {}

bool MethodFilters::isExcluded(const std::string& packageName, const std::string& className,
                               const std::string& methodName) const {
  const bool packageMatch = anyMatches(packages, packageName);
  if (leaveOutMatches && packageMatch) return true;
  const bool classMatch = anyMatches(classes, packageName, className);
  if (leaveOutMatches && classMatch) return true;
  const bool methodMatch = anyMatches(methods, packageName, className, methodName);
  if (leaveOutMatches) return methodMatch;
  return !packageMatch && !classMatch && !methodMatch;
}

bool MethodFilters::isStartMethod(const std::string& packageName, const std::string& className,
                                  const std::string& methodName) const {
  return anyMatches(starts, packageName, className, methodName);
}

bool MethodFilters::excludesWholeClass(const std::string& packageName,
                                       const std::string& className) const {
  // A method pattern can pick any method of a class its class part matches.
  const auto classPartMatches = [&](const std::vector<MethodPattern>& patterns) {
    return std::any_of(patterns.begin(), patterns.end(), [&](const MethodPattern& pattern) {
      return pattern.classPart().matches(packageName, className);
    });
  };
  if (classPartMatches(starts)) return false;
  const bool packageMatch = anyMatches(packages, packageName);
  const bool classMatch = anyMatches(classes, packageName, className);
  if (leaveOutMatches) return packageMatch || classMatch;
  return !packageMatch && !classMatch && !classPartMatches(methods);
}

}  // namespace kolvaprof
