#include "registry/wildcard_match.h"

namespace kolvaprof {

// Greedy matching with one remembered star: on a mismatch, let the last '*'
// swallow one more character and retry from there. Same answers as the plain
// recursive definition, but linear in practice instead of exponential in the
// number of stars.
bool wildcardMatch(const char* pattern, const char* text) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*text != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = text;
    } else if (*pattern != '\0' && *pattern == *text) {
      ++pattern;
      ++text;
    } else if (star != nullptr) {
      pattern = star + 1;
      text = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

}  // namespace kolvaprof
