#pragma once

// The types of locals and operand stack at each instruction, found the way
// the JVM's type-checking verifier finds them: one pass in code order that
// takes the StackMapTable frame at every offset that has one. Code without a
// table (class files before 50.0, or a method without branches) is followed
// by data flow to a fixed point instead, which is all the older verifier has.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "classfile/bytecode.h"
#include "classfile/constant_pool.h"
#include "classfile/stack_map.h"

namespace kolvaprof::classfile {

struct TypeState {
  std::vector<VType> locals;  // max_locals slots
  std::vector<VType> stack;
};

struct ExceptionHandler {
  uint32_t start = 0;
  uint32_t end = 0;
  uint32_t handler = 0;
  uint16_t catchType = 0;
};

struct FlowInput {
  const uint8_t* code = nullptr;
  const std::vector<Instruction>* instructions = nullptr;
  const std::vector<int32_t>* indexAt = nullptr;  // offset -> instruction index, -1 inside one
  const ConstantPool* pool = nullptr;
  std::string_view className;
  const Frame* initial = nullptr;
  uint16_t maxLocals = 0;
  const std::vector<Frame>* frames = nullptr;  // nullptr: no StackMapTable
  const std::vector<ExceptionHandler>* handlers = nullptr;
};

// Called for every instruction that control can reach, in code order, with
// the types before it; initializesThis marks an invokespecial <init> whose
// receiver is uninitializedThis.
using FlowVisitor =
    std::function<void(std::size_t index, const TypeState& before, bool initializesThis)>;

// Throws FormatError when the code does not type (a stack underflow, a frame
// that is not at an instruction, code that no frame describes, ...).
void followTypes(const FlowInput& input, NameArena& arena, const FlowVisitor& visit);

// How many operand slots a conditional branch pops.
inline int branchPops(uint8_t opcode) { return opcodeInfo(opcode).pops; }

}  // namespace kolvaprof::classfile
