#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/method_text.h"

namespace kolvaprof {

inline constexpr const char* kIndexFileName = "Index.dat";

// `Thread N="name"` and a line feed, the name escaped (format/name_escape.h).
std::string makeIndexThreadLine(int32_t threadNumber, std::string_view name);
// `Method N=void a.b.C.run(int){` and a line feed.
std::string makeIndexMethodLine(int32_t number, const MethodText& method);

// Why a line of Index.dat could not be used.
enum class IndexLineFault {
  None,
  NotAnIndexLine,   // no "Method N=" or "Thread N=" with N a number up to 2^31-1
  MalformedThread,  // the name is not in quotes
  // The name has an opening quote but no closing one: cut by the end of a
  // partial file, or by a line feed that a run from before names were
  // escaped wrote as it was. Number and name so far are filled in.
  UnterminatedThread,
  MalformedMethod,  // no declaration after "=", or method number 0 (which marks exits)
};

// One line of Index.dat, without its line feed, taken apart (the method as
// views into it).
struct IndexLine {
  enum class Kind { Thread, Method };
  IndexLineFault fault = IndexLineFault::NotAnIndexLine;
  Kind kind = Kind::Method;
  int32_t number = 0;
  std::string threadName;  // Thread lines: unquoted and unescaped
  MethodText method;       // Method lines
};

IndexLine parseIndexLine(std::string_view line);

// A Method line's text after "=": "<return> <package>.<Class>.<name>(<params>){".
// Class and method names hold no dots and parameter types no parentheses, so
// the parameter list is the last "(...)" and the dots before it part the rest.
std::optional<MethodText> parseMethodDeclaration(std::string_view text);

}  // namespace kolvaprof
