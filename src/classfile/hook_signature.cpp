#include "classfile/hook_signature.h"

namespace kolvaprof::classfile {
namespace {

constexpr HookSignature kSignatures[] = {
    {"enter", "(ILjava/lang/Object;)V"},
    {"enterInit", "(I)V"},
    {"chainInit", "()V"},
    {"bindInit", "(Ljava/lang/Object;)V"},
    {"exit", "(I)V"},
    {"exitThrow", "(Ljava/lang/Throwable;I)V"},
    {"receiverNumber", "(Ljava/lang/Object;)J"},
    {"enterNumbered", "(IJ)V"},
};
static_assert(sizeof kSignatures / sizeof kSignatures[0] == kHookCount);

}  // namespace

HookSignature hookSignature(Hook hook) { return kSignatures[static_cast<std::size_t>(hook)]; }

}  // namespace kolvaprof::classfile
