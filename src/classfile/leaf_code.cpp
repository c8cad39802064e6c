#include "classfile/leaf_code.h"

#include "classfile/byte_io.h"

namespace kolvaprof::classfile {
namespace {

// The operand stack in slots (a long or double takes two), each marked
// when it holds `this`: a field of this can neither be null nor need a
// class the method's own does not.
class Slots {
 public:
  bool pop(int count) {
    if (static_cast<int>(slots.size()) < count) return false;
    slots.resize(slots.size() - static_cast<std::size_t>(count));
    return true;
  }
  void push(int count, bool isThis = false) { slots.insert(slots.end(), count, isThis); }
  bool popThis() {
    if (slots.empty() || !slots.back()) return false;
    slots.pop_back();
    return true;
  }
  // dup, dup_x1 ... dup2_x2: the top `count` slots copied `down` slots lower.
  bool duplicate(int count, int down) {
    if (static_cast<int>(slots.size()) < count + down) return false;
    const auto top = slots.end() - count;
    std::vector<bool> copied(top, slots.end());
    slots.insert(top - down, copied.begin(), copied.end());
    return true;
  }
  bool swap() {
    if (slots.size() < 2) return false;
    const bool top = slots.back();
    slots.back() = slots[slots.size() - 2];
    slots[slots.size() - 2] = top;
    return true;
  }

 private:
  std::vector<bool> slots;
};

// Untyped instructions that can neither throw nor reach other code:
// constants, pop, arithmetic but integer division and remainder,
// conversions and comparisons. Their stack effect is in the opcode table.
bool harmlessUntyped(uint8_t opcode) {
  if (opcode <= op::kSipush || opcode == op::kPop || opcode == op::kPop2) return true;
  if (opcode == op::kIdiv || opcode == op::kLdiv || opcode == op::kIrem || opcode == op::kLrem) {
    return false;
  }
  return opcode >= op::kIadd && opcode <= op::kDcmpg;
}

int pushedSlots(Pushes pushes) {
  if (pushes == Pushes::None) return 0;
  return pushes == Pushes::Long || pushes == Pushes::Double ? 2 : 1;
}

int fieldSlots(std::string_view descriptor) {
  return descriptor == "J" || descriptor == "D" ? 2 : 1;
}

// A load of a constant that resolution cannot turn into a call: numbers and
// strings, not classes, method types or handles, nor dynamic constants.
bool plainConstant(const ConstantPool& pool, uint16_t index, Slots& stack) {
  switch (pool.tag(index)) {
    case kInteger:
    case kFloat:
    case kString:
      stack.push(1);
      return true;
    case kLong:
    case kDouble:
      stack.push(2);
      return true;
    default:
      return false;
  }
}

// One instruction's effect on `stack`; false where it is not leaf code.
bool step(const uint8_t* at, uint8_t opcode, const ConstantPool& pool,
          std::string_view className, bool isStatic, Slots& stack) {
  // Local 0 keeps this only while nothing is stored over it.
  const auto store = [&](int slots, int local) { return (isStatic || local != 0) && stack.pop(slots); };
  const OpcodeInfo& info = opcodeInfo(opcode);
  if (!info.typed && harmlessUntyped(opcode)) {
    if (!stack.pop(info.pops)) return false;
    stack.push(pushedSlots(info.pushes));
    return true;
  }
  if (opcode == op::kLdc) return plainConstant(pool, at[1], stack);
  if (opcode == op::kLdcW || opcode == op::kLdc2W) return plainConstant(pool, readU2(at + 1), stack);
  if (opcode >= op::kIload && opcode <= op::kAload) {
    const bool wide = opcode == op::kLload || opcode == op::kDload;
    stack.push(wide ? 2 : 1, opcode == op::kAload && at[1] == 0 && !isStatic);
    return true;
  }
  if (opcode >= op::kIload0 && opcode <= op::kAload3) {
    const int kind = (opcode - op::kIload0) / 4;  // i l f d a
    stack.push(kind == 1 || kind == 3 ? 2 : 1, opcode == op::kAload0 && !isStatic);
    return true;
  }
  if (opcode >= op::kIstore && opcode <= op::kAstore) {
    return store(opcode == op::kLstore || opcode == op::kDstore ? 2 : 1, at[1]);
  }
  if (opcode >= op::kIstore0 && opcode <= op::kAstore3) {
    const int kind = (opcode - op::kIstore0) / 4;
    return store(kind == 1 || kind == 3 ? 2 : 1, (opcode - op::kIstore0) % 4);
  }
  switch (opcode) {
    case op::kDup: return stack.duplicate(1, 0);
    case op::kDupX1: return stack.duplicate(1, 1);
    case op::kDupX2: return stack.duplicate(1, 2);
    case op::kDup2: return stack.duplicate(2, 0);
    case op::kDup2X1: return stack.duplicate(2, 1);
    case op::kDup2X2: return stack.duplicate(2, 2);
    case op::kSwap: return stack.swap();
    default: break;
  }
  if (opcode == op::kGetfield || opcode == op::kPutfield) {
    const ConstantPool::MemberRef field = pool.memberRef(readU2(at + 1));
    if (isStatic || field.owner != className) return false;
    const int slots = fieldSlots(field.descriptor);
    if (opcode == op::kGetfield) {
      if (!stack.popThis()) return false;
      stack.push(slots);
      return true;
    }
    return stack.pop(slots) && stack.popThis();
  }
  return isReturn(opcode);
}

}  // namespace

bool isLeafCode(const uint8_t* code, const std::vector<Instruction>& instructions,
                const ConstantPool& pool, std::string_view className, bool isStatic) {
  Slots stack;
  for (const Instruction& insn : instructions) {
    const uint8_t* at = code + insn.offset;
    // Straight-line code ends at its first return; whatever follows could
    // only be reached by a jump, and there is none.
    if (!step(at, insn.opcode, pool, className, isStatic, stack)) return false;
    if (isReturn(insn.opcode)) return true;
  }
  return false;
}

}  // namespace kolvaprof::classfile
