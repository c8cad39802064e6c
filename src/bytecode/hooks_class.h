#pragma once

#include <cstdint>
#include <vector>

namespace kolvaprof {

// The class whose static native methods rewritten code calls. It is defined
// in the boot loader, so that every class loader that delegates upwards finds
// it, and it is public with public methods, so that every class may call it.
inline constexpr const char* kHooksClassName = "kolvaprof/Hooks";

enum class HookMethod {
  Enter,
  EnterInit,
  ChainInit,
  BindInit,
  Exit,
  ExitThrow,
  ReceiverNumber,
  EnterNumbered,
  Count
};

struct HookSignature {
  const char* name;
  const char* descriptor;
};

// The name and descriptor of each hook, as the class-file rewriter calls it.
HookSignature hookSignature(HookMethod hook);

// The class file of kolvaprof/Hooks: public final, extending Object, with one
// public static native method per hook and nothing else.
std::vector<uint8_t> hooksClassBytes();

}  // namespace kolvaprof
