#pragma once

// Instruction boundaries and branch operands of a method's code.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kolvaprof::classfile {

namespace op {
inline constexpr uint8_t kNop = 0x00, kAconstNull = 0x01, kIconstM1 = 0x02, kIconst0 = 0x03,
                         kBipush = 0x10, kSipush = 0x11, kLdc = 0x12, kLdcW = 0x13,
                         kAload0 = 0x2a, kDup = 0x59, kIfeq = 0x99, kIfAcmpeq = 0xa5, kIfAcmpne = 0xa6,
                         kGoto = 0xa7, kJsr = 0xa8, kRet = 0xa9, kTableswitch = 0xaa,
                         kLookupswitch = 0xab, kIreturn = 0xac, kReturn = 0xb1,
                         kGetfield = 0xb4, kPutfield = 0xb5, kInvokespecial = 0xb7, kInvokestatic = 0xb8, kNew = 0xbb,
                         kAthrow = 0xbf, kWide = 0xc4, kIfnull = 0xc6, kIfnonnull = 0xc7,
                         kGotoW = 0xc8, kJsrW = 0xc9;
}  // namespace op

struct Instruction {
  uint32_t offset = 0;
  uint32_t length = 0;
  uint8_t opcode = 0;
};

// Throws FormatError on an unknown opcode or an instruction cut by the end.
std::vector<Instruction> decodeInstructions(const uint8_t* code, std::size_t length);

inline bool isReturn(uint8_t opcode) { return opcode >= op::kIreturn && opcode <= op::kReturn; }
// if<cond>, if_icmp<cond>, if_acmp<cond>, ifnull, ifnonnull: 16-bit offsets.
inline bool isConditionalBranch(uint8_t opcode) {
  return (opcode >= op::kIfeq && opcode <= op::kIfAcmpne) || opcode == op::kIfnull ||
         opcode == op::kIfnonnull;
}
// The branch that jumps exactly when `opcode` does not.
inline uint8_t invertedBranch(uint8_t opcode) {
  if (opcode == op::kIfnull) return op::kIfnonnull;
  if (opcode == op::kIfnonnull) return op::kIfnull;
  return static_cast<uint8_t>(((opcode - op::kIfeq) ^ 1) + op::kIfeq);
}
// Control never reaches the next instruction.
inline bool endsFlow(uint8_t opcode) {
  return opcode == op::kGoto || opcode == op::kGotoW || opcode == op::kTableswitch ||
         opcode == op::kLookupswitch || opcode == op::kAthrow || isReturn(opcode) ||
         opcode == op::kRet;
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

}  // namespace kolvaprof::classfile
