// Patterns and names of arbitrary bytes: wildcardMatch must agree with the
// plain recursive definition of '*' (computed with a memo so that long
// inputs stay cheap) and finish in time on patterns full of stars.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry/wildcard_match.h"

namespace {

class Reference {
 public:
  Reference(const std::string& pattern, const std::string& text)
      : p(pattern), t(text), memo((p.size() + 1) * (t.size() + 1), -1) {}

  bool matches(std::size_t i = 0, std::size_t j = 0) {
    signed char& known = memo[i * (t.size() + 1) + j];
    if (known >= 0) return known;
    bool result;
    if (i == p.size())
      result = j == t.size();
    else if (p[i] == '*')
      result = matches(i + 1, j) || (j < t.size() && matches(i, j + 1));
    else
      result = j < t.size() && p[i] == t[j] && matches(i + 1, j + 1);
    known = result;
    return result;
  }

 private:
  const std::string& p;
  const std::string& t;
  std::vector<signed char> memo;
};

}  // namespace

// The input is "pattern\0text"; further NULs end the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 512) return 0;  // keeps the memo (and the recursion) small
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string pattern = input.substr(0, split);
  const std::string text = split == std::string::npos ? "" : std::string(input.c_str() + split + 1);
  if (kolvaprof::wildcardMatch(pattern.c_str(), text.c_str()) != Reference(pattern, text).matches())
    std::abort();
  return 0;
}
