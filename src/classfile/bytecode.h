#pragma once

// Instruction boundaries and branch operands of a method's code.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "classfile/opcodes.h"

namespace kolvaprof::classfile {


struct Instruction {
  uint32_t offset = 0;
  uint32_t length = 0;
  uint8_t opcode = 0;
};

// Throws FormatError on an unknown opcode or an instruction cut by the end.
std::vector<Instruction> decodeInstructions(const uint8_t* code, std::size_t length);

inline bool isReturn(uint8_t opcode) { return opcodeInfo(opcode).flow == Flow::Return; }
// if<cond>, if_icmp<cond>, if_acmp<cond>, ifnull, ifnonnull: 16-bit offsets.
inline bool isConditionalBranch(uint8_t opcode) {
  return opcodeInfo(opcode).flow == Flow::Conditional;
}
// The branch that jumps exactly when `opcode` does not.
inline uint8_t invertedBranch(uint8_t opcode) {
  if (opcode == op::kIfnull) return op::kIfnonnull;
  if (opcode == op::kIfnonnull) return op::kIfnull;
  return static_cast<uint8_t>(((opcode - op::kIfeq) ^ 1) + op::kIfeq);
}
// Control never reaches the next instruction.
inline bool endsFlow(uint8_t opcode) {
  const Flow flow = opcodeInfo(opcode).flow;
  return flow != Flow::Next && flow != Flow::Conditional && flow != Flow::Subroutine;
}

// The operands of a tableswitch or lookupswitch at `offset`.
struct Switch {
  uint32_t padding = 0;
  int32_t defaultOffset = 0;
  int32_t low = 0;                // tableswitch only
  std::vector<int32_t> matches;   // lookupswitch only
  std::vector<int32_t> offsets;   // relative to the switch opcode
};
Switch readSwitch(const uint8_t* code, const Instruction& insn);

// Every offset the instruction can jump to (not its fall-through).
std::vector<uint32_t> branchTargets(const uint8_t* code, const Instruction& insn);

// The index of the one of `count` instructions that starts at `offset`, by
// a table of offsets to indexes (-1 inside an instruction); nothing when no
// instruction starts there.
inline std::optional<std::size_t> instructionAt(const std::vector<int32_t>& indexAt, std::size_t count,
                                                uint32_t offset) {
  if (offset >= indexAt.size() || indexAt[offset] < 0) return std::nullopt;
  const auto i = static_cast<std::size_t>(indexAt[offset]);
  if (i >= count) return std::nullopt;
  return i;
}

}  // namespace kolvaprof::classfile
