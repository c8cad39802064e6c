#pragma once

// Which methods may report their call with one hook at their return.

#include <cstdint>
#include <string_view>
#include <vector>

#include "classfile/bytecode.h"
#include "classfile/constant_pool.h"

namespace kolvaprof::classfile {

// Code that, once entered, runs to a return without running any other Java
// code (no call, no class loaded or initialised, no exception made), and
// without a loop: its entry and exit may both be reported at its return,
// with nothing in between on its thread and no noticeable time passed.
// Straight-line code of constants, locals, stack moves, arithmetic that
// cannot throw, and the fields of `this` named through its own class.
bool isLeafCode(const uint8_t* code, const std::vector<Instruction>& instructions,
                const ConstantPool& pool, std::string_view className, bool isStatic);

}  // namespace kolvaprof::classfile
