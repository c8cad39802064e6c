#pragma once

#include <cstdint>
#include <vector>

#include "classfile/hook_signature.h"

namespace kolvaprof {

// The class whose static native methods rewritten code calls. It is defined
// in the boot loader, so that every class loader that delegates upwards finds
// it, and it is public with public methods, so that every class may call it.
inline constexpr const char* kHooksClassName = "kolvaprof/Hooks";

// The class file of kolvaprof/Hooks: public final, extending Object, with one
// public static native method per hook (classfile::Hook, in that order) and
// nothing else.
std::vector<uint8_t> hooksClassBytes();

}  // namespace kolvaprof
