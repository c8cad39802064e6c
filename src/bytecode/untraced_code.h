#pragma once

#include <map>
#include <set>
#include <string>

#include <boost/thread/mutex.hpp>

namespace kolvaprof {

// The code the bytecode engine had to leave as it is, which the run then
// does not trace: told once, at the end of the run, in one console line.
class UntracedCode {
 public:
  // True the first time the class, or the method, is noted: a class that is
  // retransformed again counts once. `reason` groups by what precedes its
  // first ": " ("malformed code: ..." counts as "malformed code").
  bool noteClass(const std::string& className, const std::string& reason);
  bool noteMethod(const std::string& className, const std::string& method,
                  const std::string& reason);
  // "left as they are, not traced: 1 class (reason: 1) and 2 methods
  // (reason: 2)", or empty when nothing was left.
  std::string summary(bool named) const;

 private:
  mutable boost::mutex lock;
  std::set<std::string> classes;
  std::set<std::string> methods;
  std::map<std::string, int> classReasons;
  std::map<std::string, int> methodReasons;
};

}  // namespace kolvaprof
