#include "bytecode/untraced_code.h"

#include <boost/thread/lock_guard.hpp>

namespace kolvaprof {
namespace {

std::string kindOf(const std::string& reason) { return reason.substr(0, reason.find(": ")); }

std::string counted(std::size_t count, const char* one, const char* many,
                    const std::map<std::string, int>& reasons) {
  std::string text = std::to_string(count) + " " + (count == 1 ? one : many) + " (";
  bool first = true;
  for (const auto& [reason, n] : reasons) {
    text += (first ? "" : ", ") + reason + ": " + std::to_string(n);
    first = false;
  }
  return text + ")";
}

}  // namespace

bool UntracedCode::noteClass(const std::string& className, const std::string& reason) {
  boost::lock_guard<boost::mutex> guard(lock);
  if (!classes.insert(className).second) return false;
  ++classReasons[kindOf(reason)];
  return true;
}

bool UntracedCode::noteMethod(const std::string& className, const std::string& method,
                              const std::string& reason) {
  boost::lock_guard<boost::mutex> guard(lock);
  if (!methods.insert(className + "." + method).second) return false;
  ++methodReasons[kindOf(reason)];
  return true;
}

std::string UntracedCode::summary(bool named) const {
  boost::lock_guard<boost::mutex> guard(lock);
  if (classes.empty() && methods.empty()) return std::string();
  std::string text = "left as they are, not traced: ";
  if (!classes.empty()) text += counted(classes.size(), "class", "classes", classReasons);
  if (!classes.empty() && !methods.empty()) text += " and ";
  if (!methods.empty()) text += counted(methods.size(), "method", "methods", methodReasons);
  return text + (named ? "" : " (Verbose=1 names them)");
}

}  // namespace kolvaprof
