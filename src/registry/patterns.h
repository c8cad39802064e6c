#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kolvaprof {

// One level of a pattern: literal text, or text with '*' wildcards.
class PatternLevel {
 public:
  explicit PatternLevel(std::string text);
  bool matches(const std::string& name) const;
  const std::string& text() const { return pattern; }
  bool wildcard() const { return hasWildcard; }

 private:
  std::string pattern;
  bool hasWildcard;
};

class PackagePattern {
 public:
  explicit PackagePattern(const std::string& value);
  bool matches(const std::string& packageName) const;
  const PatternLevel& level() const { return pattern; }

 private:
  PatternLevel pattern;
};

// "a.b.Name": package part "a.b", class part "Name"; without a '.', any package.
class ClassPattern {
 public:
  explicit ClassPattern(const std::string& value);
  bool matches(const std::string& packageName, const std::string& className) const;
  const PackagePattern& packagePart() const { return *packagePattern; }
  const PatternLevel& level() const { return pattern; }

 private:
  std::unique_ptr<PackagePattern> packagePattern;
  PatternLevel pattern;
};

// "a.b.Name.run": class part "a.b.Name", method part "run"; without a '.',
// any class of any package.
class MethodPattern {
 public:
  explicit MethodPattern(const std::string& value);
  bool matches(const std::string& packageName, const std::string& className,
               const std::string& methodName) const;
  const ClassPattern& classPart() const { return *classPattern; }
  const PatternLevel& level() const { return pattern; }

 private:
  std::unique_ptr<ClassPattern> classPattern;
  PatternLevel pattern;
};

}  // namespace kolvaprof
