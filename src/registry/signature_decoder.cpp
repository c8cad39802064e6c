#include "registry/signature_decoder.h"

#include <algorithm>

namespace kolvaprof {
namespace {

const char* primitiveName(char code) {
  switch (code) {
    case 'B': return "byte";
    case 'C': return "char";
    case 'D': return "double";
    case 'F': return "float";
    case 'I': return "int";
    case 'J': return "long";
    case 'S': return "short";
    case 'Z': return "boolean";
    default: return nullptr;
  }
}

// Scans from `position` up to (not including) `end`, handing every type name
// found to `take`. The array mark is one flag shared by both scans: any run of
// '[' yields a single "[]".
template <typename Take>
std::size_t scanTypes(const std::string& signature, std::size_t position, char end,
                      bool& arrayMark, bool voidIsType, Take take) {
  while (position < signature.size() && signature[position] != end) {
    const char code = signature[position];
    if (code == '[') {
      arrayMark = true;
      ++position;
    } else if (const char* name = primitiveName(code)) {
      take(arrayMark ? std::string(name) + "[]" : std::string(name));
      arrayMark = false;
      ++position;
    } else if (code == 'V' && voidIsType) {
      take("void");
      ++position;
    } else if (code == 'L') {
      // A missing ';' cannot come from the VM; take the rest as the name.
      std::size_t close = signature.find(';', position + 1);
      if (close == std::string::npos) close = signature.size();
      std::string name = signature.substr(position + 1, close - position - 1);
      std::replace(name.begin(), name.end(), '/', '.');
      if (arrayMark) name += "[]";
      take(std::move(name));
      arrayMark = false;
      position = close + 1;
    } else {
      ++position;
    }
  }
  return position;
}

}  // namespace

DecodedSignature decodeMethodSignature(const std::string& signature) {
  DecodedSignature decoded;
  bool arrayMark = false;
  std::size_t position = scanTypes(signature, 1, ')', arrayMark, false,
                                   [&](std::string name) {
                                     decoded.parameterTypes.push_back(std::move(name));
                                   });
  scanTypes(signature, position + 1, '\0', arrayMark, true,
            [&](std::string name) { decoded.returnType = std::move(name); });
  return decoded;
}

}  // namespace kolvaprof
