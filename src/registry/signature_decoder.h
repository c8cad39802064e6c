#pragma once

#include <string>
#include <vector>

namespace kolvaprof {

struct DecodedSignature {
  std::vector<std::string> parameterTypes;
  std::string returnType;
};

// Turns a JVM method descriptor such as "(I[JLa/b/Name;)V" into Java type
// names. Any run of '[' gives a single "[]"; unknown letters are skipped.
DecodedSignature decodeMethodSignature(const std::string& signature);

}  // namespace kolvaprof
