#include "bytecode/hooks_class.h"

#include <cstring>
#include <string>
#include <utility>

#include "classfile/byte_io.h"
#include "classfile/hook_signature.h"

namespace kolvaprof {
namespace {

constexpr uint16_t kPublicFinalSuper = 0x0031;
constexpr uint16_t kPublicStaticNative = 0x0109;
// No method has code, so the oldest version without stack maps will do.
constexpr uint16_t kMajorVersion = 52;

// A CONSTANT_Utf8 entry; every text here is plain ASCII.
void utf8(classfile::ByteWriter& out, const char* text) {
  const std::size_t length = std::strlen(text);
  out.u1(1);
  out.u2(static_cast<uint32_t>(length));
  out.append(reinterpret_cast<const uint8_t*>(text), length);
}

}  // namespace

std::vector<uint8_t> hooksClassBytes() {
  constexpr unsigned kHooks = classfile::kHookCount;
  classfile::ByteWriter out;
  out.u4(0xCAFEBABE);
  out.u2(0);
  out.u2(kMajorVersion);
  // #1 this name, #2 this class, #3 super name, #4 super class, then a name
  // and a descriptor for each hook.
  out.u2(5 + 2 * kHooks);
  utf8(out, kHooksClassName);
  out.u1(7);
  out.u2(1);
  utf8(out, "java/lang/Object");
  out.u1(7);
  out.u2(3);
  for (unsigned i = 0; i < kHooks; ++i) {
    const classfile::HookSignature hook = classfile::hookSignature(static_cast<classfile::Hook>(i));
    utf8(out, hook.name);
    utf8(out, hook.descriptor);
  }
  out.u2(kPublicFinalSuper);
  out.u2(2);
  out.u2(4);
  out.u2(0);  // interfaces
  out.u2(0);  // fields
  out.u2(kHooks);
  for (unsigned i = 0; i < kHooks; ++i) {
    out.u2(kPublicStaticNative);
    out.u2(5 + 2 * i);
    out.u2(6 + 2 * i);
    out.u2(0);  // attributes
  }
  out.u2(0);  // class attributes
  return std::move(out.bytes());
}

}  // namespace kolvaprof
