// Method descriptors of arbitrary bytes: the decoder must terminate and give
// what a second, independently written reading of the decoding rules gives.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry/signature_decoder.h"

namespace {

// One character at a time, with an explicit state instead of the decoder's
// nested scans: 'L' starts a class name that runs to the next ';' (or to the
// end); ')' ends the parameters only outside a class name.
kolvaprof::DecodedSignature reference(const std::string& s) {
  static const std::string codes = "BCDFIJSZ";
  static const char* const names[] = {"byte", "char", "double", "float", "int", "long", "short", "boolean"};
  kolvaprof::DecodedSignature out;
  bool inReturn = false;
  bool array = false;
  bool inName = false;
  std::string name;
  const auto take = [&](std::string type) {
    if (array) type += "[]";
    array = false;
    if (inReturn)
      out.returnType = type;
    else
      out.parameterTypes.push_back(type);
  };
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (inName) {
      if (c == ';') {
        inName = false;
        take(name);
      } else {
        name += c == '/' ? '.' : c;
      }
    } else if (c == ')' && !inReturn) {
      inReturn = true;
    } else if (c == '[') {
      array = true;
    } else if (c == 'L') {
      inName = true;
      name.clear();
    } else if (codes.find(c) != std::string::npos) {
      take(names[codes.find(c)]);
    } else if (c == 'V' && inReturn) {
      // Arrays of void do not exist: "void" never takes "[]", nor the mark.
      out.returnType = "void";
    }
  }
  if (inName) take(name);  // no ';': the rest is the name
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // The VM hands descriptors over as C strings.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string descriptor(bytes.c_str());
  const kolvaprof::DecodedSignature decoded = kolvaprof::decodeMethodSignature(descriptor);
  const kolvaprof::DecodedSignature expected = reference(descriptor);
  if (decoded.parameterTypes != expected.parameterTypes || decoded.returnType != expected.returnType) {
    std::fprintf(stderr,
                 "descriptor decoded unlike the rules: %zu parameters, return '%s' (expected %zu, '%s')\n",
                 decoded.parameterTypes.size(), decoded.returnType.c_str(), expected.parameterTypes.size(),
                 expected.returnType.c_str());
    std::abort();
  }
  for (const std::string& type : decoded.parameterTypes) {
    if (type.find('/') != std::string::npos) std::abort();
  }
  return 0;
}
