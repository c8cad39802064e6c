#pragma once

// The static hooks rewritten code calls: one table for the rewriter that
// calls them and the agent that defines and binds them.

#include <cstddef>

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
  Count
};

inline constexpr std::size_t kHookCount = static_cast<std::size_t>(Hook::Count);

struct HookSignature {
  const char* name;
  const char* descriptor;
};

HookSignature hookSignature(Hook hook);

}  // namespace kolvaprof::classfile
