#pragma once

// Which ways through a method may report its call with one hook at their
// return.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "classfile/bytecode.h"
#include "classfile/constant_pool.h"
#include "classfile/type_flow.h"

namespace kolvaprof::classfile {

// Leaf code runs to a return without running any other Java code (no call,
// no class loaded or initialised, no exception made) and without a loop, so
// a call that leaves through it may report its entry and exit both at its
// return, with nothing in between on its thread and no noticeable time
// passed. It is made of constants, locals, stack moves, arithmetic that
// cannot throw, the fields of `this` named through its own class, and jumps
// forwards.
//
// A method whose code starts with leaf code (`leaf`, by instruction index)
// reports its entry only where it leaves that code for code that is not:
// before each instruction in `entryBefore`, none of which can be reached
// again once past one. Its returns in `wholeCall`, which only leaf code
// reaches, report the whole call. Those in `copiedReturn` are reached both
// ways (`return c ? x : call()`): leaf code jumps to a copy of them that
// reports the whole call, and they report an exit.
struct DeferredEntry {
  std::vector<bool> leaf;
  std::vector<bool> entryBefore;
  std::vector<bool> wholeCall;
  std::vector<bool> copiedReturn;
};

// Nothing when no return is reached through leaf code from the start, or
// when the code after an entry hook could come back to code before one (a
// loop back to the start, a handler there).
std::optional<DeferredEntry> deferredEntry(const uint8_t* code,
                                           const std::vector<Instruction>& instructions,
                                           const std::vector<int32_t>& indexAt,
                                           const std::vector<ExceptionHandler>& handlers,
                                           const ConstantPool& pool, std::string_view className,
                                           bool isStatic);

}  // namespace kolvaprof::classfile
