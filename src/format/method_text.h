#pragma once

#include <string_view>

namespace kolvaprof {

// The names of one method as the records spell them: Java type names, the
// dotted package ("" for the default package) and the parameter types joined
// by "," without blanks.
struct MethodText {
  std::string_view returnType;
  std::string_view packageName;
  std::string_view className;
  std::string_view methodName;
  std::string_view parameterList;
};

}  // namespace kolvaprof
