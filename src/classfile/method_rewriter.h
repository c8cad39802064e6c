#pragma once

// The rewriting of one method's Code attribute, used by rewriteClass.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "classfile/class_file.h"
#include "classfile/class_rewriter.h"
#include "classfile/hook_signature.h"
#include "classfile/stack_map.h"

namespace kolvaprof::classfile {


// What the methods of one class share: the pool they add to, the hook
// references (added on first use) and the names made along the way.
class ClassContext {
 public:
  // `receivers` is Object, Null or NumberFields (the class has them).
  ClassContext(ClassFile& cls, std::string_view className, const HookNames& hooks,
               ReceiverPassing receivers = ReceiverPassing::Object)
      : cls(cls), className(className), receivers(receivers), hooks_(hooks) {}

  uint16_t hookRef(Hook hook);
  // The Fieldrefs of the class's own number fields.
  uint16_t numberFieldRef();
  uint16_t numberedObjectFieldRef();
  // Leaves call one hook at their return (HookNames::leaves).
  bool leaves() const { return hooks_.leaves; }

  ClassFile& cls;
  std::string_view className;
  const ReceiverPassing receivers;
  NameArena arena;

 private:
  const HookNames& hooks_;
  uint16_t refs_[kHookCount] = {};
  uint16_t numberField_ = 0;
  uint16_t numberedObjectField_ = 0;
};

// Rewrites `code` (a Code attribute of `method`) in place. Returns the reason
// when the method is left as it is; `code` is then untouched. When `moved` is
// given, it receives where each original instruction went.
std::optional<std::string> rewriteMethod(ClassContext& context, const Method& method,
                                         Attribute& code, int32_t number,
                                         MovedCode* moved = nullptr);

}  // namespace kolvaprof::classfile
