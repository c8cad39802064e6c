#include "registry/patterns.h"

#include "registry/wildcard_match.h"

namespace kolvaprof {
namespace {

// Splits at the last '.'; without one, only `after` is set (to the whole value).
void splitAtLastDot(const std::string& value, std::string& before, std::string& after) {
  const std::size_t dot = value.rfind('.');
  if (dot == std::string::npos) {
    after = value;
    return;
  }
  before = value.substr(0, dot);
  after = value.substr(dot + 1);
}

}  // namespace

PatternLevel::PatternLevel(std::string text)
    : pattern(std::move(text)), hasWildcard(pattern.find('*') != std::string::npos) {}

bool PatternLevel::matches(const std::string& name) const {
  if (!hasWildcard) return pattern == name;
  if (pattern == "*") return true;
  return wildcardMatch(pattern.c_str(), name.c_str());
}

PackagePattern::PackagePattern(const std::string& value) : pattern(value) {}

bool PackagePattern::matches(const std::string& packageName) const {
  return pattern.matches(packageName);
}

ClassPattern::ClassPattern(const std::string& value) : pattern(std::string()) {
  std::string packageText = "*";  // no '.': any package
  std::string classText;
  splitAtLastDot(value, packageText, classText);
  packagePattern = std::make_unique<PackagePattern>(packageText);
  pattern = PatternLevel(classText);
}

bool ClassPattern::matches(const std::string& packageName, const std::string& className) const {
  return packagePattern->matches(packageName) && pattern.matches(className);
}

MethodPattern::MethodPattern(const std::string& value) : pattern(std::string()) {
  std::string classText = "*";  // no '.': any class of any package
  std::string methodText;
  splitAtLastDot(value, classText, methodText);
  classPattern = std::make_unique<ClassPattern>(classText);
  pattern = PatternLevel(methodText);
}

bool MethodPattern::matches(const std::string& packageName, const std::string& className,
                            const std::string& methodName) const {
  return classPattern->matches(packageName, className) && pattern.matches(methodName);
}

}  // namespace kolvaprof
