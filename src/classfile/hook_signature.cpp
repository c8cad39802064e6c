#include "classfile/hook_signature.h"

namespace kolvaprof::classfile {
namespace {

constexpr HookSignature kSignatures[] = {
    {"enter", "(ILjava/lang/Object;)V"},
    {"enterInit", "(I)V"},
    {"chainInit", "(I)V"},
    {"bindInit", "(Ljava/lang/Object;)V"},
    {"exit", "(I)V"},
    {"exitThrow", "(Ljava/lang/Throwable;I)V"},
    {"receiverNumber", "(Ljava/lang/Object;)J"},
    {"enterNumbered", "(IJ)V"},
    {"caught", "(Ljava/lang/Throwable;I)V"},
    {"leaf", "(ILjava/lang/Object;)V"},
    {"leafNumbered", "(IJ)V"},
};
static_assert(sizeof kSignatures / sizeof kSignatures[0] == kHookCount);

}  // namespace

HookSignature hookSignature(Hook hook) { return kSignatures[static_cast<std::size_t>(hook)]; }

uint64_t nameAndDescriptorHash(std::string_view name, std::string_view descriptor) {
  // FNV-1a, 64 bits, over the two run together: a descriptor starts with
  // '(', which no class or method name holds, so no two pairs run together
  // alike.
  uint64_t hash = 14695981039346656037ull;
  for (std::string_view text : {name, descriptor}) {
    for (char c : text) {
      hash ^= static_cast<uint8_t>(c);
      hash *= 1099511628211ull;
    }
  }
  return hash;
}

int32_t constructorKey(std::string_view className, std::string_view descriptor) {
  return static_cast<int32_t>(nameAndDescriptorHash(className, descriptor));
}

}  // namespace kolvaprof::classfile
