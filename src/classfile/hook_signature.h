#pragma once

// The static hooks rewritten code calls: one table for the rewriter that
// calls them and the agent that defines and binds them.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kolvaprof::classfile {

enum class Hook {
  Enter,
  EnterInit,
  ChainInit,
  BindInit,
  Exit,
  ExitThrow,
  ReceiverNumber,
  EnterNumbered,
  Caught,
  Leaf,
  LeafNumbered,
  Count
};

inline constexpr std::size_t kHookCount = static_cast<std::size_t>(Hook::Count);

struct HookSignature {
  const char* name;
  const char* descriptor;
};

HookSignature hookSignature(Hook hook);

// What chainInit passes and what the constructor it runs for is known by: a
// hash of the constructor's class (internal name) and descriptor. A
// constructor entered while another waits on its super(...) or this(...) call
// continues that object only when the keys agree; otherwise it is an object
// made inside a constructor that has no hooks.
int32_t constructorKey(std::string_view className, std::string_view descriptor);

// A method (or a constructor's class) and its descriptor, hashed: what the
// keys above and the bytecode engine's kept method numbers are found by.
uint64_t nameAndDescriptorHash(std::string_view name, std::string_view descriptor);

}  // namespace kolvaprof::classfile
