#pragma once

// The rewriting of one method's Code attribute, used by rewriteClass.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "classfile/class_file.h"
#include "classfile/class_rewriter.h"
#include "classfile/stack_map.h"

namespace kolvaprof::classfile {

enum class Hook { Enter, EnterInit, ChainInit, BindInit, Exit, ExitThrow };

// What the methods of one class share: the pool they add to, the hook
// references (added on first use) and the names made along the way.
class ClassContext {
 public:
  ClassContext(ClassFile& cls, std::string_view className, const HookNames& hooks)
      : cls(cls), className(className), hooks_(hooks) {}

  uint16_t hookRef(Hook hook);

  ClassFile& cls;
  std::string_view className;
  NameArena arena;

 private:
  const HookNames& hooks_;
  uint16_t refs_[6] = {};
};

// Rewrites `code` (a Code attribute of `method`) in place. Returns the reason
// when the method is left as it is; `code` is then untouched. When `moved` is
// given, it receives where each original instruction went.
std::optional<std::string> rewriteMethod(ClassContext& context, const Method& method,
                                         Attribute& code, int32_t number,
                                         MovedCode* moved = nullptr);

}  // namespace kolvaprof::classfile
