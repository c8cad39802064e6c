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
};
static_assert(sizeof kSignatures / sizeof kSignatures[0] == kHookCount);

}  // namespace

HookSignature hookSignature(Hook hook) { return kSignatures[static_cast<std::size_t>(hook)]; }

int32_t constructorKey(std::string_view className, std::string_view descriptor) {
  // FNV-1a over "class(descriptor": the two never run together ambiguously,
  // since a class name holds no '('.
  uint32_t hash = 2166136261u;
  auto mix = [&](std::string_view text) {
    for (char c : text) {
      hash ^= static_cast<uint8_t>(c);
      hash *= 16777619u;
    }
  };
  mix(className);
  mix(descriptor);
  return static_cast<int32_t>(hash);
}

}  // namespace kolvaprof::classfile
