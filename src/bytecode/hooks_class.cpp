#include "bytecode/hooks_class.h"

#include "classfile/class_builder.h"
#include "classfile/hook_signature.h"

namespace kolvaprof {
namespace {

constexpr uint16_t kPublicFinalSuper = 0x0031;
constexpr uint16_t kPublicStaticNative = 0x0109;
// No method has code, so the oldest version without stack maps will do.
constexpr uint16_t kMajorVersion = 52;

}  // namespace

std::vector<uint8_t> hooksClassBytes() {
  classfile::ClassBuilder hooks(kMajorVersion);
  hooks.declare(kPublicFinalSuper, kHooksClassName, "java/lang/Object");
  for (unsigned i = 0; i < classfile::kHookCount; ++i) {
    const classfile::HookSignature hook = classfile::hookSignature(static_cast<classfile::Hook>(i));
    hooks.addMethod(kPublicStaticNative, hook.name, hook.descriptor);
  }
  return hooks.bytes();
}

}  // namespace kolvaprof
